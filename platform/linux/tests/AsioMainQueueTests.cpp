// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/AsioMainQueue.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace vxm::platform {
namespace {

using namespace std::chrono_literals;

// A watch runs while its descriptor is readable, until a delayed task, run no
// earlier than asked, drops it; stop() from another thread ends the loop.
TEST(AsioMainQueueTest, WatchesAndDelayedWorkOnALoopStoppedFromAnotherThread) {
    AsioMainQueue queue;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int reads = 0;
    char byte = 0;
    auto watch = queue.watchReadable(fds[0], [&] { reads += static_cast<int>(::read(fds[0], &byte, 1)); });
    const auto asked = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration delay{};
    queue.asyncAfter(50ms, [&] {
        delay = std::chrono::steady_clock::now() - asked;
        watch.reset();
        EXPECT_EQ(::write(fds[1], "c", 1), 1);
    });
    ASSERT_EQ(::write(fds[1], "ab", 2), 2);
    std::thread stopper([&] { std::this_thread::sleep_for(200ms), queue.stop(); });
    queue.run();
    stopper.join();
    EXPECT_GE(delay, 50ms);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(::read(fds[0], &byte, 1), 1) << "the dropped watch read on, or closed the descriptor";
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
}  // namespace vxm::platform
