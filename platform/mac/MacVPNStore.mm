#include "platform/mac/MacVPNStore.h"

#import <Foundation/Foundation.h>
#import <NetworkExtension/NetworkExtension.h>

#include <utility>
#include <vector>

#include "platform/mac/MacValues.h"

// The platform's statuses are NetworkExtension's numbers.
static_assert(static_cast<long long>(vxm::platform::VPNStatus::invalid) == NEVPNStatusInvalid);
static_assert(static_cast<long long>(vxm::platform::VPNStatus::disconnected) == NEVPNStatusDisconnected);
static_assert(static_cast<long long>(vxm::platform::VPNStatus::connecting) == NEVPNStatusConnecting);
static_assert(static_cast<long long>(vxm::platform::VPNStatus::connected) == NEVPNStatusConnected);
static_assert(static_cast<long long>(vxm::platform::VPNStatus::reasserting) == NEVPNStatusReasserting);
static_assert(static_cast<long long>(vxm::platform::VPNStatus::disconnecting) == NEVPNStatusDisconnecting);

namespace vxm::platform {

namespace {

// A handle and the NetworkExtension object it stands for. `stored` is true
// once the object came from the system's store or was saved to it.
class MacTunnelProviderManager final : public TunnelProviderManager {
public:
    MacTunnelProviderManager(VPNConfigurationStore& store, NETunnelProviderManager* object, bool stored)
        : TunnelProviderManager(store), object(object), stored(stored) {}

    NETunnelProviderManager* object;
    bool stored;
};

MacTunnelProviderManager& macManager(TunnelProviderManager& manager) {
    return static_cast<MacTunnelProviderManager&>(manager);
}

const MacTunnelProviderManager& macManager(const TunnelProviderManager& manager) {
    return static_cast<const MacTunnelProviderManager&>(manager);
}

std::optional<Error> errorFrom(NSError* _Nullable error) {
    if (error == nil) {
        return std::nullopt;
    }
    return Error{errorText(error)};
}

// The handle's properties as the object holds them. The provider
// configuration is converted only when it is looked at.
void copyFromObject(MacTunnelProviderManager& manager) {
    NETunnelProviderManager* object = manager.object;
    manager.localizedDescription = object.localizedDescription == nil
                                       ? std::nullopt
                                       : std::optional<std::string>(textOf(object.localizedDescription));
    manager.isEnabled = object.isEnabled;
    NEVPNProtocol* protocol = object.protocolConfiguration;
    if (protocol == nil) {
        manager.protocolConfiguration = NoProtocol{};
    } else if ([protocol isKindOfClass:[NETunnelProviderProtocol class]]) {
        auto* tunnel = static_cast<NETunnelProviderProtocol*>(protocol);
        NSDictionary* values = tunnel.providerConfiguration;
        manager.protocolConfiguration = TunnelProviderProtocol{
            .providerBundleIdentifier = tunnel.providerBundleIdentifier == nil
                                            ? std::nullopt
                                            : std::optional<std::string>(textOf(tunnel.providerBundleIdentifier)),
            .serverAddress = textOf(tunnel.serverAddress),
            .providerConfiguration = values == nil ? LazyProviderConfiguration()
                                                   : LazyProviderConfiguration::stored([values] {
                                                         return std::optional<ProviderConfiguration>(
                                                             providerConfigurationFrom(values));
                                                     }),
        };
    } else {
        manager.protocolConfiguration = OtherProtocol{textOf(NSStringFromClass([protocol class]))};
    }
}

// The provider configuration the object is to hold; the one it holds when
// the handle's reads the same, so that values without a JSON form (data,
// dates) that another program stored stay. An error for values without a
// property-list form.
Result<NSDictionary*> providerDictionary(const LazyProviderConfiguration& configuration, NSDictionary* _Nullable held) {
    if (!configuration.hasValue()) {
        return static_cast<NSDictionary*>(nil);
    }
    if (held != nil && configuration == LazyProviderConfiguration(providerConfigurationFrom(held))) {
        return held;
    }
    NSDictionary* dictionary = dictionaryFrom(*configuration.get());
    if (dictionary == nil) {
        return Error{"The provider configuration holds a value that cannot be stored (null, or text that is not UTF-8)"};
    }
    return dictionary;
}

// The handle's properties into its object, before a save.
std::optional<Error> copyToObject(const MacTunnelProviderManager& manager) {
    NETunnelProviderManager* object = manager.object;
    NSString* description = nil;
    if (manager.localizedDescription) {
        description = stringWith(*manager.localizedDescription);
        if (description == nil) {
            return Error{"The configuration's name is not UTF-8 text"};
        }
    }
    NEVPNProtocol* protocol = object.protocolConfiguration;
    if (const auto* tunnel = std::get_if<TunnelProviderProtocol>(&manager.protocolConfiguration)) {
        NETunnelProviderProtocol* target = [protocol isKindOfClass:[NETunnelProviderProtocol class]]
                                               ? static_cast<NETunnelProviderProtocol*>(protocol)
                                               : [[NETunnelProviderProtocol alloc] init];
        Result<NSDictionary*> values = providerDictionary(tunnel->providerConfiguration, target.providerConfiguration);
        NSString* bundle = tunnel->providerBundleIdentifier ? stringWith(*tunnel->providerBundleIdentifier) : nil;
        NSString* server = stringWith(tunnel->serverAddress);
        if (!values.ok()) {
            return values.error();
        }
        if (server == nil || (tunnel->providerBundleIdentifier && bundle == nil)) {
            return Error{"The configuration's protocol holds text that is not UTF-8"};
        }
        target.providerBundleIdentifier = bundle;
        target.serverAddress = server;
        target.providerConfiguration = values.value();
        protocol = target;
    } else if (std::holds_alternative<NoProtocol>(manager.protocolConfiguration)) {
        protocol = nil;
    }
    // A protocol of another kind is left as the object holds it.
    object.localizedDescription = description;
    object.enabled = manager.isEnabled ? YES : NO;
    object.protocolConfiguration = protocol;
    return std::nullopt;
}

}  // namespace

struct MacVPNStore::Observers {
    // The tokens of the status observers, kept for the process's life.
    std::vector<id> tokens;
};

MacVPNStore::MacVPNStore() : observers_(std::make_unique<Observers>()) {}

MacVPNStore::~MacVPNStore() = default;

ManagerRef MacVPNStore::makeManager() {
    return std::make_shared<MacTunnelProviderManager>(*this, [[NETunnelProviderManager alloc] init], false);
}

void MacVPNStore::loadAllFromPreferences(LoadAllCompletion completion) {
    [NETunnelProviderManager loadAllFromPreferencesWithCompletionHandler:^(
                                 NSArray<NETunnelProviderManager*>* _Nullable objects, NSError* _Nullable error) {
        if (error != nil) {
            completion(Error{errorText(error)});
            return;
        }
        std::vector<ManagerRef> managers;
        managers.reserve(objects.count);
        for (NETunnelProviderManager* object in objects) {
            auto manager = std::make_shared<MacTunnelProviderManager>(*this, object, true);
            copyFromObject(*manager);
            managers.push_back(std::move(manager));
        }
        completion(std::move(managers));
    }];
}

void MacVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    MacTunnelProviderManager& handle = macManager(*manager);
    if (std::optional<Error> refused = copyToObject(handle)) {
        completion(std::move(refused));
        return;
    }
    [handle.object saveToPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
        if (error == nil) {
            macManager(*manager).stored = true;
        }
        completion(errorFrom(error));
    }];
}

void MacVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    [macManager(*manager).object loadFromPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
        if (error == nil) {
            copyFromObject(macManager(*manager));
        }
        completion(errorFrom(error));
    }];
}

void MacVPNStore::remove(ManagerRef manager, ErrorCompletion completion) {
    MacTunnelProviderManager& handle = macManager(*manager);
    if (!handle.stored) {
        completion(std::nullopt);
        return;
    }
    [handle.object removeFromPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
        if (error == nil) {
            macManager(*manager).stored = false;
        }
        completion(errorFrom(error));
    }];
}

std::optional<Error> MacVPNStore::startTunnel(const TunnelProviderManager& manager) {
    NSError* error = nil;
    if (![macManager(manager).object.connection startVPNTunnelAndReturnError:&error]) {
        return Error{errorText(error)};
    }
    return std::nullopt;
}

std::optional<Error> MacVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    [macManager(manager).object.connection stopVPNTunnel];
    return std::nullopt;
}

VPNStatus MacVPNStore::status(const TunnelProviderManager& manager) {
    return vpnStatusFrom(static_cast<long long>(macManager(manager).object.connection.status));
}

void MacVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    auto held = std::make_shared<std::function<void()>>(std::move(block));
    id token = [[NSNotificationCenter defaultCenter] addObserverForName:NEVPNStatusDidChangeNotification
                                                                 object:macManager(manager).object.connection
                                                                  queue:[NSOperationQueue mainQueue]
                                                             usingBlock:^(NSNotification* notification) {
                                                                 (void)notification;
                                                                 (*held)();
                                                             }];
    observers_->tokens.push_back(token);
}

}  // namespace vxm::platform
