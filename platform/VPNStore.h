#pragma once

#include <cstdint>
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

// Where a stored configuration's provider configuration is read from when it
// is first looked at: the store that loaded the configuration.
class ProviderConfigurationSource {
public:
    virtual ~ProviderConfigurationSource() = default;

    // What configuration `key` holds now; none when it holds none, when what
    // it holds cannot be decoded, or when it cannot be read or is gone.
    [[nodiscard]] virtual std::optional<ProviderConfiguration> readProviderConfiguration(std::int64_t key) = 0;
};

// A configuration's provider configuration: none, values, or the one a store
// keeps for a configuration, read from the store when first looked at. A
// store loads every configuration and the tool reads one at most, so the
// others are neither copied nor decoded. One that cannot be decoded reads as
// none: a damaged configuration leaves the others, and itself, usable.
//
// Like the handle that holds it, not for reading from two threads at once.
class LazyProviderConfiguration {
public:
    LazyProviderConfiguration() = default;
    LazyProviderConfiguration(std::nullopt_t /*none*/) {}  // NOLINT(google-explicit-constructor)
    LazyProviderConfiguration(ProviderConfiguration values);  // NOLINT(google-explicit-constructor)

    // What configuration `key` of `source` holds, read when first looked at;
    // none once the source is gone.
    static LazyProviderConfiguration stored(std::weak_ptr<ProviderConfigurationSource> source, std::int64_t key);
    // What `read` returns, called at most once, when first looked at.
    static LazyProviderConfiguration stored(std::function<std::optional<ProviderConfiguration>()> read);

    // The values; null for none. Valid until this is assigned to or destroyed.
    [[nodiscard]] const ProviderConfiguration* get() const;
    [[nodiscard]] bool hasValue() const { return get() != nullptr; }

    // The key of the stored configuration this stands for, while it stands
    // for one of `source`: the store then copies what it holds, read or not.
    [[nodiscard]] std::optional<std::int64_t> storedKey(const ProviderConfigurationSource& source) const;

    // Equal when they read as equal.
    bool operator==(const LazyProviderConfiguration& other) const;

private:
    std::weak_ptr<ProviderConfigurationSource> source_;
    std::int64_t key_ = 0;
    std::function<std::optional<ProviderConfiguration>()> reader_;
    mutable bool read_ = true;
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

    // The current status, read live on every call.
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
class TunnelProviderManager : public std::enable_shared_from_this<TunnelProviderManager> {
public:
    // Use VPNConfigurationStore::makeManager.
    explicit TunnelProviderManager(VPNConfigurationStore& store) : store_(&store) {}
    virtual ~TunnelProviderManager() = default;
    TunnelProviderManager(const TunnelProviderManager&) = default;
    TunnelProviderManager& operator=(const TunnelProviderManager&) = default;
    TunnelProviderManager(TunnelProviderManager&&) = default;
    TunnelProviderManager& operator=(TunnelProviderManager&&) = default;

    std::optional<std::string> localizedDescription;
    ProtocolConfiguration protocolConfiguration;
    bool isEnabled = false;

    // The store's own key for this configuration; none until its first save.
    std::optional<std::int64_t> storeKey;

    void saveToPreferences(ErrorCompletion completion);
    void loadFromPreferences(ErrorCompletion completion);
    void removeFromPreferences(ErrorCompletion completion);
    VPNConnection connection();

    [[nodiscard]] VPNConfigurationStore& store() const { return *store_; }

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
class VPNConfigurationStore {
public:
    using LoadAllCompletion = std::function<void(Result<std::vector<ManagerRef>>)>;

    virtual ~VPNConfigurationStore() = default;

    // A new, empty, unsaved configuration of this store.
    virtual ManagerRef makeManager() { return std::make_shared<TunnelProviderManager>(*this); }

    // Every stored configuration in store order, or an error.
    virtual void loadAllFromPreferences(LoadAllCompletion completion) = 0;

    // Stores the handle's current properties: inserts it on its first save
    // (setting its storeKey), updates it afterwards.
    virtual void save(ManagerRef manager, ErrorCompletion completion) = 0;

    // Refreshes every property of the handle from the store; fails for a
    // configuration that is not stored.
    virtual void reload(ManagerRef manager, ErrorCompletion completion) = 0;

    // Deletes the configuration; succeeds for one that is not stored.
    virtual void remove(ManagerRef manager, ErrorCompletion completion) = 0;

    virtual std::optional<Error> startTunnel(const TunnelProviderManager& manager) = 0;
    // No value when the request was accepted, or the configuration is not stored.
    virtual std::optional<Error> stopTunnel(const TunnelProviderManager& manager) = 0;
    virtual VPNStatus status(const TunnelProviderManager& manager) = 0;
    virtual void observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) = 0;
};

}  // namespace vxm::platform
