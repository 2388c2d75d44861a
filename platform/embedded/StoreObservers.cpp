// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreObservers.h"

#include <system_error>
#include <utility>

namespace vxm::platform {

namespace {

constexpr std::chrono::milliseconds kSignalPoll{250};

std::optional<std::int64_t> changesOf(const std::optional<StoredStatus>& status) {
    return status ? std::optional(status->changes) : std::nullopt;
}

}  // namespace

StoreObservers::StoreObservers(MainQueue& queue, std::shared_ptr<StoreConnection> store)
    : queue_(queue), store_(std::move(store)) {}

void StoreObservers::listenLocked() {
    if (store_->statusesLocked().listening()) {
        return;
    }
    store_->statusesLocked().listen();
    try {
        store_->signal().watch(queue_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->heard();
            }
        });
    } catch (const std::system_error&) {
        // Without inotify (the user's limit reached, say), look a few times a second.
        poll(kSignalPoll);
    }
}

void StoreObservers::poll(std::chrono::milliseconds interval) {
    queue_.asyncAfter(interval, [weak = weak_from_this(), interval] {
        if (auto self = weak.lock()) {
            self->heard();
            self->poll(interval);
        }
    });
}

void StoreObservers::observe(std::int64_t key, std::function<void()> block) {
    auto shared = std::make_shared<std::function<void()>>(std::move(block));
    const std::lock_guard lock(store_->mutex());
    try {
        if (store_->openLocked(false) == nullptr) {
            return;  // nothing stored can be observed
        }
    } catch (const Failure&) {
        return;
    }
    try {
        // What this process last read is the base: a change since runs the
        // block. Listening begins before the status is read again.
        const StatusCache::Entry* read = store_->statusesLocked().find(key);
        const std::optional<std::int64_t> base = read != nullptr ? changesOf(read->status) : std::nullopt;
        listenLocked();
        const std::optional<std::int64_t> now = changesOf(store_->liveStatusLocked(key));
        observers_.push_back({key, now, shared});
        if (read != nullptr && now != base) {
            queue_.async([shared] { (*shared)(); });
        }
    } catch (const Failure&) {
        // No base: the block runs now, to look for itself.
        observers_.push_back({key, std::nullopt, shared});
        queue_.async([shared] { (*shared)(); });
    }
}

void StoreObservers::heard() {
    std::vector<std::shared_ptr<std::function<void()>>> due;
    {
        const std::lock_guard lock(store_->mutex());
        store_->followReplacedFileLocked();
        store_->statusesLocked().heard();
        for (Observer& observer : observers_) {
            std::optional<std::int64_t> now;
            try {
                now = changesOf(store_->liveStatusLocked(observer.key));
            } catch (const Failure&) {
                // None readable: its blocks learn so from the status, once.
            }
            if (now != observer.lastChanges) {
                observer.lastChanges = now;
                due.push_back(observer.block);
            }
        }
    }
    for (const auto& block : due) {
        (*block)();
    }
}

}  // namespace vxm::platform
