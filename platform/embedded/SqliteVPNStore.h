// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"

namespace vxm::platform {

// The VPN configuration store kept in one SQLite file, shared by every process
// that names the same path. Every operation is safe from any thread.
//
// Each operation with a completion runs in a main-queue task of its own, in a
// transaction of its own, and completes there after the commit: a success
// reported is in the file, and a crash right after keeps it. Removals
// requested before their task runs share it and one transaction, each within
// a savepoint (one refused undoes no other), so removing thousands is fast.
// Start, stop and status work at once on the caller's thread.
//
// A new configuration joins one stored for its site since the last load (see
// VPNConfigurationStore): the transaction that saves it, under the write
// lock, looks for a tunnel-provider configuration of the same display name
// (as `sameName` compares) and provider with a higher key than any this store
// last loaded (keys only grow), and saves into that one.
//
// The file is opened on the first operation that needs it, and only a write
// makes one. A file at the path that is not a store of this program is never
// written: every operation fails instead. Status changes are signalled to
// other processes through a StatusSignal file beside the store; status()
// answers from what it last read until it hears of a change (StoreObservers
// listens from the first observer on), and observers run their blocks after
// it (see observeStatusChanges). Destroy the store with its main queue stopped.
class SqliteVPNStore final : public VPNConfigurationStore {
public:
    // Whether two display names name the same configuration.
    using SameName = std::function<bool(std::string_view, std::string_view)>;

    SqliteVPNStore(
        MainQueue& mainQueue, std::string path,
        SameName sameName = [](std::string_view a, std::string_view b) { return a == b; });
    ~SqliteVPNStore() override;
    SqliteVPNStore(const SqliteVPNStore&) = delete;
    SqliteVPNStore& operator=(const SqliteVPNStore&) = delete;

    [[nodiscard]] const std::string& path() const;

    // A handle of this store (SqliteManager), which keeps the row key.
    ManagerRef makeManager() override;

    void loadAllFromPreferences(LoadAllCompletion completion) override;
    void save(ManagerRef manager, ErrorCompletion completion) override;
    void reload(ManagerRef manager, ErrorCompletion completion) override;
    void remove(ManagerRef manager, ErrorCompletion completion) override;

    // Fails for a configuration that is not saved or not enabled. Otherwise
    // the status becomes connecting and then, as the stand-in provider accepts
    // every start, connected; both changes are signalled.
    std::optional<Error> startTunnel(const TunnelProviderManager& manager) override;
    // Brings a stored tunnel that is not down (connecting, connected,
    // reasserting, disconnecting) to disconnected. Does nothing otherwise.
    // Fails only when that write fails.
    std::optional<Error> stopTunnel(const TunnelProviderManager& manager) override;
    // The stored status as of the last change heard (see VPNConnection);
    // invalid for a configuration that is not stored or when the store cannot
    // be read.
    VPNStatus status(const TunnelProviderManager& manager) override;
    // Runs `block` on the main queue after each change of the configuration's
    // status made by any process, its removal included (changes close
    // together may share one run). Never runs for an unsaved configuration.
    void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) override;

    // Sets a stored configuration's status as its provider would, and signals
    // the change when there is one. Fails for one that is not stored.
    std::optional<Error> setStatus(const TunnelProviderManager& manager, VPNStatus status);

private:
    class Impl;
    // Shared with the main-queue tasks of its operations, which hold it weakly.
    std::shared_ptr<Impl> impl_;
};

}  // namespace vxm::platform
