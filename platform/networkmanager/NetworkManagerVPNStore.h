// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "platform/VPNStore.h"
#include "platform/networkmanager/NetworkManagerBus.h"

namespace vxm::platform::networkmanager {

// A configuration kept as a NetworkManager connection profile: the profile's
// UUID is its key, which lasts across NetworkManager's runs (the D-Bus path of
// a profile lasts one run and is looked up for each call).
class NetworkManagerProfile final : public TunnelProviderManager {
public:
    using TunnelProviderManager::TunnelProviderManager;

    std::optional<std::string> uuid;  // none until first saved
    // Where the profile was last read in NetworkManager's current run (a
    // path lasts one run): a hint, checked against the UUID where it matters.
    std::string path;
};

// The VPN configurations of one provider (VPN profiles of the service type
// given, which is what the provider's VPN plugin registers) in NetworkManager,
// over the system bus. Profiles of other types and service types are neither
// listed nor changed.
//
// A new configuration saved just after another process stored one for the
// same site joins it as VPNConfigurationStore says, after its own was added.
//
// Use from the main thread. Every call to NetworkManager waits for its reply
// (at most NetworkManagerBus's timeout); completions are then queued on the
// main queue, never run on the caller's stack. The bus is reached on first
// use; a bus or a NetworkManager that does not answer makes each operation
// fail with the cause. status() reads the active connections live; a read
// holds for the work queued before it, or, once observers subscribed to
// NetworkManager's signals, until a signal tells of a change. Observers are
// woken by those signals through the main queue's watch of the bus
// descriptor (writable too while sd-bus has more to send).
class NetworkManagerVPNStore final : public VPNConfigurationStore {
public:
    NetworkManagerVPNStore(MainQueue& mainQueue, std::string serviceType);
    ~NetworkManagerVPNStore() override;
    NetworkManagerVPNStore(const NetworkManagerVPNStore&) = delete;
    NetworkManagerVPNStore& operator=(const NetworkManagerVPNStore&) = delete;

    ManagerRef makeManager() override;
    void loadAllFromPreferences(LoadAllCompletion completion) override;
    // The profiles with an active connection: their settings alone are read.
    void loadActiveFromPreferences(LoadAllCompletion completion) override;
    void save(ManagerRef manager, ErrorCompletion completion) override;
    void reload(ManagerRef manager, ErrorCompletion completion) override;
    void remove(ManagerRef manager, ErrorCompletion completion) override;
    // Activates the profile: NetworkManager starts the provider's plugin.
    // Fails for a configuration that is not saved, not enabled, or deleted.
    std::optional<Error> startTunnel(const TunnelProviderManager& manager) override;
    std::optional<Error> stopTunnel(const TunnelProviderManager& manager) override;
    // Invalid for a configuration never saved or when NetworkManager cannot
    // be read; disconnected for a profile that is not active.
    VPNStatus status(const TunnelProviderManager& manager) override;
    void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) override;

private:
    Result<NetworkManagerBus*> bus();
    void complete(ErrorCompletion completion, std::optional<Error> error);
    // After a new profile was added: when another of the site's (same id and
    // service type) comes first, moves the values into that one, deletes the
    // new one and points the handle at the first.
    static std::optional<Error> joinFirstOfSite(NetworkManagerBus& bus, NetworkManagerProfile& handle,
                                                VpnProfile profile);
    ManagerRef handleFor(const VpnProfile& profile);
    // Takes a read of the active connections as the current one.
    void remember(std::vector<std::pair<std::string, ActiveVpn>> active);
    void noteChange(std::optional<StateChange> change);
    void pump();
    void schedule();

    MainQueue& mainQueue_;
    std::string serviceType_;
    std::shared_ptr<NetworkManagerBus> bus_;
    // The active VPN connections last read, with their profiles' UUIDs (one
    // twice while NetworkManager replaces an activation); read again when
    // stale (NetworkManager signalled a change, this process asked one, or,
    // unsubscribed, the work queued with the read has run).
    std::vector<std::pair<std::string, ActiveVpn>> active_;
    bool activeStale_ = true;
    bool subscribed_ = false;
    bool changed_ = false;
    bool pumpQueued_ = false;
    bool writeArmed_ = false;
    std::vector<std::function<void()>> observers_;
    std::unique_ptr<MainQueue::Watch> watch_;
    // Ends with the store: queued work that finds it gone does nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vxm::platform::networkmanager
