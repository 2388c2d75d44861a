// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreObservers.h"

#include <system_error>
#include <utility>

namespace vxm::platform {

namespace {

constexpr std::chrono::milliseconds kSignalPoll{250};

}  // namespace

StoreObservers::StoreObservers(MainQueue& queue, std::shared_ptr<StoreConnection> store)
    : queue_(queue), store_(std::move(store)) {}

void StoreObservers::watchLocked() {
    if (watching_) {
        return;
    }
    watching_ = true;
    try {
        // The watch on the folder also reports the store file deleted or
        // replaced, which whoever did it may signal in no other way.
        store_->signal().watch(queue_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->check();
            }
        });
    } catch (const std::system_error&) {
        // Without inotify (the user's limit of instances reached, say) the
        // observers must still hear of changes: look a few times a second.
        poll(kSignalPoll);
    }
}

void StoreObservers::poll(std::chrono::milliseconds interval) {
    queue_.asyncAfter(interval, [weak = weak_from_this(), interval] {
        if (auto self = weak.lock()) {
            self->check();
            self->poll(interval);
        }
    });
}

void StoreObservers::observe(std::int64_t key, std::function<void()> block) {
    bool checkNow = false;
    {
        const std::lock_guard lock(store_->mutex());
        try {
            if (store_->openLocked(false) == nullptr) {
                return;  // nothing stored can be observed
            }
        } catch (const Failure&) {
            return;  // nothing stored can be observed
        }
        watchLocked();
        // What this process last read is the base: a change after that read
        // and before the watch began must still run the block.
        std::int64_t lastSeen = kChangesUnknown;
        try {
            const CachedStatus* cached = store_->statusesLocked().find(key);
            lastSeen = cached != nullptr ? cached->changes : store_->liveStatusLocked(key).changes;
            checkNow = store_->liveStatusLocked(key).changes != lastSeen;
        } catch (const Failure&) {
            checkNow = true;
        }
        observers_.push_back({key, lastSeen, std::make_shared<std::function<void()>>(std::move(block))});
    }
    if (checkNow) {
        queue_.async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->check();
            }
        });
    }
}

void StoreObservers::check() {
    std::vector<std::shared_ptr<std::function<void()>>> due;
    {
        const std::lock_guard lock(store_->mutex());
        store_->followReplacedFileLocked();
        for (Observer& observer : observers_) {
            std::int64_t changes = kChangesUnknown;
            try {
                changes = store_->liveStatusLocked(observer.key).changes;
            } catch (const Failure&) {
                // No store of ours at the path any more, or none readable:
                // its blocks learn so from the status, once.
            }
            if (changes != observer.lastSeenChanges) {
                observer.lastSeenChanges = changes;
                due.push_back(observer.block);
            }
        }
    }
    for (const auto& block : due) {
        (*block)();
    }
}

}  // namespace vxm::platform
