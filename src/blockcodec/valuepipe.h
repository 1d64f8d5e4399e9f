#pragma once
// Hands values from a producer thread to the consuming thread in batches,
// through a bounded ring of buffers, so that two stages of one block can
// overlap.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class ValuePipe {
public:
    static constexpr unsigned batch = 16384;  // values per buffer
    static constexpr unsigned slots = 4;      // buffers in the ring

    // Runs `produce(unsigned* out, unsigned n)`, which must fill `out` with
    // the next n values, on a thread of its own for `total` values.
    template <class Produce>
    ValuePipe(unsigned total, Produce produce) : buffers_(new unsigned[std::size_t(batch) * slots])
    {
        producer_ = std::thread([this, total, produce]() mutable {
            for (unsigned done = 0, slot = 0; done < total; slot = (slot + 1) % slots) {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || filled_[slot] == 0; });
                    if (stop_) return;
                }
                const unsigned n = total - done < batch ? total - done : batch;
                produce(buffers_.get() + std::size_t(slot) * batch, n);
                done += n;
                std::lock_guard<std::mutex> lock(mutex_);
                filled_[slot] = n;
                changed_.notify_all();
            }
        });
    }

    // Stops the producer (at its next batch) and waits for it.
    ~ValuePipe()
    {
        if (!producer_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        producer_.join();
    }

    ValuePipe(const ValuePipe&) = delete;
    ValuePipe& operator=(const ValuePipe&) = delete;

    // Calls `consume(unsigned value)` for each of the next `total` values in
    // order (all of them over the pipe's life, in as many calls as wanted).
    template <class Consume>
    void take(unsigned total, Consume&& consume)
    {
        while (total != 0) {
            if (position_ == available_) {
                release();
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return filled_[slot_] != 0; });
                available_ = filled_[slot_];
                position_ = 0;
            }
            const unsigned* values = buffers_.get() + std::size_t(slot_) * batch;
            const unsigned end = available_ - position_ < total ? available_ : position_ + total;
            for (unsigned i = position_; i < end; ++i) consume(values[i]);
            total -= end - position_;
            position_ = end;
        }
    }

    // Waits until the producer has finished; after it, everything the
    // producer touched may be read on this thread.
    void finish() { producer_.join(); }

private:
    // Gives the current slot back to the producer once it is used up.
    void release()
    {
        if (available_ == 0) return;
        std::lock_guard<std::mutex> lock(mutex_);
        filled_[slot_] = 0;
        slot_ = (slot_ + 1) % slots;
        available_ = 0;
        changed_.notify_all();
    }

    std::unique_ptr<unsigned[]> buffers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned filled_[slots] = {};
    bool stop_ = false;
    unsigned slot_ = 0;       // slot being consumed
    unsigned available_ = 0;  // values in it
    unsigned position_ = 0;   // next value in it
    std::thread producer_;
};
