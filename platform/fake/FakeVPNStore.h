// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <thread>
#include <utility>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"

namespace vxm::platform {

// An in-memory VPN configuration store for tests, driven by data: what it
// holds, which requests fail, and how completions arrive. It journals every
// request as "load" or "<verb>:<display name>" (save, reload, remove, start, stop).
class FakeVPNStore : public VPNConfigurationStore {
public:
    // This store's handle: its key is the entry's, none until its first save.
    class Configuration final : public TunnelProviderManager {
    public:
        using TunnelProviderManager::TunnelProviderManager;
        Configuration(const Configuration&) = default;
        Configuration& operator=(const Configuration&) = default;
        Configuration(Configuration&&) = default;
        Configuration& operator=(Configuration&&) = default;
        ~Configuration() override = default;

        // The properties of any handle, keeping this one's key.
        void copyProperties(const TunnelProviderManager& from) {
            localizedDescription = from.localizedDescription;
            protocolConfiguration = from.protocolConfiguration;
            isEnabled = from.isEnabled;
        }

        std::optional<std::int64_t> key;
    };

    enum class Delivery {
        immediately,      // on the caller's thread, before the request returns
        onAnotherThread,  // on a thread of its own, before the request returns
        held,             // kept until deliver
    };

    struct Entry {
        Configuration configuration;  // as last saved, its key set
        VPNStatus status = VPNStatus::disconnected;
    };

    explicit FakeVPNStore(MainQueue& mainQueue) : mainQueue_(mainQueue) {}  // where observers' blocks go

    Delivery delivery = Delivery::immediately;
    std::map<std::string, Error> failures;  // by request as journaled, or by verb for all of it
    std::vector<Entry> entries;
    std::string journal;  // the requests, space-separated

    // Stores the configuration at the end of store order; returns its key.
    std::int64_t add(const TunnelProviderManager& configuration, VPNStatus status) {
        Configuration stored(*this);
        stored.copyProperties(configuration);
        stored.key = nextKey_++;
        return *entries.emplace_back(Entry{std::move(stored), status}).configuration.key;
    }

    ManagerRef makeManager() override { return std::make_shared<Configuration>(*this); }

    // Notifies the observers unless told not to (a change that reaches no one models a race).
    void setStatus(std::int64_t key, VPNStatus status, bool notify = true) {
        find(key)->status = status;
        auto [first, last] = observers_.equal_range(key);
        for (auto it = first; notify && it != last; ++it) {
            mainQueue_.async(it->second);
        }
    }

    // Runs the newest held completion, so that requests made together
    // complete in the reverse order; false when none is held.
    bool deliver() {
        if (held_.empty()) {
            return false;
        }
        std::function<void()> completion = std::move(held_.back());
        held_.pop_back();
        completion();
        return true;
    }

    void loadAllFromPreferences(LoadAllCompletion completion) override {
        std::optional<Error> error = request("load", nullptr);
        std::vector<ManagerRef> managers;
        for (const Entry& entry : entries) {
            managers.push_back(std::make_shared<Configuration>(entry.configuration));
        }
        deliver([completion = std::move(completion), error = std::move(error), managers = std::move(managers)] {
            completion(error ? Result<std::vector<ManagerRef>>(*error) : managers);
        });
    }

    void save(ManagerRef manager, ErrorCompletion completion) override {
        std::optional<Error> error = request("save", manager.get());
        auto* handle = dynamic_cast<Configuration*>(manager.get());
        if (handle == nullptr) {
            error = Error{"not a configuration of this store"};
        } else if (Entry* entry = find(handle->key); !error && entry != nullptr) {
            entry->configuration.copyProperties(*manager);
        } else if (!error) {
            handle->key = add(*manager, VPNStatus::disconnected);
        }
        deliver(std::move(completion), error);
    }

    void reload(ManagerRef manager, ErrorCompletion completion) override {  // the handle holds what was saved
        deliver(std::move(completion), request("reload", manager.get()));
    }

    void remove(ManagerRef manager, ErrorCompletion completion) override {  // one not stored counts as removed
        std::optional<Error> error = request("remove", manager.get());
        if (!error) {
            const std::optional<std::int64_t> key = keyOf(*manager);
            std::erase_if(entries, [&](const Entry& e) { return key && e.configuration.key == key; });
        }
        deliver(std::move(completion), error);
    }

    std::optional<Error> startTunnel(const TunnelProviderManager& handle) override { return request("start", &handle); }
    std::optional<Error> stopTunnel(const TunnelProviderManager& handle) override { return request("stop", &handle); }
    VPNStatus status(const TunnelProviderManager& manager) override {
        const Entry* entry = find(manager);
        return entry != nullptr ? entry->status : VPNStatus::invalid;
    }
    void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) override {
        observers_.emplace(keyOf(manager).value_or(0), std::move(block));
    }

private:
    // Journals the request and returns its failure, if it has one.
    std::optional<Error> request(const std::string& verb, const TunnelProviderManager* manager) {
        const std::string name = manager != nullptr ? verb + ":" + manager->localizedDescription.value_or("") : verb;
        journal += (journal.empty() ? "" : " ") + name;
        auto found = failures.contains(name) ? failures.find(name) : failures.find(verb);
        return found != failures.end() ? std::optional(found->second) : std::nullopt;
    }

    static std::optional<std::int64_t> keyOf(const TunnelProviderManager& manager) {
        const auto* handle = dynamic_cast<const Configuration*>(&manager);
        return handle != nullptr ? handle->key : std::nullopt;
    }

    Entry* find(std::optional<std::int64_t> key) {
        auto found = std::find_if(entries.begin(), entries.end(),
                                  [&](const Entry& entry) { return key && entry.configuration.key == key; });
        return found != entries.end() ? &*found : nullptr;
    }
    Entry* find(const TunnelProviderManager& manager) { return find(keyOf(manager)); }

    void deliver(ErrorCompletion completion, std::optional<Error> error) {
        deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
    }

    void deliver(std::function<void()> completion) {
        if (delivery == Delivery::immediately) {
            completion();
        } else if (delivery == Delivery::onAnotherThread) {
            std::thread(std::move(completion)).join();
        } else {
            held_.push_back(std::move(completion));
        }
    }

    MainQueue& mainQueue_;
    std::int64_t nextKey_ = 1;
    std::multimap<std::int64_t, std::function<void()>> observers_;
    std::deque<std::function<void()>> held_;
};

}  // namespace vxm::platform
