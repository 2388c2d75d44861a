// SPDX-License-Identifier: Apache-2.0
#include "platform/DispatchGroup.h"

#include <utility>

namespace vxm::platform {

void DispatchGroup::enter() {
    const std::lock_guard lock(mutex_);
    ++outstanding_;
}

void DispatchGroup::leave() {
    for (Waiter& waiter : takeWaitersIfEmpty()) {
        waiter.queue->async(std::move(waiter.work));
    }
}

void DispatchGroup::notify(MainQueue& queue, MainQueue::Work work) {
    {
        const std::lock_guard lock(mutex_);
        if (outstanding_ > 0) {
            waiters_.push_back({&queue, std::move(work)});
            return;
        }
    }
    queue.async(std::move(work));
}

// Called by leave: counts the leave, and hands back the waiters to release
// when it was the last one. Queuing happens outside the lock.
std::vector<DispatchGroup::Waiter> DispatchGroup::takeWaitersIfEmpty() {
    const std::lock_guard lock(mutex_);
    --outstanding_;
    if (outstanding_ > 0) {
        return {};
    }
    return std::exchange(waiters_, {});
}

}  // namespace vxm::platform
