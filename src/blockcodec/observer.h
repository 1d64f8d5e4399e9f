#pragma once
// What a block codec tells an observer while it works: stage starts, the
// primary index, the data after each stage and stage timings. The codec
// only reports; the observer decides what to print or dump. With no
// observer a codec does no diagnostic work at all.

// Stages of a block codec, in the order they run.
enum class BlockStage {
    bwt,               // forward transform
    distanceCoding,    // distance coding of the transformed block
    statistics,        // the static coder's counting pass
    coding,            // arithmetic coding
    decodingDistances, // arithmetic decoding with inverse distance coding
    decoding,          // arithmetic decoding with inverse move-to-front
    inverseBwt,        // inverse transform
};

class BlockObserver {
public:
    virtual ~BlockObserver() = default;

    // A stage begins.
    virtual void stageStarted(BlockStage) {}
    // The raw block, before any transform (compression only).
    virtual void blockInput(const char* /*data*/, unsigned /*size*/) {}
    // Asked once per block: whether suffixArraySorted() is wanted. The
    // codec then sorts through the path that keeps the suffix array.
    virtual bool wantsSuffixArray() const { return false; }
    // The block and its suffix array (entry r: start of the suffix of rank r).
    virtual void suffixArraySorted(const char* /*data*/, unsigned /*size*/, const unsigned* /*sa*/) {}
    // The primary index, as computed or as read from the payload.
    virtual void primaryIndex(unsigned) {}
    // The block after the forward transform.
    virtual void bwtDone(const char* /*data*/, unsigned /*size*/, unsigned /*primary*/) {}
    // Number of symbols of the arithmetic coder's model.
    virtual void modelSymbols(unsigned) {}
    // The distance coder's output values (compression).
    virtual void distanceValues(const unsigned* /*values*/, unsigned /*count*/) {}
    // The number of distance values a payload announces (extraction).
    virtual void distanceValueCount(unsigned) {}
    // The move-to-front ranks of the block, one per byte (compression).
    virtual void mtfRanks(const char* /*ranks*/, unsigned /*size*/) {}
    // Asked once per block: whether the zero-run symbols are wanted.
    virtual bool wantsZeroRunSymbols() const { return false; }
    // Zero-run coding of a block of `blockSize` ranks begins, emits one
    // symbol per call (0 and 1 are run digits, s >= 2 is rank s - 1), ends.
    virtual void zeroRunStarted(unsigned /*blockSize*/) {}
    virtual void zeroRunSymbol(unsigned) {}
    virtual void zeroRunFinished(unsigned /*symbolCount*/) {}
    // Processor time of a stage in clockMillis() readings; `label` names
    // the stage as the verbose report prints it.
    virtual void stageTime(const char* /*label*/, long /*start*/, long /*end*/) {}
};
