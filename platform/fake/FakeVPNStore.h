#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"

namespace vxm::platform {

// An in-memory VPN configuration store for tests, driven by data: what it
// holds, which operations fail, and how completions are delivered. It records
// every request it gets.
class FakeVPNStore : public VPNConfigurationStore {
public:
    enum class Operation { loadAll, save, reload, startTunnel, stopTunnel, remove };

    enum class Delivery {
        immediately,     // on the caller's thread, before the operation returns
        onAnotherThread, // on a new thread per completion
        held,            // kept until the test calls releaseHeld
    };

    // One stored configuration, or a snapshot of what a save was asked to store.
    struct Entry {
        std::int64_t key = 0;
        std::optional<std::string> localizedDescription;
        ProtocolConfiguration protocolConfiguration;
        bool isEnabled = false;
        VPNStatus status = VPNStatus::disconnected;
    };

    // Observers' blocks are queued on `mainQueue`.
    explicit FakeVPNStore(MainQueue& mainQueue) : mainQueue_(mainQueue) {}
    ~FakeVPNStore() override;
    FakeVPNStore(const FakeVPNStore&) = delete;
    FakeVPNStore& operator=(const FakeVPNStore&) = delete;

    // ---- set by the test ----
    Delivery delivery = Delivery::immediately;
    // An operation listed here fails with this error, every time.
    std::map<Operation, Error> failures;
    // Like failures, but only for the configurations of these display names
    // (one failing removal among several, say); checked after failures.
    std::map<Operation, std::map<std::string, Error>> failuresOf;

    // Stores a configuration at the end of store order; returns its key.
    std::int64_t add(Entry entry);
    // Changes a stored configuration's status and, unless told not to,
    // notifies its observers (a change that reaches no one models a race).
    void setStatus(std::int64_t key, VPNStatus status, bool notify = true);
    // Delivers the held completions in the order they were held (or the
    // newest first), on the calling thread, at most `count` of them; returns
    // how many ran.
    std::size_t releaseHeld(std::size_t count = SIZE_MAX, bool newestFirst = false);
    [[nodiscard]] std::size_t heldCount() const;
    // Waits for every completion started on another thread to finish.
    void joinDeliveries();

    // ---- read by the test ----
    [[nodiscard]] std::vector<Entry> stored() const;
    [[nodiscard]] std::vector<Entry> saves() const;
    // Display names (or none) of the configurations that got each request.
    [[nodiscard]] std::vector<std::optional<std::string>> startRequests() const;
    [[nodiscard]] std::vector<std::optional<std::string>> stopRequests() const;
    [[nodiscard]] std::vector<std::optional<std::string>> removeRequests() const;
    [[nodiscard]] int loadCount() const;
    [[nodiscard]] std::size_t observerCount() const;

    // ---- the store ----
    void loadAllFromPreferences(LoadAllCompletion completion) override;
    void save(ManagerRef manager, ErrorCompletion completion) override;
    void reload(ManagerRef manager, ErrorCompletion completion) override;
    void remove(ManagerRef manager, ErrorCompletion completion) override;
    std::optional<Error> startTunnel(const TunnelProviderManager& manager) override;
    std::optional<Error> stopTunnel(const TunnelProviderManager& manager) override;
    VPNStatus status(const TunnelProviderManager& manager) override;
    void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) override;

private:
    std::optional<Error> failure(Operation operation, const std::optional<std::string>& name = std::nullopt) const;
    Entry* find(std::optional<std::int64_t> key);
    void deliver(std::function<void()> completion);
    ManagerRef handleFor(const Entry& entry);

    MainQueue& mainQueue_;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::int64_t nextKey_ = 1;
    std::vector<Entry> saves_;
    std::vector<std::optional<std::string>> startRequests_;
    std::vector<std::optional<std::string>> stopRequests_;
    std::vector<std::optional<std::string>> removeRequests_;
    int loadCount_ = 0;
    std::multimap<std::int64_t, std::function<void()>> observers_;
    std::deque<std::function<void()>> held_;
    std::vector<std::thread> threads_;
};

}  // namespace vxm::platform
