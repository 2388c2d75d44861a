// SPDX-License-Identifier: Apache-2.0
#include "platform/networkmanager/VpnProfile.h"

#include <algorithm>
#include <utility>

namespace vxm::platform::networkmanager {

namespace {

const std::string kFlagsSuffix = "-flags";

std::string secretFlagsKey(const std::string& secret) { return secret + kFlagsSuffix; }

// NetworkManager's flags of a secret the profile holds, not a value.
bool isSecretFlags(const VpnProfile& profile, const std::string& key) {
    return key.size() > kFlagsSuffix.size() && key.ends_with(kFlagsSuffix) &&
           profile.secrets.count(key.substr(0, key.size() - kFlagsSuffix.size())) != 0;
}

}  // namespace

std::optional<VpnProfile> profileFor(const TunnelProviderManager& manager, const std::string& defaultServiceType) {
    const auto* protocol = std::get_if<TunnelProviderProtocol>(&manager.protocolConfiguration);
    if (protocol == nullptr) {
        return std::nullopt;
    }
    VpnProfile profile;
    profile.id = manager.localizedDescription.value_or("");
    profile.serviceType = protocol->providerBundleIdentifier.value_or(defaultServiceType);
    profile.data[kServerAddressKey] = protocol->serverAddress;
    profile.data[kEnabledKey] = manager.isEnabled ? "true" : "false";
    nlohmann::json jsonKeys = nlohmann::json::array();
    if (const ProviderConfiguration* values = protocol->providerConfiguration.get()) {
        for (const auto& [key, value] : *values) {
            if (key == kPrivateKey && value.is_string()) {
                profile.secrets[key] = value.get<std::string>();
                profile.data.insert_or_assign(secretFlagsKey(key), std::string(1, '0'));  // not = "0": g++ 12 at -O3 warns falsely of an overlap
            } else if (value.is_string()) {
                profile.data[key] = value.get<std::string>();
            } else {
                profile.data[key] = value.dump();
                jsonKeys.push_back(key);
            }
        }
    }
    if (!jsonKeys.empty()) {
        profile.data[kJsonKeysKey] = jsonKeys.dump();
    }
    return profile;
}

ProviderConfiguration providerConfigurationOf(const VpnProfile& profile) {
    nlohmann::json jsonKeys;
    if (auto listed = profile.data.find(kJsonKeysKey); listed != profile.data.end()) {
        jsonKeys = nlohmann::json::parse(listed->second, nullptr, false);
    }
    ProviderConfiguration values;
    for (const auto& [key, value] : profile.data) {
        if (key == kServerAddressKey || key == kEnabledKey || key == kJsonKeysKey || isSecretFlags(profile, key)) {
            continue;
        }
        const bool isJson = jsonKeys.is_array() && std::find(jsonKeys.begin(), jsonKeys.end(), key) != jsonKeys.end();
        nlohmann::json decoded = isJson ? nlohmann::json::parse(value, nullptr, false) : nlohmann::json();
        values[key] = isJson && !decoded.is_discarded() ? std::move(decoded) : nlohmann::json(value);
    }
    for (const auto& [key, value] : profile.secrets) {
        values[key] = value;
    }
    return values;
}

void applyProfile(const VpnProfile& profile, TunnelProviderManager& manager) {
    manager.localizedDescription = profile.id;
    auto enabled = profile.data.find(kEnabledKey);
    manager.isEnabled = enabled != profile.data.end() && enabled->second == "true";
    TunnelProviderProtocol protocol;
    protocol.providerBundleIdentifier = profile.serviceType;
    auto server = profile.data.find(kServerAddressKey);
    protocol.serverAddress = server != profile.data.end() ? server->second : "";
    manager.protocolConfiguration = std::move(protocol);
}

VPNStatus statusOf(ActiveState active, VpnState vpn) {
    if (active == ActiveState::deactivating) {
        return VPNStatus::disconnecting;
    }
    if (active == ActiveState::deactivated) {
        return VPNStatus::disconnected;
    }
    switch (vpn) {
        case VpnState::prepare:
        case VpnState::needAuth:
        case VpnState::connect:
        case VpnState::ipConfigGet:
            return VPNStatus::connecting;
        case VpnState::activated:
            return VPNStatus::connected;
        case VpnState::failed:
        case VpnState::disconnected:
            return VPNStatus::disconnected;
        case VpnState::unknown:
            break;
    }
    return active == ActiveState::activated ? VPNStatus::connected : VPNStatus::connecting;
}

}  // namespace vxm::platform::networkmanager
