#include "platform/linux/AsioMainQueue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/tests/TestSupport.h"

namespace vxm::platform {
namespace {

using namespace std::chrono_literals;
using support::RunningQueue;

TEST(AsioMainQueueTest, RunsWorkFromManyThreadsInOrderOnTheLoopThread) {
    RunningQueue running;
    std::vector<int> order;  // touched only on the loop thread
    std::atomic<bool> offLoop{false};
    std::promise<void> done;
    std::thread other([&] {
        for (int i = 0; i < 100; ++i) {
            running.queue.async([&, i] {
                offLoop = offLoop || std::this_thread::get_id() != running.threadId();
                order.push_back(i);
            });
        }
        running.queue.async([&] { done.set_value(); });
    });
    other.join();
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(offLoop);
    ASSERT_EQ(order.size(), 100U);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(AsioMainQueueTest, KeepsRunningWhenIdleAndRunsDelayedWorkNoEarlierThanAsked) {
    RunningQueue running;
    std::this_thread::sleep_for(20ms);  // an idle loop must not return
    const auto asked = std::chrono::steady_clock::now();
    std::promise<std::chrono::steady_clock::time_point> ran;
    running.queue.asyncAfter(50ms, [&] { ran.set_value(std::chrono::steady_clock::now()); });
    auto future = ran.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_GE(future.get() - asked, 50ms);
}

TEST(AsioMainQueueTest, WatchRunsOnEachReadabilityUntilDestroyed) {
    RunningQueue running;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<int> reads{0};
    std::unique_ptr<AsioMainQueue::Watch> watch = running.queue.watchReadable(fds[0], [&] {
        char byte = 0;
        ASSERT_EQ(::read(fds[0], &byte, 1), 1);
        ++reads;
    });
    for (int expected = 1; expected <= 3; ++expected) {
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        for (int i = 0; i < 500 && reads < expected; ++i) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(reads, expected);
    }

    std::promise<void> dropped;
    running.queue.async([&] {
        watch.reset();
        dropped.set_value();
    });
    dropped.get_future().wait();
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reads, 3);
    // The watch gave the descriptor back open.
    char byte = 0;
    EXPECT_EQ(::read(fds[0], &byte, 1), 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace vxm::platform
