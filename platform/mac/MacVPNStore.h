// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "platform/VPNStore.h"

namespace vxm::platform {

// The system's VPN configurations, through NETunnelProviderManager. Each
// handle holds its NETunnelProviderManager object, which is the key the
// system knows it by: properties are copied into the object before a save and
// out of it after a load. Completions come on the thread NetworkExtension
// calls its completion handlers on; status observers run on the main thread.
//
// NetworkExtension cannot be locked, so the first save of a new handle lists
// the configurations again: when the site (name and provider) has several,
// the first in store order is kept, the handle's values go into it when it
// holds others, and every later one holding the handle's values (its own
// among them) is removed.
class MacVPNStore final : public VPNConfigurationStore {
public:
    MacVPNStore();
    ~MacVPNStore() override;
    MacVPNStore(const MacVPNStore&) = delete;
    MacVPNStore& operator=(const MacVPNStore&) = delete;

    // A handle over a new NETunnelProviderManager, not stored until saved.
    ManagerRef makeManager() override;

    void loadAllFromPreferences(LoadAllCompletion completion) override;
    void save(ManagerRef manager, ErrorCompletion completion) override;
    void reload(ManagerRef manager, ErrorCompletion completion) override;
    // A handle never loaded from or saved to the system's store, or of
    // another store, succeeds at once: there is nothing to remove.
    void remove(ManagerRef manager, ErrorCompletion completion) override;

    std::optional<Error> startTunnel(const TunnelProviderManager& manager) override;
    // -[NEVPNConnection stopVPNTunnel], which never fails.
    std::optional<Error> stopTunnel(const TunnelProviderManager& manager) override;
    VPNStatus status(const TunnelProviderManager& manager) override;
    // NEVPNStatusDidChangeNotification of the handle's connection, delivered
    // on the main operation queue; never removed.
    void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) override;

private:
    struct Observers;
    std::unique_ptr<Observers> observers_;
};

}  // namespace vxm::platform
