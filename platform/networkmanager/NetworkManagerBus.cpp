// SPDX-License-Identifier: Apache-2.0
#include "platform/networkmanager/NetworkManagerBus.h"

#include <poll.h>

#include <cstdint>
#include <map>
#include <utility>

#include <sdbus-c++/sdbus-c++.h>

namespace vxm::platform::networkmanager {

const Error kGone{"the configuration is no longer in the store"};

namespace {

using Settings = std::map<std::string, std::map<std::string, sdbus::Variant>>;
using Strings = std::map<std::string, std::string>;
using Properties = std::map<std::string, sdbus::Variant>;

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kRootPath = "/org/freedesktop/NetworkManager";
constexpr const char* kSettingsPath = "/org/freedesktop/NetworkManager/Settings";
constexpr const char* kSettings = "org.freedesktop.NetworkManager.Settings";
constexpr const char* kConnection = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr const char* kActive = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kVpnConnection = "org.freedesktop.NetworkManager.VPN.Connection";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
// How long a call waits for NetworkManager's reply before it fails.
constexpr std::chrono::seconds kCallTimeout{10};
// Update2 and AddConnection2: write the profile to disk.
constexpr std::uint32_t kToDisk = 0x1;

bool endsWith(const std::string& text, const std::string& end) { return text.ends_with(end); }

// The error for a failed call, naming the cause; `what` is what was asked,
// as in "could not <what>". NetworkManager's messages name settings, never
// their secret values.
Error errorOf(const sdbus::Error& error, const std::string& what) {
    const std::string& name = error.getName();
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
        return {"NetworkManager is not running on the system bus"};
    }
    if (name == "org.freedesktop.DBus.Error.NoReply" || name == "org.freedesktop.DBus.Error.Timeout") {
        return {"NetworkManager did not answer within " + std::to_string(kCallTimeout.count()) + " s"};
    }
    return {"NetworkManager could not " + what + ": " + error.getMessage()};
}

// An object that was removed meanwhile, or a profile that is not there.
bool isGone(const sdbus::Error& error) {
    const std::string& name = error.getName();
    return name == "org.freedesktop.DBus.Error.UnknownObject" || name == "org.freedesktop.DBus.Error.UnknownMethod" ||
           endsWith(name, ".InvalidConnection") || endsWith(name, ".UnknownConnection");
}

template <class T>
T valueOr(const std::map<std::string, sdbus::Variant>& values, const std::string& key, T fallback) {
    auto found = values.find(key);
    return found != values.end() && found->second.containsValueOfType<T>() ? found->second.get<T>() : fallback;
}

std::optional<VpnProfile> vpnProfileOf(const Settings& settings) {
    auto connection = settings.find("connection");
    auto vpn = settings.find("vpn");
    if (connection == settings.end() || vpn == settings.end() ||
        valueOr<std::string>(connection->second, "type", "") != "vpn") {
        return std::nullopt;
    }
    return VpnProfile{.uuid = valueOr<std::string>(connection->second, "uuid", ""),
                      .id = valueOr<std::string>(connection->second, "id", ""),
                      .serviceType = valueOr<std::string>(vpn->second, "service-type", ""),
                      .data = valueOr<Strings>(vpn->second, "data", {}),
                      .secrets = valueOr<Strings>(vpn->second, "secrets", {})};
}

// Writes the profile's fields into settings, leaving the others as they are.
void writeProfile(const VpnProfile& profile, Settings& settings) {
    auto& connection = settings["connection"];
    connection["id"] = sdbus::Variant(profile.id);
    connection["uuid"] = sdbus::Variant(profile.uuid);
    connection["type"] = sdbus::Variant(std::string("vpn"));
    auto& vpn = settings["vpn"];
    vpn["service-type"] = sdbus::Variant(profile.serviceType);
    vpn["data"] = sdbus::Variant(profile.data);
    vpn["secrets"] = sdbus::Variant(profile.secrets);
}

class SdbusNetworkManager final : public NetworkManagerBus {
public:
    explicit SdbusNetworkManager(ChangeHandler onChange)
        : bus_(sdbus::createSystemBusConnection()), onChange_(std::move(onChange)) {
        const std::string sender = std::string("type='signal',sender='") + kService + "',";
        for (const bool vpn : {true, false}) {
            const std::string rule = sender + "interface='" + (vpn ? kVpnConnection : kActive) + "',member='" +
                                     (vpn ? "VpnStateChanged" : "StateChanged") + "'";
            matches_.push_back(bus_->addMatch(rule, [this, vpn](sdbus::Message& signal) {
                std::uint32_t state = 0;
                signal >> state;
                onChange_(StateChange{.path = signal.getPath(), .vpn = vpn, .state = state});
            }));
        }
        for (const std::string& rule :
             {sender + "path='" + kRootPath + "',interface='" + kProperties + "'",
              std::string("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") + kService +
                  "'"}) {
            matches_.push_back(bus_->addMatch(rule, [this](sdbus::Message& /*signal*/) { onChange_(std::nullopt); }));
        }
    }

    Result<std::vector<VpnProfile>> vpnProfiles(const std::string& serviceType) override {
        try {
            auto paths = get<std::vector<sdbus::ObjectPath>>(kSettingsPath, kSettings, "ListConnections");
            std::vector<std::optional<Settings>> all;
            if (std::optional<sdbus::Error> failure = allSettings(paths, all)) {
                return errorOf(*failure, "list its connection profiles");
            }
            std::vector<VpnProfile> profiles;
            for (const std::optional<Settings>& settings : all) {
                std::optional<VpnProfile> profile = settings ? vpnProfileOf(*settings) : std::nullopt;
                if (profile && profile->serviceType == serviceType) {
                    profiles.push_back(*std::move(profile));
                }
            }
            return profiles;
        } catch (const sdbus::Error& error) {
            return errorOf(error, "list its connection profiles");
        }
    }

    Result<std::optional<VpnProfile>> profile(const std::string& uuid, bool withSecrets) override {
        try {
            std::optional<sdbus::ObjectPath> path = pathOf(uuid);
            std::optional<Settings> settings = path ? settingsAt(*path) : std::nullopt;
            std::optional<VpnProfile> profile = settings ? vpnProfileOf(*settings) : std::nullopt;
            if (profile && withSecrets) {
                auto secrets = get<Settings>(*path, kConnection, "GetSecrets", std::string("vpn"));
                profile->secrets = valueOr<Strings>(secrets["vpn"], "secrets", {});
            }
            return profile;
        } catch (const sdbus::Error& error) {
            if (isGone(error)) {
                return std::optional<VpnProfile>();
            }
            return errorOf(error, "read a connection profile");
        }
    }

    std::optional<Error> add(const VpnProfile& profile) override {
        try {
            Settings settings;
            writeProfile(profile, settings);
            settings["connection"]["autoconnect"] = sdbus::Variant(false);
            if (!profile.permissions.empty()) {
                settings["connection"]["permissions"] = sdbus::Variant(std::vector<std::string>{profile.permissions});
            }
            call(kSettingsPath, kSettings, "AddConnection2", settings, kToDisk, Properties{});
            return std::nullopt;
        } catch (const sdbus::Error& error) {
            return errorOf(error, "add a connection profile");
        }
    }

    std::optional<Error> update(const VpnProfile& profile) override {
        try {
            std::optional<sdbus::ObjectPath> path = pathOf(profile.uuid);
            std::optional<Settings> settings = path ? settingsAt(*path) : std::nullopt;
            if (!settings) {
                return kGone;
            }
            writeProfile(profile, *settings);
            call(*path, kConnection, "Update2", *settings, kToDisk, Properties{});
            return std::nullopt;
        } catch (const sdbus::Error& error) {
            return isGone(error) ? kGone : errorOf(error, "change a connection profile");
        }
    }

    std::optional<Error> remove(const std::string& uuid) override {
        try {
            if (std::optional<sdbus::ObjectPath> path = pathOf(uuid)) {
                call(*path, kConnection, "Delete");
            }
            return std::nullopt;
        } catch (const sdbus::Error& error) {
            return isGone(error) ? std::nullopt : std::optional(errorOf(error, "delete a connection profile"));
        }
    }

    std::optional<Error> activate(const std::string& uuid) override {
        try {
            std::optional<sdbus::ObjectPath> path = pathOf(uuid);
            if (!path) {
                return kGone;
            }
            call(kRootPath, kService, "ActivateConnection", *path, sdbus::ObjectPath("/"), sdbus::ObjectPath("/"));
            return std::nullopt;
        } catch (const sdbus::Error& error) {
            // Here an unknown connection is a missing parent, not the profile.
            if (endsWith(error.getName(), ".ConnectionAlreadyActive")) {
                return std::nullopt;
            }
            return errorOf(error, "activate the connection");
        }
    }

    std::optional<Error> deactivate(const std::string& activePath) override {
        try {
            call(kRootPath, kService, "DeactivateConnection", sdbus::ObjectPath(activePath));
            return std::nullopt;
        } catch (const sdbus::Error& error) {
            if (endsWith(error.getName(), ".ConnectionNotActive") || isGone(error)) {
                return std::nullopt;
            }
            return errorOf(error, "deactivate the connection");
        }
    }

    Result<std::vector<std::pair<std::string, ActiveVpn>>> activeVpns() override {
        try {
            auto value = get<sdbus::Variant>(kRootPath, kProperties, "Get", std::string(kService),
                                             std::string("ActiveConnections"));
            std::vector<std::pair<std::string, ActiveVpn>> found;
            for (const auto& path : value.get<std::vector<sdbus::ObjectPath>>()) {
                try {
                    auto active = get<Properties>(path, kProperties, "GetAll", std::string(kActive));
                    if (!valueOr<bool>(active, "Vpn", false)) {
                        continue;
                    }
                    auto vpnState = get<sdbus::Variant>(path, kProperties, "Get", std::string(kVpnConnection),
                                                        std::string("VpnState"));
                    found.emplace_back(valueOr<std::string>(active, "Uuid", ""),
                                       ActiveVpn{.path = path,
                                                 .state = ActiveState{valueOr<std::uint32_t>(active, "State", 0)},
                                                 .vpnState = VpnState{vpnState.get<std::uint32_t>()}});
                } catch (const sdbus::Error& error) {
                    if (!isGone(error)) {
                        throw;
                    }
                }
            }
            return found;
        } catch (const sdbus::Error& error) {
            return errorOf(error, "list its active connections");
        }
    }

    [[nodiscard]] int descriptor() const override { return bus_->getEventLoopPollData().fd; }

    [[nodiscard]] std::optional<std::chrono::microseconds> due() const override {
        return bus_->getEventLoopPollData().getRelativeTimeout();
    }

    void process() override {
        try {
            while (bus_->processPendingRequest()) {
            }
        } catch (const sdbus::Error&) {
            // A broken connection: nothing more will arrive, and the next
            // call reports why.
            onChange_(std::nullopt);
        }
    }

private:
    template <class... Args>
    sdbus::MethodReply call(const std::string& path, const char* interface, const char* method,
                            const Args&... args) {
        auto proxy = sdbus::createProxy(*bus_, kService, path);
        sdbus::MethodCall message = proxy->createMethodCall(interface, method);
        ((message << args), ...);
        return proxy->callMethod(message, kCallTimeout);
    }

    template <class Out, class... Args>
    Out get(const std::string& path, const char* interface, const char* method, const Args&... args) {
        sdbus::MethodReply reply = call(path, interface, method, args...);
        Out out;
        reply >> out;
        return out;
    }

    std::optional<sdbus::ObjectPath> pathOf(const std::string& uuid) {
        try {
            return get<sdbus::ObjectPath>(kSettingsPath, kSettings, "GetConnectionByUuid", uuid);
        } catch (const sdbus::Error& error) {
            if (isGone(error)) {
                return std::nullopt;
            }
            throw;
        }
    }

    // The settings of every profile into `settings`, asked for all at once
    // and collected as the replies come (each within the call timeout); none
    // for one deleted meanwhile. One call after another would wait for each
    // reply in turn. Returns the first failure.
    std::optional<sdbus::Error> allSettings(const std::vector<sdbus::ObjectPath>& paths,
                                            std::vector<std::optional<Settings>>& settings) {
        settings.assign(paths.size(), std::nullopt);
        std::vector<std::unique_ptr<sdbus::IProxy>> proxies;
        std::optional<sdbus::Error> failure;
        std::size_t pending = paths.size();
        for (std::size_t i = 0; i < paths.size(); ++i) {
            proxies.push_back(sdbus::createProxy(*bus_, kService, paths[i]));
            sdbus::MethodCall message = proxies.back()->createMethodCall(kConnection, "GetSettings");
            proxies.back()->callMethod(
                message,
                [&, i](sdbus::MethodReply& reply, const sdbus::Error* error) {
                    --pending;
                    if (error != nullptr) {
                        if (!isGone(*error) && !failure) {
                            failure = *error;
                        }
                        return;
                    }
                    settings[i].emplace();
                    reply >> *settings[i];
                },
                kCallTimeout);
        }
        while (pending > 0) {
            if (!bus_->processPendingRequest()) {
                sdbus::IConnection::PollData wanted = bus_->getEventLoopPollData();
                pollfd descriptor{wanted.fd, wanted.events, 0};
                (void)::poll(&descriptor, 1, wanted.getPollTimeout());
            }
        }
        return failure;
    }

    std::optional<Settings> settingsAt(const std::string& path) {
        try {
            return get<Settings>(path, kConnection, "GetSettings");
        } catch (const sdbus::Error& error) {
            if (isGone(error)) {
                return std::nullopt;
            }
            throw;
        }
    }

    std::unique_ptr<sdbus::IConnection> bus_;
    ChangeHandler onChange_;
    std::vector<sdbus::Slot> matches_;
};

}  // namespace

Result<std::unique_ptr<NetworkManagerBus>> NetworkManagerBus::connect(ChangeHandler onChange) {
    try {
        return std::unique_ptr<NetworkManagerBus>(std::make_unique<SdbusNetworkManager>(std::move(onChange)));
    } catch (const sdbus::Error& error) {
        return Error{"the system bus cannot be reached: " + error.getMessage()};
    }
}

}  // namespace vxm::platform::networkmanager
