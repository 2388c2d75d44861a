// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Types.h"
#include "platform/VPNStore.h"

namespace vxm::tunnel {

// The client's identifier, fixed when the tool is built.
inline constexpr std::string_view kAppIdentifier = VXM_APP_IDENTIFIER;

// The tool's only layer over the VPN configuration store. It keeps no state:
// every operation is class-level and works on the store or handle it is given.
// Completions run on whichever thread the store delivers them; nothing here
// switches queues. Each completion is called exactly once.
class TunnelManager {
public:
    TunnelManager() = delete;

    using ManagersCompletion = std::function<void(platform::Result<std::vector<platform::ManagerRef>>)>;
    using ManagerCompletion = std::function<void(platform::Result<platform::ManagerRef>)>;

    // The identifier that marks the client's configurations: the app's, then ".tunnel".
    static std::string providerBundleIdentifier();

    // "Vexomi — " and the site name, untrimmed; the key by which a site's
    // configuration is found.
    static std::string displayName(std::string_view siteName);

    // The client's configurations in store order: those whose protocol is a
    // tunnel provider's with the client's provider bundle identifier.
    static void loadAll(platform::VPNConfigurationStore& store, ManagersCompletion completion);

    // Those of them whose tunnel may be up (neither disconnected nor
    // invalid; with some stores, all); with `siteName`, instead, the first
    // configuration of any provider among those that may be up whose display
    // name is the site's, if any. What a status, a wait or a stop looks at,
    // read without the others where the store can.
    static void loadActive(platform::VPNConfigurationStore& store, std::optional<std::string> siteName,
                           ManagersCompletion completion);

    // The first stored configuration, of any provider, whose display name is
    // the site's; else a new, unsaved one with that name and the client's
    // provider. Nothing is stored.
    static void loadOrCreate(platform::VPNConfigurationStore& store, std::string siteName,
                             ManagerCompletion completion);

    // Writes the document into the configuration, enables it, then saves,
    // reloads and requests the start, each step from the last one's
    // completion. Fails without saving when the protocol is not a tunnel
    // provider's.
    static void startTunnel(const platform::ManagerRef& manager, const TunnelConfig& config,
                            platform::ErrorCompletion completion);

    // The configuration's VPN address: its provider configuration's "address"
    // up to the first "/"; none when there is no such text value.
    static std::optional<std::string> vpnIP(const platform::TunnelProviderManager& manager);
};

// The address part of an "address/prefix" text: everything before the first "/".
std::string addressBeforePrefix(std::string_view address);

}  // namespace vxm::tunnel
