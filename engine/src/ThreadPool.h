// A small pool of threads for one growth: a parallel loop for the attributes of a
// large node, and a queue of independent jobs (subtrees). The threads live as long as
// the pool; the destructor drops jobs not yet started and joins every thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace trx {

class ThreadPool {
public:
    // Starts threads-1 helpers; the caller counts as thread 0.
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int Threads() const { return int(helpers_.size()) + 1; }

    // body(thread, i) for i in 0..count-1 on idle helpers and the caller; returns when
    // all are done. Helpers take loop items before queued jobs. Rethrows the first
    // exception of a body.
    void ForEach(int count, const std::function<void(int thread, int i)>& body);

    // Queues a job; it runs on a helper, or on the caller inside WaitFor. A job may
    // queue jobs and wait for them.
    void Submit(std::function<void(int thread)> job);
    // Returns once done() holds; runs queued jobs on the caller (as `thread`, the
    // caller's own number) meanwhile, the oldest first or, with `newest`, the newest
    // (most likely the caller's own). done() is read under the pool's lock, and jobs
    // that finish wake the caller. False when the pool is being destroyed instead: the
    // jobs not yet started are dropped then.
    bool WaitFor(const std::function<bool()>& done, int thread = 0, bool newest = false);
    // Forgets the jobs not yet started and waits for the running ones.
    void Drain();
    // At most `jobs` queued jobs run at once on the helpers (the others stay free
    // for loops); a negative count lifts the limit.
    void LimitJobs(int jobs);

private:
    void HelperLoop(int thread);
    bool TakeLoopItem(int thread, std::unique_lock<std::mutex>& lock);
    void RunJob(std::function<void(int)>& job, int thread, std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable wake_;      // helpers: work or stop
    std::condition_variable finished_;  // caller: a loop item or a job finished
    std::deque<std::function<void(int)>> jobs_;
    int running_ = 0;  // jobs being run
    int jobLimit_ = -1;
    bool stop_ = false;
    // The loop in hand.
    const std::function<void(int, int)>* loop_ = nullptr;
    int loopCount_ = 0, loopNext_ = 0, loopLeft_ = 0;
    std::exception_ptr loopError_;
    std::vector<std::thread> helpers_;
};

}  // namespace trx
