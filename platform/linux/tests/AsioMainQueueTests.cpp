#include "platform/linux/AsioMainQueue.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vxm::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// An idle loop keeps running; a watch runs its callback on each readability
// until it is dropped, and leaves the descriptor open; delayed work runs no
// earlier than asked; stop() from another thread ends the loop.
TEST(AsioMainQueueTest, WatchesAndDelayedWorkOnAnIdleLoopStoppedFromAnotherThread) {
    AsioMainQueue queue;
    std::thread loop([&] { queue.run(); });
    std::this_thread::sleep_for(20ms);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<int> reads{0};
    std::unique_ptr<AsioMainQueue::Watch> watch = queue.watchReadable(fds[0], [&] {
        char byte = 0;
        EXPECT_EQ(::read(fds[0], &byte, 1), 1);
        ++reads;
    });
    for (int expected = 1; expected <= 2; ++expected) {
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        for (int i = 0; i < 500 && reads < expected; ++i) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(reads, expected);
    }
    std::promise<Clock::time_point> dropped;
    const Clock::time_point asked = Clock::now();
    queue.asyncAfter(50ms, [&] {
        watch.reset();
        dropped.set_value(Clock::now());
    });
    std::future<Clock::time_point> done = dropped.get_future();
    ASSERT_EQ(done.wait_for(5s), std::future_status::ready);
    EXPECT_GE(done.get() - asked, 50ms);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reads, 2);
    char byte = 0;
    EXPECT_EQ(::read(fds[0], &byte, 1), 1) << "the watch closed the descriptor";
    queue.stop();
    loop.join();
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace vxm::platform
