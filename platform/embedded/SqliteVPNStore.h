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
// that names the same path.
//
// Completions run on the main queue, never on the caller's stack. Each
// operation with a completion is queued; one main-queue task then runs what
// is queued in request order, each operation in a transaction of its own, and
// calls each completion once its transaction has committed (or failed). A completion that
// reported success has its change in the file, so a crash right after keeps it.
// Start and stop requests and status reads work at once on the caller's
// thread. Every operation is safe from any thread.
//
// A new configuration joins one stored for its site since the last load (as
// every store's does; see VPNConfigurationStore): the transaction that saves
// it, under the write lock, looks for a tunnel-provider configuration of the
// same display name (as the `sameName` given compares them) and provider with
// a higher key than any in the list this store last loaded (keys only grow)
// and saves into that one.
//
// The file is opened on the first operation that needs it, so a run that never
// reaches the store leaves no trace. A file at the path that is not a store of
// this program is never written: every operation fails instead.
//
// Status changes are signalled to other processes through a StatusSignal file
// beside the store. Once a store has opened the file it listens for them
// (StoreObservers); status() answers from what it last read until it hears of
// a change, and observers run their blocks after it (see observeStatusChanges).
//
// The work is shared among parts that each do one job on the state that
// StoreConnection owns and locks: OperationQueue runs the operations with a
// completion, StatusCache keeps the statuses last read, StoreObservers hears
// of changes and runs the observers' blocks, StandInProvider moves statuses, and StoreQueries
// holds the SQL and maps rows to handles. A loaded handle's provider
// configuration is read through StoreConnection when first looked at (none
// once the store is destroyed). Destroy the store with its main queue stopped.
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
    std::unique_ptr<Impl> impl_;
};

}  // namespace vxm::platform
