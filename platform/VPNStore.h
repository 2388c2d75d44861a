// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Error.h"

namespace vxm::platform {

// The state of a configuration's tunnel, numbered as the platform numbers it.
enum class VPNStatus : int {
    invalid = 0,
    disconnected = 1,
    connecting = 2,
    connected = 3,
    reasserting = 4,
    disconnecting = 5,
};

// Keys to values handed to the packet-tunnel provider. The tool writes text
// only, but a stored value may be of any JSON type.
using ProviderConfiguration = std::map<std::string, nlohmann::json>;

// A configuration's provider configuration: none, values, or the one a store
// keeps for a configuration, read from the store when first looked at. A
// store loads every configuration and the tool reads one at most, so the
// others are neither copied nor decoded. One that cannot be decoded reads as
// none: a damaged configuration leaves the others, and itself, usable.
//
// Like the handle that holds it, not for reading from two threads at once.
class LazyProviderConfiguration {
public:
    using Read = std::function<std::optional<ProviderConfiguration>()>;

    LazyProviderConfiguration() = default;
    LazyProviderConfiguration(std::nullopt_t /*none*/) {}  // NOLINT(google-explicit-constructor)
    LazyProviderConfiguration(ProviderConfiguration values);  // NOLINT(google-explicit-constructor)

    // What `read` returns, called when first looked at and never again. The
    // store gives it: it returns none when the configuration holds none, when
    // what it holds cannot be decoded or read, or when the store is gone.
    static LazyProviderConfiguration stored(Read read);

    // The values; null for none. Valid until this is assigned to or destroyed.
    [[nodiscard]] const ProviderConfiguration* get() const;
    [[nodiscard]] bool hasValue() const { return get() != nullptr; }

    // Equal when they read as equal.
    bool operator==(const LazyProviderConfiguration& other) const;

private:
    // Set until the first look; dropped then, with what it holds.
    mutable Read read_;
    // Shared by copies: never changed once made.
    mutable std::shared_ptr<const ProviderConfiguration> values_;
};

// A configuration without a protocol.
struct NoProtocol {
    bool operator==(const NoProtocol&) const = default;
};

// The protocol of a configuration served by a packet-tunnel provider.
struct TunnelProviderProtocol {
    std::optional<std::string> providerBundleIdentifier;
    std::string serverAddress;
    LazyProviderConfiguration providerConfiguration;

    bool operator==(const TunnelProviderProtocol&) const = default;
};

// A protocol of any other kind (IKEv2, say); the tool never looks inside.
struct OtherProtocol {
    std::string kind;

    bool operator==(const OtherProtocol&) const = default;
};

using ProtocolConfiguration = std::variant<NoProtocol, TunnelProviderProtocol, OtherProtocol>;

class VPNConfigurationStore;
class TunnelProviderManager;
using ManagerRef = std::shared_ptr<TunnelProviderManager>;

// Completion of an operation that yields nothing but may fail.
using ErrorCompletion = std::function<void(std::optional<Error>)>;

// The tunnel of one configuration. Valid while its configuration handle lives.
class VPNConnection {
public:
    explicit VPNConnection(ManagerRef manager) : manager_(std::move(manager)) {}

    // Asks for the tunnel to come up. No value when the request was accepted;
    // the tunnel may still be connecting when this returns.
    std::optional<Error> startVPNTunnel();

    // Asks for the tunnel to go down and returns at once, without waiting for
    // it to be down. No value when the request was accepted; on macOS it never
    // fails. A configuration that is not stored has no tunnel to stop: that
    // succeeds.
    std::optional<Error> stopVPNTunnel();

    // The status as of the last status change this process has heard of,
    // as a macOS connection's is: a change this process made reads at once,
    // one made by another process once its notification has reached this
    // process (on the main queue, before the observers run). A store may
    // read it fresher; none reads it staler.
    [[nodiscard]] VPNStatus status() const;

    // Runs `block` on the main queue after every status change of this
    // connection, for as long as the process lives.
    void observeStatusChanges(std::function<void()> block);

private:
    ManagerRef manager_;
};

// A handle to one VPN configuration: its properties as last loaded or set, and
// the store that keeps it. A handle made by the store is new and unsaved; its
// first save stores it, later saves update it. Every operation with a
// completion calls it exactly once, on the thread the store states.
//
// Each store derives its own handle from this one to keep the key by which
// it finds the configuration (a row id, a profile's UUID, the system's own
// configuration object); the logic never sees a key. A handle of a store's
// own type is what its makeManager and its loads return; one of any other
// type stands for a configuration that is not stored, and saving it fails.
// Not copied but by a store's own handles, so that no copy loses its key.
class TunnelProviderManager : public std::enable_shared_from_this<TunnelProviderManager> {
public:
    // A handle of no store's own type; stores make theirs with makeManager.
    explicit TunnelProviderManager(VPNConfigurationStore& store) : store_(&store) {}
    virtual ~TunnelProviderManager() = default;

    std::optional<std::string> localizedDescription;
    ProtocolConfiguration protocolConfiguration;
    bool isEnabled = false;

    void saveToPreferences(ErrorCompletion completion);
    void loadFromPreferences(ErrorCompletion completion);
    void removeFromPreferences(ErrorCompletion completion);
    VPNConnection connection();

    [[nodiscard]] VPNConfigurationStore& store() const { return *store_; }

protected:
    TunnelProviderManager(const TunnelProviderManager&) = default;
    TunnelProviderManager(TunnelProviderManager&&) = default;
    TunnelProviderManager& operator=(const TunnelProviderManager&) = default;
    TunnelProviderManager& operator=(TunnelProviderManager&&) = default;

private:
    VPNConfigurationStore* store_;
};

// The system's store of VPN configurations. Implementations state on which
// thread they call completions; callers do not rely on it.
//
// Removing or stopping a configuration that is not stored (never saved, or
// removed meanwhile, by this process or another) succeeds: it is as removed
// and as stopped as it can be. So two processes removing the same
// configuration both succeed.
//
// Every store keeps one promise of its own, since only a store can tell its
// configurations apart: a new configuration saved just after another process
// stored one for the same site joins it. When a handle's first save finds a
// tunnel-provider configuration of the same display name and provider that
// was stored after this store last loaded the list, the save updates that
// one and the handle stands for it from then on; so processes that each
// found no configuration for a site and made one at the same time end with
// one, not several. The SQLite store looks for it in the transaction that
// saves, under the store's write lock, among rows whose ids only grow. A
// store that cannot lock (NetworkManager, NetworkExtension) stores the new
// configuration, then lists the site's configurations again; when there are
// several, every process keeps the first in store order, which all of them
// see alike: one whose own came later saves its values into the first and
// deletes its own. The in-memory fake serves one process: nothing to join.
class VPNConfigurationStore {
public:
    using LoadAllCompletion = std::function<void(Result<std::vector<ManagerRef>>)>;

    virtual ~VPNConfigurationStore() = default;

    // A new, empty, unsaved configuration: a handle of this store's own type.
    virtual ManagerRef makeManager() = 0;

    // Every stored configuration in store order, or an error.
    virtual void loadAllFromPreferences(LoadAllCompletion completion) = 0;

    // The stored configurations whose status is neither disconnected nor
    // invalid, in store order (with status() answered from the same read
    // until the completion returns). A store that cannot tell them apart
    // more cheaply than by loading all gives every configuration.
    virtual void loadActiveFromPreferences(LoadAllCompletion completion) {
        loadAllFromPreferences(std::move(completion));
    }

    // Stores the handle's current properties: inserts it on its first save
    // (or joins a configuration stored meanwhile, see above), updates it
    // afterwards.
    virtual void save(ManagerRef manager, ErrorCompletion completion) = 0;

    // Refreshes every property of the handle from the store; fails for a
    // configuration that is not stored.
    virtual void reload(ManagerRef manager, ErrorCompletion completion) = 0;

    // Deletes the configuration; succeeds for one that is not stored.
    virtual void remove(ManagerRef manager, ErrorCompletion completion) = 0;

    virtual std::optional<Error> startTunnel(const TunnelProviderManager& manager) = 0;
    // No value when the request was accepted, or the configuration is not stored.
    virtual std::optional<Error> stopTunnel(const TunnelProviderManager& manager) = 0;
    // As fresh as VPNConnection::status says.
    virtual VPNStatus status(const TunnelProviderManager& manager) = 0;
    virtual void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) = 0;
};

}  // namespace vxm::platform
