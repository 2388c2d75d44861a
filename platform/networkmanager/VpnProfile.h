// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/VPNStore.h"

namespace vxm::platform::networkmanager {

// What the store reads and writes of a NetworkManager connection profile of
// type "vpn", free of D-Bus types.
struct VpnProfile {
    std::string uuid;         // connection.uuid: the key that lasts
    std::string id;           // connection.id: the display name
    std::string serviceType;  // vpn.service-type: the provider's identifier
    std::map<std::string, std::string> data;     // vpn.data
    std::map<std::string, std::string> secrets;  // vpn.secrets, stored by NetworkManager
    // connection.permissions of a new profile ("user:<name>:"); empty: every
    // user's, a system-wide profile.
    std::string permissions;
    // The profile's D-Bus path as read, which lasts one NetworkManager run.
    std::string path;

    bool operator==(const VpnProfile&) const = default;
};

// vpn.data keys of the store's own, which no provider-configuration key the
// client writes can take.
inline constexpr const char* kServerAddressKey = "vxm-server-address";
inline constexpr const char* kEnabledKey = "vxm-enabled";
inline constexpr const char* kJsonKeysKey = "vxm-json-keys";
// The provider-configuration value that goes into vpn.secrets, never vpn.data.
inline constexpr const char* kPrivateKey = "privateKey";

// The profile for a handle's properties. A protocol other than a tunnel
// provider's has no profile (none). Text values go into vpn.data as they are,
// other JSON values as their JSON text with their keys listed under
// kJsonKeysKey; the private key goes into vpn.secrets, with the flags
// NetworkManager reads for it ("<key>-flags" = "0": NetworkManager stores it).
std::optional<VpnProfile> profileFor(const TunnelProviderManager& manager, const std::string& defaultServiceType);

// The provider configuration a profile holds: the inverse of profileFor.
ProviderConfiguration providerConfigurationOf(const VpnProfile& profile);

// Sets a handle's properties (not the provider configuration, which is read
// when first looked at) from a profile.
void applyProfile(const VpnProfile& profile, TunnelProviderManager& manager);

// NetworkManager's states of an active connection and of a VPN connection.
enum class ActiveState : std::uint32_t {
    unknown = 0,
    activating = 1,
    activated = 2,
    deactivating = 3,
    deactivated = 4,
};
enum class VpnState : std::uint32_t {
    unknown = 0,
    prepare = 1,
    needAuth = 2,
    connect = 3,
    ipConfigGet = 4,
    activated = 5,
    failed = 6,
    disconnected = 7,
};

// The status of a profile whose active connection is in these states; a
// profile that is not active is disconnected.
VPNStatus statusOf(ActiveState active, VpnState vpn);

}  // namespace vxm::platform::networkmanager
