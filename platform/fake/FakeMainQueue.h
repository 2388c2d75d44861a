#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/MainQueue.h"

namespace vxm::platform {

// A main queue for tests, with a clock of its own: delayed work comes due only
// when the test moves the clock. Work may be queued from any thread; it runs on
// whichever thread calls one of the run functions, the test's own.
class FakeMainQueue : public MainQueue {
public:
    using Clock = std::chrono::milliseconds;

    void async(Work work) override;
    void asyncAfter(std::chrono::milliseconds delay, Work work) override;

    // Runs ready work and moves the clock to each delayed item in turn, until
    // nothing is left or the queue is stopped.
    void run() override;

    // Runs the work that is ready now, without moving the clock; returns how
    // many items ran.
    std::size_t runReady();

    // Moves the clock forward by `delay`, running, in order, the ready work and
    // every delayed item that comes due on the way.
    void advance(std::chrono::milliseconds delay);

    // Runs work as it arrives from other threads until `done` holds or the
    // queue is stopped; gives up after `timeout` of real time. Returns done().
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Ends the loop for good, as the end of the process does: work queued
    // afterwards never runs.
    void stop();

    [[nodiscard]] Clock now() const;
    [[nodiscard]] std::size_t pendingCount() const;
    [[nodiscard]] bool stopped() const;

private:
    bool runOne(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Work> ready_;
    std::multimap<Clock, Work> delayed_;
    Clock now_{0};
    bool stopped_ = false;
};

}  // namespace vxm::platform
