#pragma once
// Whether a block's extra threads have cores to themselves.
//
// The last block of a file is given every thread, because the other
// threads run out of blocks to take; but the blocks they took last may
// still be in work when it starts. Extra threads would then share cores
// with them, and a pair of threads that keep waiting on each other loses
// most when one of them has no core (two blocks of 10 MiB at two threads
// took 17% longer so). The block loop counts the blocks in work in a gate;
// the stages that share a block between threads ask the gate of the thread
// they run on, and use their extra threads only while it is open, which it
// is once the block is the only one left in work.

#include <atomic>

class CoreGate {
public:
    CoreGate() = default;
    CoreGate(const CoreGate&) = delete;
    CoreGate& operator=(const CoreGate&) = delete;

    // Open while at most one block is in work.
    bool open() const { return inWork_.load(std::memory_order_relaxed) <= 1; }

    // The gate of the innermost InWork on this thread, or null.
    static const CoreGate* current();
    // Whether `gate` is open; no gate is always open.
    static bool isOpen(const CoreGate* gate) { return gate == nullptr || gate->open(); }
    // Whether this thread's gate is open.
    static bool openHere() { return isOpen(current()); }

    // Counts one block in work, and makes the gate this thread's, while it
    // lives. Nests.
    class InWork {
    public:
        explicit InWork(CoreGate& gate);
        ~InWork();
        InWork(const InWork&) = delete;
        InWork& operator=(const InWork&) = delete;

    private:
        CoreGate& gate_;
        const CoreGate* outer_;
    };

private:
    std::atomic<unsigned> inWork_{0};
};
