// Runs numbered jobs on several threads and hands their results to the
// calling thread in the order of their numbers, so that output made from them
// reads as if the jobs had run one after another.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// job(i) runs on a worker thread for each i in [0, count); deliver(result) runs
// on the calling thread, for i = 0, 1, 2 ... Workers run at most `window` jobs
// ahead of the last result delivered, which bounds the results held at once.
// One thread (or one job) runs everything on the calling thread.
template <class Result, class Job, class Deliver>
void RunInOrder(size_t count, unsigned threads, Job job, Deliver deliver, size_t window = 256) {
    threads = static_cast<unsigned>(std::min<size_t>(threads, count));
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i) {
            Result result = job(i);
            deliver(result);
        }
        return;
    }
    window = std::max<size_t>(window, threads);
    std::mutex mutex;
    std::condition_variable ready;  // the next result to hand over arrived
    std::condition_variable room;   // a result was handed over
    std::deque<std::optional<Result>> pending;  // one per job started and not handed over
    size_t next = 0;                             // the next job to start
    size_t delivered = 0;                        // results handed over so far
    // Takes the next job under the lock, runs it without, stores the result.
    auto runOne = [&](std::unique_lock<std::mutex>& lock) {
        const size_t i = next++;
        pending.emplace_back();
        lock.unlock();
        Result result = job(i);
        lock.lock();
        pending[i - delivered].emplace(std::move(result));
        if (i == delivered) ready.notify_one();
    };
    auto mayStart = [&] { return next < count && next < delivered + window; };
    auto work = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (next < count) {
            if (mayStart())
                runOne(lock);
            else
                room.wait(lock);
        }
    };
    // The calling thread is one of the workers: it runs jobs itself whenever
    // the next result to hand over is not there yet, and sleeps only when
    // there is nothing to start either.
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work);
    std::unique_lock<std::mutex> lock(mutex);
    while (delivered < count) {
        if (!pending.empty() && pending.front().has_value()) {
            Result result = std::move(*pending.front());
            pending.pop_front();
            ++delivered;
            room.notify_all();
            lock.unlock();
            deliver(result);
            lock.lock();
        } else if (mayStart()) {
            runOne(lock);
        } else {
            ready.wait(lock, [&] { return pending.front().has_value(); });
        }
    }
    lock.unlock();
    for (std::thread& worker : workers) worker.join();
}
