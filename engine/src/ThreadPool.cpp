#include "ThreadPool.h"

namespace trx {

ThreadPool::ThreadPool(int threads) {
    try {
        for (int t = 1; t < threads; ++t) helpers_.emplace_back([this, t] { HelperLoop(t); });
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& h : helpers_) h.join();
        throw;
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    finished_.notify_all();  // helpers waiting for jobs of their own
    for (std::thread& h : helpers_) h.join();
}

// Runs one item of the loop in hand, if any is left; the lock is released meanwhile.
bool ThreadPool::TakeLoopItem(int thread, std::unique_lock<std::mutex>& lock) {
    if (!loop_ || loopNext_ >= loopCount_) return false;
    const int i = loopNext_++;
    const std::function<void(int, int)>* body = loop_;
    lock.unlock();
    std::exception_ptr error;
    try {
        (*body)(thread, i);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && !loopError_) loopError_ = error;
    if (--loopLeft_ == 0) finished_.notify_all();
    return true;
}

void ThreadPool::RunJob(std::function<void(int)>& job, int thread, std::unique_lock<std::mutex>& lock) {
    ++running_;
    lock.unlock();
    job(thread);  // jobs catch their own failures
    job = nullptr;
    lock.lock();
    --running_;
    finished_.notify_all();
}

void ThreadPool::HelperLoop(int thread) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (TakeLoopItem(thread, lock)) continue;
        if (!jobs_.empty() && (jobLimit_ < 0 || running_ < jobLimit_)) {
            std::function<void(int)> job = std::move(jobs_.front());
            jobs_.pop_front();
            RunJob(job, thread, lock);
            continue;
        }
        if (stop_) return;
        wake_.wait(lock);
    }
}

void ThreadPool::ForEach(int count, const std::function<void(int, int)>& body) {
    if (count <= 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    loop_ = &body;
    loopCount_ = count;
    loopNext_ = 0;
    loopLeft_ = count;
    loopError_ = nullptr;
    if (count > 1) wake_.notify_all();
    while (TakeLoopItem(0, lock)) {
    }
    finished_.wait(lock, [this] { return loopLeft_ == 0; });
    loop_ = nullptr;
    std::exception_ptr error = loopError_;
    loopError_ = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

void ThreadPool::Submit(std::function<void(int)> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

bool ThreadPool::WaitFor(const std::function<bool()>& done, int thread, bool newest) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (done()) return true;
        if (stop_) return false;
        if (!jobs_.empty()) {
            std::function<void(int)> job;
            if (newest) {
                job = std::move(jobs_.back());
                jobs_.pop_back();
            } else {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            RunJob(job, thread, lock);
            continue;
        }
        finished_.wait(lock);
    }
}

void ThreadPool::LimitJobs(int jobs) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobLimit_ = jobs;
    }
    wake_.notify_all();
}

void ThreadPool::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    jobs_.clear();
    finished_.wait(lock, [this] { return running_ == 0; });
}

}  // namespace trx
