// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>
#include <vector>

#include "platform/MainQueue.h"

namespace vxm::platform {

// Joins a set of asynchronous operations: each one enters before it starts and
// leaves when it completes, from any thread. Work registered with notify is
// queued once on the given queue as soon as nothing has entered without
// leaving: at once if the group is already empty.
class DispatchGroup {
public:
    void enter();
    void leave();
    void notify(MainQueue& queue, MainQueue::Work work);

private:
    struct Waiter {
        MainQueue* queue;
        MainQueue::Work work;
    };

    std::vector<Waiter> takeWaitersIfEmpty();

    std::mutex mutex_;
    long outstanding_ = 0;
    std::vector<Waiter> waiters_;
};

}  // namespace vxm::platform
