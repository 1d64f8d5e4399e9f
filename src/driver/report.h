#pragma once
// The program's observer: turns what the container and the block codecs
// report into the -v lines on standard output and the dump sections of the
// dump files named on the command line (driver/options.h).

#include "container/container.h"

class ProgramReport : public ContainerObserver {
public:
    // Reads the option variables once; they must not change while it is used.
    ProgramReport();

    // True when the run asked for any line or dump at all; otherwise the
    // container can run without an observer.
    bool active() const { return active_; }

    void blockStarted(unsigned number, unsigned size) override;
    void stageStarted(BlockStage stage) override;
    void blockInput(const char* data, unsigned size) override;
    bool wantsSuffixArray() const override;
    void suffixArraySorted(const char* data, unsigned size, const unsigned* sa) override;
    void primaryIndex(unsigned index) override;
    void bwtDone(const char* data, unsigned size, unsigned primary) override;
    void modelSymbols(unsigned count) override;
    void distanceValues(const unsigned* values, unsigned count) override;
    void distanceValueCount(unsigned count) override;
    void mtfRanks(const char* ranks, unsigned size) override;
    bool wantsZeroRunSymbols() const override;
    void zeroRunStarted(unsigned blockSize) override;
    void zeroRunSymbol(unsigned symbol) override;
    void zeroRunFinished(unsigned symbolCount) override;
    void stageTime(const char* label, long start, long end) override;

private:
    bool verbose_;
    bool compressing_;
    bool active_;
};

// The block settings the option variables choose for compression.
PackSettings packSettingsFromOptions();
