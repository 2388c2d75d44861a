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
// Each operation with a completion runs in a main-queue task and transaction
// of its own and completes after the commit: a success reported survives a
// crash right after. Removals requested before their task runs share it and
// one transaction, each within a savepoint (one refused undoes no other).
// Start, stop and status work at once on the caller's thread.
//
// A new configuration joins one stored for its site since the last load (see
// VPNConfigurationStore): under the write lock, the save looks for a
// tunnel-provider configuration of the same display name (as `sameName`
// compares) and provider with a higher key than any last loaded (keys only
// grow), and saves into that one.
//
// Only a write makes the file, and a file at the path that is not a store of
// this program is never written: every operation fails instead. Status
// changes are signalled through a StatusSignal file beside the store (see
// observeStatusChanges). Destroy the store with its main queue stopped.
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
    // The rows whose status is up, read in the same pass over the file as all
    // would be, without a handle for each of the others.
    void loadActiveFromPreferences(LoadAllCompletion completion) override;
    void save(ManagerRef manager, ErrorCompletion completion) override;
    void reload(ManagerRef manager, ErrorCompletion completion) override;
    void remove(ManagerRef manager, ErrorCompletion completion) override;

    // Fails for a configuration that is not saved or not enabled. Otherwise
    // the status becomes connecting, then connected; both are signalled.
    std::optional<Error> startTunnel(const TunnelProviderManager& manager) override;
    // Brings a stored tunnel that is not down to disconnected; fails only
    // when that write fails.
    std::optional<Error> stopTunnel(const TunnelProviderManager& manager) override;
    // As of the last change heard (see VPNConnection); invalid when not
    // stored or unreadable.
    VPNStatus status(const TunnelProviderManager& manager) override;
    // Runs `block` on the main queue after each status change by any process,
    // removal included (close changes may share a run); never for an unsaved one.
    void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) override;

    // Sets a stored configuration's status as its provider would, and signals
    // a change. Fails for one that is not stored.
    std::optional<Error> setStatus(const TunnelProviderManager& manager, VPNStatus status);

private:
    void load(bool activeOnly, LoadAllCompletion completion);

    class Impl;
    // Shared with the main-queue tasks of its operations, which hold it weakly.
    std::shared_ptr<Impl> impl_;
};

}  // namespace vxm::platform
