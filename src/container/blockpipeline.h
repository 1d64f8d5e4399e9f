#pragma once
// Runs the blocks of one file through several threads and writes their
// results strictly in block order.
//
// Every worker loops: take the next block (under the lock, so blocks are
// read in order), code it (outside the lock), wait for its turn, put it
// (under the lock, in block order). A worker keeps its job object from one
// block to the next, so buffers are reused. With one thread everything
// runs on the calling thread, in the same order as a plain loop.
//
// The blocks in work are counted in a CoreGate, so that the last block
// uses its extra threads only once the others are done.
//
// Errors: the first failing block in block order decides. Once any block
// has failed no new block is taken and no further block is put; the
// exception of the lowest-numbered failed block is rethrown.

#include "diag/coregate.h"
#include "diag/largearray.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// Number of cores this process may run on (its CPU affinity), at least 1.
unsigned availableCores();

template <class Job, class Take, class Work, class Put>
void runBlocks(unsigned threads, Take&& take, Work&& work, Put&& put)
{
    std::mutex mutex;
    std::condition_variable turn;
    unsigned nextToTake = 0;
    unsigned nextToPut = 0;
    bool stop = false;
    unsigned failedBlock = 0;
    std::exception_ptr failure;
    CoreGate gate;

    // Called with the lock held.
    auto fail = [&](unsigned number, std::exception_ptr error) {
        if (!failure || number < failedBlock) {
            failure = error;
            failedBlock = number;
        }
        stop = true;
        turn.notify_all();
    };

    auto worker = [&]() {
        LargeArrayCache cache;  // the block's big tables reused by the next; outlives the job
        Job job;
        for (;;) {
            unsigned number = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stop) return;
                number = nextToTake;
                try {
                    if (!take(job)) return;
                } catch (...) {
                    fail(number, std::current_exception());
                    return;
                }
                ++nextToTake;
            }
            try {
                CoreGate::InWork inWork(gate);
                work(job);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                fail(number, std::current_exception());
                return;
            }
            std::unique_lock<std::mutex> lock(mutex);
            turn.wait(lock, [&] { return stop || nextToPut == number; });
            if (stop) return;
            try {
                put(job);
            } catch (...) {
                fail(number, std::current_exception());
                return;
            }
            ++nextToPut;
            turn.notify_all();
        }
    };

    std::vector<std::thread> helpers;
    try {
        for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(worker);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started do the work.
    }
    worker();
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
}
