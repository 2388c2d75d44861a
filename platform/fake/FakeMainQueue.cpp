#include "platform/fake/FakeMainQueue.h"

#include <utility>

namespace vxm::platform {

void FakeMainQueue::async(Work work) {
    {
        const std::lock_guard lock(mutex_);
        ready_.push_back(std::move(work));
    }
    arrived_.notify_all();
}

void FakeMainQueue::asyncAfter(std::chrono::milliseconds delay, Work work) {
    const std::lock_guard lock(mutex_);
    delayed_.emplace(now_ + delay, std::move(work));
}

// Runs the first ready item with the lock released; false when none is ready.
bool FakeMainQueue::runOne(std::unique_lock<std::mutex>& lock) {
    if (stopped_ || ready_.empty()) {
        return false;
    }
    Work work = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    work();
    lock.lock();
    return true;
}

std::size_t FakeMainQueue::runReady() {
    std::unique_lock lock(mutex_);
    std::size_t count = 0;
    while (runOne(lock)) {
        ++count;
    }
    return count;
}

void FakeMainQueue::advance(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    const Clock until = now_ + delay;
    for (;;) {
        while (runOne(lock)) {
        }
        if (stopped_ || delayed_.empty() || delayed_.begin()->first > until) {
            break;
        }
        auto due = delayed_.begin();
        now_ = due->first;
        ready_.push_back(std::move(due->second));
        delayed_.erase(due);
    }
    if (!stopped_) {
        now_ = until;
    }
}

void FakeMainQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (runOne(lock)) {
        }
        if (stopped_ || delayed_.empty()) {
            return;
        }
        auto due = delayed_.begin();
        now_ = due->first;
        ready_.push_back(std::move(due->second));
        delayed_.erase(due);
    }
}

bool FakeMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (runOne(lock)) {
        }
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished || stopped_) {
            return finished;
        }
        if (!arrived_.wait_until(lock, deadline, [this] { return stopped_ || !ready_.empty(); })) {
            lock.unlock();
            return done();
        }
    }
}

void FakeMainQueue::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    arrived_.notify_all();
}

FakeMainQueue::Clock FakeMainQueue::now() const {
    const std::lock_guard lock(mutex_);
    return now_;
}

std::size_t FakeMainQueue::pendingCount() const {
    const std::lock_guard lock(mutex_);
    return ready_.size() + delayed_.size();
}

bool FakeMainQueue::stopped() const {
    const std::lock_guard lock(mutex_);
    return stopped_;
}

}  // namespace vxm::platform
