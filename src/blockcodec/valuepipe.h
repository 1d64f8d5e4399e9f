#pragma once
// Hand-overs between a producer thread and the consuming thread, so that two
// stages of one block can overlap. ValuePipe passes values in batches
// through a bounded ring of buffers (extraction: the arithmetic decoder
// feeds the distance decoder; compression: once the distance transform is
// done, the coder's model runs ahead on a thread of its own and feeds the
// arithmetic coding of the remaining values). ValueFeed lets the consumer
// read an array
// the producer fills front to back (compression: the distance transform
// feeds the arithmetic coder, and the coder's output may only take the
// block bytes the transform is done with).

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

// The producer's thread and what both sides share: one lock, one condition
// for every change, and the flag that tells the producer to give up.
class ProducerThread {
public:
    ProducerThread(const ProducerThread&) = delete;
    ProducerThread& operator=(const ProducerThread&) = delete;

    // Waits until the producer has finished; after it, everything the
    // producer touched may be read on this thread. Later calls do nothing.
    void finish()
    {
        if (producer_.joinable()) producer_.join();
    }

protected:
    ProducerThread() = default;
    ~ProducerThread() { stopAndJoin(); }

    // std::system_error propagates when no thread can be had.
    template <class Body>
    void launch(Body&& body)
    {
        producer_ = std::thread(std::forward<Body>(body));
    }

    // Tells the producer to stop (it looks at its next hand-over) and waits
    // for it. Derived classes call it first in their destructors, before
    // the memory the producer works on goes.
    void stopAndJoin()
    {
        if (!producer_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        producer_.join();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;

private:
    std::thread producer_;
};

// T: a plain value type.
template <class T>
class BasicValuePipe : public ProducerThread {
public:
    static constexpr unsigned batch = 16384;  // values per buffer
    static constexpr unsigned slots = 4;      // buffers in the ring

    // Runs `produce(T* out, unsigned n)`, which must fill `out` with the
    // next n values and must not throw, on a thread of its own for `total`
    // values.
    template <class Produce>
    BasicValuePipe(unsigned total, Produce produce) : buffers_(new T[std::size_t(batch) * slots])
    {
        launch([this, total, produce]() mutable {
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
    ~BasicValuePipe() { stopAndJoin(); }

    // Calls `consume(T value)` for each of the next `total` values in order
    // (all of them over the pipe's life, in as many calls as wanted).
    template <class Consume>
    void take(unsigned total, Consume&& consume)
    {
        takeRuns(total, [&consume](const T* values, unsigned n) {
            for (unsigned i = 0; i < n; ++i) consume(values[i]);
        });
    }

    // take() a stretch at a time: `consume(const T* values, unsigned n)`
    // gets them in order, n at most one batch.
    template <class Consume>
    void takeRuns(unsigned total, Consume&& consume)
    {
        while (total != 0) {
            if (position_ == available_) {
                release();
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return filled_[slot_] != 0; });
                available_ = filled_[slot_];
                position_ = 0;
            }
            const T* values = buffers_.get() + std::size_t(slot_) * batch;
            const unsigned end = available_ - position_ < total ? available_ : position_ + total;
            consume(values + position_, end - position_);
            total -= end - position_;
            position_ = end;
        }
    }

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

    std::unique_ptr<T[]> buffers_;
    unsigned filled_[slots] = {};
    unsigned slot_ = 0;       // slot being consumed
    unsigned available_ = 0;  // values in it
    unsigned position_ = 0;   // next value in it
};

using ValuePipe = BasicValuePipe<unsigned>;

// The producer writes values into an array both sides know, in any order,
// and now and then declares a prefix final; the consumer reads that prefix.
// It also declares how much of its input it is done with, so the consumer
// may write its output over it. The producer never waits for the consumer,
// so a consumer waiting on either count always gets an answer.
class ValueFeed : public ProducerThread {
public:
    // What the producer has declared.
    struct Progress {
        unsigned ready = 0;         // values [0, ready) are final
        std::size_t released = 0;   // input bytes [0, released) are not read any more
        bool last = false;          // nothing more will come
    };

    // Runs `produce(ValueFeed&)` on a thread of its own; it calls publish()
    // as it goes, the last time with `last` set, and must not throw.
    template <class Produce>
    explicit ValueFeed(Produce produce)
    {
        launch([this, produce]() mutable { produce(*this); });
    }

    // Stops the producer (at its next publish()) and waits for it.
    ~ValueFeed() { stopAndJoin(); }

    // Producer side: the writes before the call are visible to the
    // consumer once it sees the new progress. Neither count may go down.
    // Returns false when the consumer has given up: the producer returns.
    bool publish(const Progress& progress)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        progress_ = progress;
        changed_.notify_all();
        return !stop_;
    }

    // Consumer side: waits until more than `have` values are final or the
    // producer is done.
    Progress awaitValues(unsigned have)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return progress_.ready > have || progress_.last; });
        return progress_;
    }

    // Consumer side: waits until the first `bytes` input bytes are released
    // (at the latest when the producer is done).
    void awaitReleased(std::size_t bytes)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return progress_.released >= bytes || progress_.last; });
    }

private:
    Progress progress_;
};
