// SPDX-License-Identifier: Apache-2.0
#include "TunnelManager.h"

#include <utility>

#include "UnicodeText.h"

namespace vxm::tunnel {

using platform::Error;
using platform::ManagerRef;
using platform::Result;
using platform::TunnelProviderProtocol;

namespace {

const Error kInvalidProtocol{"Invalid protocol configuration"};

bool belongsToClient(const platform::TunnelProviderManager& manager, const std::string& identifier) {
    const auto* protocol = std::get_if<TunnelProviderProtocol>(&manager.protocolConfiguration);
    return protocol != nullptr && protocol->providerBundleIdentifier == identifier;
}

ManagerRef firstNamed(const std::vector<ManagerRef>& managers, const std::string& displayName) {
    for (const ManagerRef& manager : managers) {
        if (manager->localizedDescription && canonicallyEqual(*manager->localizedDescription, displayName)) {
            return manager;
        }
    }
    return nullptr;
}

ManagerRef makeSiteManager(platform::VPNConfigurationStore& store, std::string displayName) {
    ManagerRef manager = store.makeManager();
    manager->localizedDescription = std::move(displayName);
    TunnelProviderProtocol protocol;
    protocol.providerBundleIdentifier = TunnelManager::providerBundleIdentifier();
    protocol.serverAddress = "Vexomi";
    manager->protocolConfiguration = std::move(protocol);
    return manager;
}

platform::ProviderConfiguration providerConfiguration(const TunnelConfig& config) {
    return {
        {"privateKey", config.privateKey}, {"address", config.address},       {"serverPubkey", config.serverPubkey},
        {"endpoint", config.endpoint},     {"allowedIPs", config.allowedIPs},
    };
}

}  // namespace

std::string TunnelManager::providerBundleIdentifier() { return std::string(kAppIdentifier) + ".tunnel"; }

std::string TunnelManager::displayName(std::string_view siteName) {
    return "Vexomi \xE2\x80\x94 " + std::string(siteName);
}

void TunnelManager::loadAll(platform::VPNConfigurationStore& store, ManagersCompletion completion) {
    store.loadAllFromPreferences([completion = std::move(completion)](Result<std::vector<ManagerRef>> loaded) {
        if (!loaded.ok()) {
            completion(loaded.error());
            return;
        }
        const std::string identifier = providerBundleIdentifier();
        // Filtered in place: a store may hold thousands.
        std::vector<ManagerRef> managers = std::move(loaded.value());
        std::erase_if(managers, [&](const ManagerRef& manager) { return !belongsToClient(*manager, identifier); });
        completion(std::move(managers));
    });
}

void TunnelManager::loadActive(platform::VPNConfigurationStore& store, std::optional<std::string> siteName,
                               ManagersCompletion completion) {
    store.loadActiveFromPreferences([siteName = std::move(siteName), completion = std::move(completion)](
                                        Result<std::vector<ManagerRef>> loaded) {
        if (!loaded.ok()) {
            completion(loaded.error());
            return;
        }
        std::vector<ManagerRef> managers = std::move(loaded.value());
        if (siteName) {
            // As loadOrCreate finds a site: by its name alone.
            ManagerRef found = firstNamed(managers, displayName(*siteName));
            managers = found ? std::vector<ManagerRef>{std::move(found)} : std::vector<ManagerRef>{};
        } else {
            const std::string identifier = providerBundleIdentifier();
            std::erase_if(managers, [&](const ManagerRef& manager) { return !belongsToClient(*manager, identifier); });
        }
        completion(std::move(managers));
    });
}

void TunnelManager::loadOrCreate(platform::VPNConfigurationStore& store, std::string siteName,
                                 ManagerCompletion completion) {
    store.loadAllFromPreferences([&store, siteName = std::move(siteName),
                                  completion = std::move(completion)](Result<std::vector<ManagerRef>> loaded) {
        if (!loaded.ok()) {
            completion(loaded.error());
            return;
        }
        std::string name = displayName(siteName);
        if (ManagerRef found = firstNamed(loaded.value(), name)) {
            completion(std::move(found));
            return;
        }
        completion(makeSiteManager(store, std::move(name)));
    });
}

void TunnelManager::startTunnel(const ManagerRef& manager, const TunnelConfig& config,
                                platform::ErrorCompletion completion) {
    auto* protocol = std::get_if<TunnelProviderProtocol>(&manager->protocolConfiguration);
    if (protocol == nullptr) {
        completion(kInvalidProtocol);
        return;
    }
    protocol->providerConfiguration = providerConfiguration(config);
    protocol->serverAddress = config.endpoint;
    manager->isEnabled = true;

    manager->saveToPreferences([manager, completion = std::move(completion)](std::optional<Error> saveError) {
        if (saveError) {
            completion(std::move(saveError));
            return;
        }
        manager->loadFromPreferences([manager, completion](std::optional<Error> reloadError) {
            if (reloadError) {
                completion(std::move(reloadError));
                return;
            }
            completion(manager->connection().startVPNTunnel());
        });
    });
}

std::optional<std::string> TunnelManager::vpnIP(const platform::TunnelProviderManager& manager) {
    const auto* protocol = std::get_if<TunnelProviderProtocol>(&manager.protocolConfiguration);
    const platform::ProviderConfiguration* values = protocol != nullptr ? protocol->providerConfiguration.get() : nullptr;
    if (values == nullptr) {
        return std::nullopt;
    }
    auto address = values->find("address");
    if (address == values->end() || !address->second.is_string()) {
        return std::nullopt;
    }
    return addressBeforePrefix(address->second.get_ref<const std::string&>());
}

std::string addressBeforePrefix(std::string_view address) { return std::string(address.substr(0, address.find('/'))); }

}  // namespace vxm::tunnel
