// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/embedded/StoreConnection.h"

namespace vxm::platform {

// The blocks that observe configurations' statuses, run on the main queue
// after each change that any process signals through the store's change
// counter (or, without inotify, that a poll a few times a second finds).
// A store file replaced or deleted under the connection counts as a change:
// the watch on its folder reports it (or the poll finds it), since whoever
// deleted the file may signal nothing, and the statuses are read again from
// the file now at the path (none: every configuration is gone). Nothing runs
// while nothing changes. Safe from any thread.
class StoreObservers : public std::enable_shared_from_this<StoreObservers> {
public:
    StoreObservers(MainQueue& queue, std::shared_ptr<StoreConnection> store);

    // Runs `block` after each change of the status of `key`, its removal
    // included (changes close together may share one run). Does nothing when
    // the store cannot be opened: nothing stored can be observed then.
    void observe(std::int64_t key, std::function<void()> block);

private:
    struct Observer {
        std::int64_t key;
        std::int64_t lastSeenChanges;
        std::shared_ptr<std::function<void()>> block;
    };

    void watchLocked();
    void poll(std::chrono::milliseconds interval);
    void check();

    MainQueue& queue_;
    const std::shared_ptr<StoreConnection> store_;
    // Guarded by the store's lock.
    std::vector<Observer> observers_;
    bool watching_ = false;
};

}  // namespace vxm::platform
