// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <functional>

namespace vxm::platform {

// The process's main queue: work items run one at a time, in the order they
// were queued, on the thread that runs the loop.
class MainQueue {
public:
    using Work = std::function<void()>;

    virtual ~MainQueue() = default;

    // Queues work to run on the main thread. Safe to call from any thread.
    virtual void async(Work work) = 0;

    // Queues work to run on the main thread once, no earlier than `delay`
    // from now. Safe to call from any thread.
    virtual void asyncAfter(std::chrono::milliseconds delay, Work work) = 0;

    // Runs the loop on the calling thread, which becomes the main thread.
    // The real loop returns only if nothing can ever be queued again.
    virtual void run() = 0;
};

}  // namespace vxm::platform
