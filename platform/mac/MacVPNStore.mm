// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacVPNStore.h"

#import <Foundation/Foundation.h>
#import <NetworkExtension/NetworkExtension.h>

#include <atomic>
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

constexpr const char* kNotOfThisStore = "the configuration is not one of this store";
constexpr const char* kNotSaved = "the configuration is not saved";

// A handle of this store: the NetworkExtension object that is the
// configuration's key. `stored` is true once the object came from the
// system's store or was saved to it.
class MacManager final : public TunnelProviderManager {
public:
    MacManager(VPNConfigurationStore& store, NETunnelProviderManager* object, bool stored)
        : TunnelProviderManager(store), object(object), stored(stored) {}

    NETunnelProviderManager* object;
    bool stored;
};

// The handle as this store's own; null for a handle of any other kind.
const MacManager* own(const TunnelProviderManager& manager) { return dynamic_cast<const MacManager*>(&manager); }

// The handle's properties as the object holds them. The provider
// configuration is converted only when it is looked at.
void copyFromObject(MacManager& manager) {
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
        return Error{"the provider configuration holds a value that cannot be stored (null, or text that is not UTF-8)"};
    }
    return dictionary;
}

// The handle's properties into its object, before a save.
std::optional<Error> copyToObject(const MacManager& manager) {
    NETunnelProviderManager* object = manager.object;
    NSString* description = nil;
    if (manager.localizedDescription) {
        description = stringWith(*manager.localizedDescription);
        if (description == nil) {
            return Error{"the configuration's name is not UTF-8 text"};
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
            return Error{"the configuration's protocol holds text that is not UTF-8"};
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

// The handle's values as `object` holds them.
std::shared_ptr<MacManager> valuesOf(VPNConfigurationStore& store, NETunnelProviderManager* object) {
    auto values = std::make_shared<MacManager>(store, object, true);
    copyFromObject(*values);
    return values;
}

// Whether `other` is a configuration of the same site as `mine`: a tunnel
// provider's of the same provider, under the same name.
bool sameSite(const MacManager& mine, const MacManager& other) {
    const auto* ours = std::get_if<TunnelProviderProtocol>(&mine.protocolConfiguration);
    const auto* theirs = std::get_if<TunnelProviderProtocol>(&other.protocolConfiguration);
    return ours != nullptr && theirs != nullptr && mine.localizedDescription == other.localizedDescription &&
           ours->providerBundleIdentifier == theirs->providerBundleIdentifier;
}

bool sameValues(const MacManager& mine, const MacManager& other) {
    return mine.localizedDescription == other.localizedDescription && mine.isEnabled == other.isEnabled &&
           mine.protocolConfiguration == other.protocolConfiguration;
}

// Removes each configuration, then calls `done` once, from the last removal's
// thread. A failure is dropped: the configurations are duplicates.
void removeAll(NSArray<NETunnelProviderManager*>* objects, std::function<void()> done) {
    if (objects.count == 0) {
        done();
        return;
    }
    auto left = std::make_shared<std::atomic<NSUInteger>>(objects.count);
    auto finish = std::make_shared<std::function<void()>>(std::move(done));
    for (NETunnelProviderManager* object in objects) {
        [object removeFromPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
            (void)error;
            if (left->fetch_sub(1) == 1) {
                (*finish)();
            }
        }];
    }
}

// After the first save of a new handle: when another process stored a
// configuration of the same site meanwhile, every process keeps the first in
// store order. The handle takes the first's object; when the first holds
// other values, the handle's go into it; every later one that holds the
// handle's values (its own among them) is removed. A failure to list leaves
// the handle's own configuration, stored, as it is.
void joinSite(VPNConfigurationStore& store, const std::shared_ptr<MacManager>& handle, ErrorCompletion done) {
    [NETunnelProviderManager loadAllFromPreferencesWithCompletionHandler:^(
                                 NSArray<NETunnelProviderManager*>* _Nullable objects, NSError* _Nullable error) {
        NSMutableArray<NETunnelProviderManager*>* site = [NSMutableArray array];
        NSMutableArray<NETunnelProviderManager*>* copies = [NSMutableArray array];
        for (NETunnelProviderManager* object in (error == nil ? objects : nil)) {
            const std::shared_ptr<MacManager> other = valuesOf(store, object);
            if (sameSite(*handle, *other)) {
                if (site.count > 0 && sameValues(*handle, *other)) {
                    [copies addObject:object];
                }
                [site addObject:object];
            }
        }
        if (site.count < 2) {
            done(std::nullopt);
            return;
        }
        NETunnelProviderManager* first = site.firstObject;
        NETunnelProviderManager* mine = handle->object;
        const bool firstHoldsMine = sameValues(*handle, *valuesOf(store, first));
        handle->object = first;
        if (firstHoldsMine) {
            removeAll(copies, [done] { done(std::nullopt); });
            return;
        }
        if (copyToObject(*handle)) {
            handle->object = mine;
            done(std::nullopt);
            return;
        }
        [first saveToPreferencesWithCompletionHandler:^(NSError* _Nullable saveError) {
            if (saveError != nil) {
                // The handle's own configuration stays, stored: it stands for that.
                handle->object = mine;
                done(std::nullopt);
                return;
            }
            removeAll(copies, [done] { done(std::nullopt); });
        }];
    }];
}

}  // namespace

struct MacVPNStore::Observers {
    // The tokens of the status observers, kept for the process's life.
    std::vector<id> tokens;
};

MacVPNStore::MacVPNStore() : observers_(std::make_unique<Observers>()) {}

MacVPNStore::~MacVPNStore() = default;

ManagerRef MacVPNStore::makeManager() {
    return std::make_shared<MacManager>(*this, [[NETunnelProviderManager alloc] init], false);
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
            managers.push_back(valuesOf(*this, object));
        }
        completion(std::move(managers));
    }];
}

void MacVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    auto handle = std::dynamic_pointer_cast<MacManager>(manager);
    if (!handle) {
        completion(Error{kNotOfThisStore});
        return;
    }
    if (std::optional<Error> refused = copyToObject(*handle)) {
        completion(std::move(refused));
        return;
    }
    const bool first = !handle->stored;
    VPNConfigurationStore& store = *this;
    [handle->object saveToPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
        if (error != nil) {
            completion(Error{errorText(error)});
            return;
        }
        handle->stored = true;
        if (first) {
            joinSite(store, handle, completion);
        } else {
            completion(std::nullopt);
        }
    }];
}

void MacVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    auto handle = std::dynamic_pointer_cast<MacManager>(manager);
    if (!handle || !handle->stored) {
        completion(Error{kNotSaved});
        return;
    }
    [handle->object loadFromPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
        if (error != nil) {
            completion(Error{errorText(error)});
            return;
        }
        copyFromObject(*handle);
        completion(std::nullopt);
    }];
}

void MacVPNStore::remove(ManagerRef manager, ErrorCompletion completion) {
    auto handle = std::dynamic_pointer_cast<MacManager>(manager);
    if (!handle || !handle->stored) {
        // Never stored: nothing to remove.
        completion(std::nullopt);
        return;
    }
    [handle->object removeFromPreferencesWithCompletionHandler:^(NSError* _Nullable error) {
        if (error != nil) {
            completion(Error{errorText(error)});
            return;
        }
        handle->stored = false;
        completion(std::nullopt);
    }];
}

std::optional<Error> MacVPNStore::startTunnel(const TunnelProviderManager& manager) {
    const MacManager* handle = own(manager);
    if (handle == nullptr) {
        return Error{kNotOfThisStore};
    }
    NSError* error = nil;
    if (![handle->object.connection startVPNTunnelAndReturnError:&error]) {
        return Error{errorText(error)};
    }
    return std::nullopt;
}

std::optional<Error> MacVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    if (const MacManager* handle = own(manager)) {
        [handle->object.connection stopVPNTunnel];
    }
    return std::nullopt;
}

VPNStatus MacVPNStore::status(const TunnelProviderManager& manager) {
    const MacManager* handle = own(manager);
    if (handle == nullptr) {
        return VPNStatus::invalid;
    }
    return vpnStatusFrom(static_cast<long long>(handle->object.connection.status));
}

void MacVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    const MacManager* handle = own(manager);
    if (handle == nullptr) {
        return;
    }
    auto held = std::make_shared<std::function<void()>>(std::move(block));
    id token = [[NSNotificationCenter defaultCenter] addObserverForName:NEVPNStatusDidChangeNotification
                                                                 object:handle->object.connection
                                                                  queue:[NSOperationQueue mainQueue]
                                                             usingBlock:^(NSNotification* notification) {
                                                                 (void)notification;
                                                                 (*held)();
                                                             }];
    observers_->tokens.push_back(token);
}

}  // namespace vxm::platform
