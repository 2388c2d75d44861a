#include "platform/fake/FakeVPNStore.h"

#include <utility>

namespace vxm::platform {

FakeVPNStore::~FakeVPNStore() { joinDeliveries(); }

std::int64_t FakeVPNStore::add(Entry entry) {
    const std::lock_guard lock(mutex_);
    entry.key = nextKey_++;
    entries_.push_back(std::move(entry));
    return entries_.back().key;
}

void FakeVPNStore::setStatus(std::int64_t key, VPNStatus status, bool notify) {
    std::vector<std::function<void()>> blocks;
    {
        const std::lock_guard lock(mutex_);
        if (Entry* entry = find(key)) {
            entry->status = status;
        }
        auto [first, last] = observers_.equal_range(key);
        for (auto it = first; notify && it != last; ++it) {
            blocks.push_back(it->second);
        }
    }
    for (auto& block : blocks) {
        mainQueue_.async(std::move(block));
    }
}

std::size_t FakeVPNStore::releaseHeld(std::size_t count, bool newestFirst) {
    std::size_t released = 0;
    while (released < count) {
        std::function<void()> completion;
        {
            const std::lock_guard lock(mutex_);
            if (held_.empty()) {
                break;
            }
            if (newestFirst) {
                completion = std::move(held_.back());
                held_.pop_back();
            } else {
                completion = std::move(held_.front());
                held_.pop_front();
            }
        }
        completion();
        ++released;
    }
    return released;
}

std::size_t FakeVPNStore::heldCount() const {
    const std::lock_guard lock(mutex_);
    return held_.size();
}

void FakeVPNStore::joinDeliveries() {
    // A delivery may start further deliveries, so join until none is left.
    for (;;) {
        std::vector<std::thread> threads;
        {
            const std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        if (threads.empty()) {
            return;
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
}

std::vector<FakeVPNStore::Entry> FakeVPNStore::stored() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<FakeVPNStore::Entry> FakeVPNStore::saves() const {
    const std::lock_guard lock(mutex_);
    return saves_;
}

std::vector<std::optional<std::string>> FakeVPNStore::startRequests() const {
    const std::lock_guard lock(mutex_);
    return startRequests_;
}

std::vector<std::optional<std::string>> FakeVPNStore::stopRequests() const {
    const std::lock_guard lock(mutex_);
    return stopRequests_;
}

std::vector<std::optional<std::string>> FakeVPNStore::removeRequests() const {
    const std::lock_guard lock(mutex_);
    return removeRequests_;
}

int FakeVPNStore::loadCount() const {
    const std::lock_guard lock(mutex_);
    return loadCount_;
}

std::size_t FakeVPNStore::observerCount() const {
    const std::lock_guard lock(mutex_);
    return observers_.size();
}

std::optional<Error> FakeVPNStore::failure(Operation operation, const std::optional<std::string>& name) const {
    if (auto found = failures.find(operation); found != failures.end()) {
        return found->second;
    }
    auto named = failuresOf.find(operation);
    if (!name || named == failuresOf.end()) {
        return std::nullopt;
    }
    if (auto found = named->second.find(*name); found != named->second.end()) {
        return found->second;
    }
    return std::nullopt;
}

FakeVPNStore::Entry* FakeVPNStore::find(std::optional<std::int64_t> key) {
    if (!key) {
        return nullptr;
    }
    for (Entry& entry : entries_) {
        if (entry.key == *key) {
            return &entry;
        }
    }
    return nullptr;
}

void FakeVPNStore::deliver(std::function<void()> completion) {
    switch (delivery) {
        case Delivery::immediately:
            completion();
            return;
        case Delivery::onAnotherThread: {
            const std::lock_guard lock(mutex_);
            threads_.emplace_back(std::move(completion));
            return;
        }
        case Delivery::held: {
            const std::lock_guard lock(mutex_);
            held_.push_back(std::move(completion));
            return;
        }
    }
}

ManagerRef FakeVPNStore::handleFor(const Entry& entry) {
    ManagerRef manager = makeManager();
    manager->storeKey = entry.key;
    manager->localizedDescription = entry.localizedDescription;
    manager->protocolConfiguration = entry.protocolConfiguration;
    manager->isEnabled = entry.isEnabled;
    return manager;
}

void FakeVPNStore::loadAllFromPreferences(LoadAllCompletion completion) {
    std::optional<Error> error = failure(Operation::loadAll);
    std::vector<ManagerRef> managers;
    {
        const std::lock_guard lock(mutex_);
        ++loadCount_;
        if (!error) {
            for (const Entry& entry : entries_) {
                managers.push_back(handleFor(entry));
            }
        }
    }
    deliver([completion = std::move(completion), error = std::move(error), managers = std::move(managers)]() mutable {
        if (error) {
            completion(*std::move(error));
        } else {
            completion(std::move(managers));
        }
    });
}

void FakeVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    std::optional<Error> error = failure(Operation::save);
    {
        const std::lock_guard lock(mutex_);
        Entry snapshot{manager->storeKey.value_or(0), manager->localizedDescription, manager->protocolConfiguration,
                       manager->isEnabled, VPNStatus::disconnected};
        saves_.push_back(snapshot);
        if (!error) {
            if (Entry* existing = find(manager->storeKey)) {
                snapshot.status = existing->status;
                *existing = snapshot;
            } else {
                snapshot.key = nextKey_++;
                manager->storeKey = snapshot.key;
                entries_.push_back(snapshot);
            }
        }
    }
    deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

void FakeVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    std::optional<Error> error = failure(Operation::reload);
    {
        const std::lock_guard lock(mutex_);
        const Entry* entry = find(manager->storeKey);
        if (!error && entry == nullptr) {
            error = Error{"the configuration is not saved"};
        }
        if (!error) {
            manager->localizedDescription = entry->localizedDescription;
            manager->protocolConfiguration = entry->protocolConfiguration;
            manager->isEnabled = entry->isEnabled;
        }
    }
    deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

void FakeVPNStore::remove(ManagerRef manager, ErrorCompletion completion) {
    std::optional<Error> error = failure(Operation::remove, manager->localizedDescription);
    {
        const std::lock_guard lock(mutex_);
        removeRequests_.push_back(manager->localizedDescription);
        // One that is not stored is as removed as it can be.
        if (!error && manager->storeKey) {
            std::erase_if(entries_, [&](const Entry& stored) { return stored.key == *manager->storeKey; });
        }
    }
    deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

std::optional<Error> FakeVPNStore::startTunnel(const TunnelProviderManager& manager) {
    const std::lock_guard lock(mutex_);
    startRequests_.push_back(manager.localizedDescription);
    return failure(Operation::startTunnel);
}

std::optional<Error> FakeVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    const std::lock_guard lock(mutex_);
    stopRequests_.push_back(manager.localizedDescription);
    return failure(Operation::stopTunnel, manager.localizedDescription);
}

VPNStatus FakeVPNStore::status(const TunnelProviderManager& manager) {
    const std::lock_guard lock(mutex_);
    const Entry* entry = find(manager.storeKey);
    return entry != nullptr ? entry->status : VPNStatus::invalid;
}

void FakeVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    const std::lock_guard lock(mutex_);
    observers_.emplace(manager.storeKey.value_or(0), std::move(block));
}

}  // namespace vxm::platform
