// SPDX-License-Identifier: Apache-2.0
#include "platform/DispatchGroup.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/fake/FakeMainQueue.h"

namespace vxm::platform {
namespace {

// Completions leave from whatever thread they run on.
TEST(DispatchGroupTest, NotifiesOnceAfterLastLeaveFromOtherThreads) {
    FakeMainQueue queue;
    DispatchGroup group;
    constexpr int kMembers = 8;
    for (int i = 0; i < kMembers; ++i) {
        group.enter();
    }
    int runs = 0;
    group.notify(queue, [&] { ++runs; });
    std::vector<std::thread> threads;
    threads.reserve(kMembers - 1);
    for (int i = 0; i < kMembers - 1; ++i) {
        threads.emplace_back([&] { group.leave(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    queue.runReady();
    EXPECT_EQ(runs, 0) << "one member is still out";
    std::thread last([&] { group.leave(); });
    last.join();
    queue.runReady();
    EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace vxm::platform
