// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/MainQueue.h"

namespace vxm::platform {

// A main queue for tests, with a clock of its own that only the test moves.
// Work may be queued from any thread; it runs on the thread that calls run,
// runReady or advance, until the queue is stopped. Descriptors are never
// polled: the test says when one is readable.
class FakeMainQueue : public MainQueue {
public:
    using Clock = std::chrono::milliseconds;

    void async(Work work) override { asyncAfter(Clock{0}, std::move(work)); }
    void asyncAfter(std::chrono::milliseconds delay, Work work) override {
        const std::lock_guard lock(mutex_);
        pending_.emplace(now_ + delay, std::move(work));
    }

    [[nodiscard]] std::unique_ptr<Watch> watchReadable(int fd, std::function<void()> onReadable) override {
        const std::lock_guard lock(mutex_);
        watches_.emplace(++lastWatch_, std::pair(fd, std::move(onReadable)));
        return std::make_unique<FakeWatch>(*this, lastWatch_);
    }

    // Queues the callback of each watch on `fd`; one whose watch is gone by
    // the time it comes due does not run.
    void makeReadable(int fd) {
        const std::lock_guard lock(mutex_);
        for (const auto& [id, watch] : watches_) {
            if (watch.first == fd) {
                pending_.emplace(now_, [this, id = id] { runWatch(id); });
            }
        }
    }

    [[nodiscard]] std::size_t watchCount() const {
        const std::lock_guard lock(mutex_);
        return watches_.size();
    }

    void run() override { drain(std::nullopt); }                    // all of it, as it comes due
    std::size_t runReady() { return drain(Clock{0}); }             // what is due now; how many ran
    void advance(std::chrono::milliseconds delay) { drain(delay); }  // what comes due on the way

    void stop() {  // for good, as the end of the process does
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }

    [[nodiscard]] std::size_t pendingCount() const {
        const std::lock_guard lock(mutex_);
        return pending_.size();
    }

private:
    class FakeWatch final : public Watch {
    public:
        FakeWatch(FakeMainQueue& queue, int id) : queue_(queue), id_(id) {}
        ~FakeWatch() override {
            const std::lock_guard lock(queue_.mutex_);
            queue_.watches_.erase(id_);
        }
        FakeWatch(const FakeWatch&) = delete;
        FakeWatch& operator=(const FakeWatch&) = delete;

    private:
        FakeMainQueue& queue_;
        int id_;
    };

    void runWatch(int id) {
        std::unique_lock lock(mutex_);
        auto found = watches_.find(id);
        if (found == watches_.end()) {
            return;
        }
        const std::function<void()> onReadable = found->second.second;  // a copy: the callback may drop its watch
        lock.unlock();
        onReadable();
    }

    // Runs the items due within `delay` (all, without it) without the lock.
    std::size_t drain(std::optional<Clock> delay) {
        std::unique_lock lock(mutex_);
        const std::optional<Clock> until = delay ? std::optional(now_ + *delay) : std::nullopt;
        std::size_t count = 0;
        for (; !stopped_ && !pending_.empty() && (!until || pending_.begin()->first <= *until); ++count) {
            now_ = pending_.begin()->first;
            Work work = std::move(pending_.begin()->second);
            pending_.erase(pending_.begin());
            lock.unlock();
            work();
            lock.lock();
        }
        now_ = stopped_ ? now_ : until.value_or(now_);
        return count;
    }

    mutable std::mutex mutex_;
    std::multimap<Clock, Work> pending_;  // by the time each comes due; equal times in queuing order
    Clock now_{0};
    bool stopped_ = false;
    std::map<int, std::pair<int, std::function<void()>>> watches_;  // by id: the descriptor and the callback
    int lastWatch_ = 0;
};

}  // namespace vxm::platform
