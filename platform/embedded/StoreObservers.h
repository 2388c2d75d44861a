// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/embedded/StoreConnection.h"

namespace vxm::platform {

// The blocks that observe configurations' statuses. From the first one on,
// the store listens for any process's change signal (see StatusSignal), or,
// without inotify, looks a few times a second. On the main queue, after each
// change heard, the statuses read before are stale; then the blocks of the
// configurations whose status changed run. A store file replaced or deleted
// counts as a change, since whoever did it may signal nothing. Listening
// costs some milliseconds at exit, so only a process that observes pays it.
// Safe from any thread.
class StoreObservers : public std::enable_shared_from_this<StoreObservers> {
public:
    StoreObservers(MainQueue& queue, std::shared_ptr<StoreConnection> store);

    // Runs `block` after each change of the status of `key`, removal included.
    // Does nothing when the store cannot be opened.
    void observe(std::int64_t key, std::function<void()> block);

private:
    struct Observer {
        std::int64_t key;
        std::optional<std::int64_t> lastChanges;  // none: not stored
        std::shared_ptr<std::function<void()>> block;
    };

    void listenLocked();
    void poll(std::chrono::milliseconds interval);
    void heard();

    MainQueue& queue_;
    const std::shared_ptr<StoreConnection> store_;
    // Guarded by the store's lock.
    std::vector<Observer> observers_;
};

}  // namespace vxm::platform
