// SPDX-License-Identifier: Apache-2.0
#include "platform/networkmanager/NetworkManagerBus.h"

#include <poll.h>

#include <algorithm>
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

// A method call to NetworkManager whose arguments are all text.
struct Call {
    std::string path;
    const char* interface;
    const char* method;
    std::vector<std::string> args;
};

// The settings a reply holds, and the path they were read at.
std::optional<VpnProfile> vpnProfileAt(const std::optional<sdbus::MethodReply>& reply, const std::string& path) {
    if (!reply) {
        return std::nullopt;
    }
    Settings settings;
    sdbus::MethodReply message = *reply;
    message >> settings;
    std::optional<VpnProfile> profile = vpnProfileOf(settings);
    if (profile) {
        profile->path = path;
    }
    return profile;
}

class SdbusNetworkManager final : public NetworkManagerBus {
public:
    explicit SdbusNetworkManager(ChangeHandler onChange)
        : bus_(sdbus::createSystemBusConnection()), onChange_(std::move(onChange)) {}

    void subscribe() override {
        if (!matches_.empty()) {
            return;
        }
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
        // NetworkManager's own properties: of those, only its list of
        // active connections tells of a change.
        matches_.push_back(bus_->addMatch(
            sender + "path='" + kRootPath + "',interface='" + kProperties + "',member='PropertiesChanged'",
            [this](sdbus::Message& signal) {
                std::string interface;
                Properties changed;
                std::vector<std::string> invalidated;
                signal >> interface >> changed >> invalidated;
                auto listed = changed.find("ActiveConnections");
                if (listed != changed.end() && listed->second.containsValueOfType<std::vector<sdbus::ObjectPath>>()) {
                    auto paths = listed->second.get<std::vector<sdbus::ObjectPath>>();
                    onChange_(StateChange{.activeConnections = std::vector<std::string>(paths.begin(), paths.end())});
                } else if (listed != changed.end() ||
                           std::find(invalidated.begin(), invalidated.end(), "ActiveConnections") != invalidated.end()) {
                    onChange_(std::nullopt);
                }
            }));
        matches_.push_back(
            bus_->addMatch(std::string("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
                               kService + "'",
                           [this](sdbus::Message& /*signal*/) { onChange_(std::nullopt); }));
    }

    Result<std::vector<VpnProfile>> vpnProfiles(const std::string& serviceType) override {
        try {
            auto paths = get<std::vector<sdbus::ObjectPath>>(kSettingsPath, kSettings, "ListConnections");
            std::vector<Call> calls;
            calls.reserve(paths.size());
            for (const sdbus::ObjectPath& path : paths) {
                calls.push_back({path, kConnection, "GetSettings", {}});
            }
            std::vector<std::optional<sdbus::MethodReply>> replies = callAll(calls);
            std::vector<VpnProfile> profiles;
            for (std::size_t i = 0; i < replies.size(); ++i) {
                std::optional<VpnProfile> profile = vpnProfileAt(replies[i], paths[i]);
                if (profile && profile->serviceType == serviceType) {
                    profiles.push_back(*std::move(profile));
                }
            }
            return profiles;
        } catch (const sdbus::Error& error) {
            return errorOf(error, "list its connection profiles");
        }
    }

    Result<std::optional<VpnProfile>> profile(const std::string& uuid) override {
        try {
            std::optional<sdbus::ObjectPath> path = pathOf(uuid);
            return path ? profileAt(*path, uuid) : std::optional<VpnProfile>();
        } catch (const sdbus::Error& error) {
            return errorOf(error, "read a connection profile");
        }
    }

    Result<std::optional<VpnProfile>> profileAt(const std::string& path, const std::string& uuid) override {
        try {
            // Both at once: one wait for NetworkManager instead of two.
            std::vector<std::optional<sdbus::MethodReply>> replies =
                callAll({{path, kConnection, "GetSettings", {}}, {path, kConnection, "GetSecrets", {"vpn"}}});
            std::optional<VpnProfile> profile = vpnProfileAt(replies[0], path);
            if (!profile || profile->uuid != uuid || !replies[1]) {
                return std::optional<VpnProfile>();
            }
            Settings secrets;
            *replies[1] >> secrets;
            profile->secrets = valueOr<Strings>(secrets["vpn"], "secrets", {});
            return profile;
        } catch (const sdbus::Error& error) {
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
            // The settings and secrets stored, where the profile was read
            // before if it is still there, else where its UUID is now.
            std::string path = profile.path;
            std::vector<std::optional<sdbus::MethodReply>> replies;
            std::optional<Settings> settings;
            for (int attempt = 0; attempt < 2 && !settings; ++attempt) {
                if (attempt == 1 || path.empty()) {
                    std::optional<sdbus::ObjectPath> found = pathOf(profile.uuid);
                    if (!found) {
                        return kGone;
                    }
                    path = *found;
                }
                replies = callAll({{path, kConnection, "GetSettings", {}}, {path, kConnection, "GetSecrets", {"vpn"}}});
                Settings read;
                if (replies[0]) {
                    *replies[0] >> read;
                }
                std::optional<VpnProfile> stored = vpnProfileOf(read);
                if (stored && stored->uuid == profile.uuid && replies[1]) {
                    settings = std::move(read);
                    Settings secrets;
                    *replies[1] >> secrets;
                    stored->secrets = valueOr<Strings>(secrets["vpn"], "secrets", {});
                    // Nothing to change: NetworkManager need not write it.
                    if (stored->id == profile.id && stored->serviceType == profile.serviceType &&
                        stored->data == profile.data && stored->secrets == profile.secrets) {
                        return std::nullopt;
                    }
                }
            }
            if (!settings) {
                return kGone;
            }
            writeProfile(profile, *settings);
            call(path, kConnection, "Update2", *settings, kToDisk, Properties{});
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

    std::optional<Error> activate(const std::string& uuid, const std::string& path) override {
        try {
            if (path.empty()) {
                std::optional<sdbus::ObjectPath> found = pathOf(uuid);
                return found ? activate(uuid, *found) : kGone;
            }
            call(kRootPath, kService, "ActivateConnection", sdbus::ObjectPath(path), sdbus::ObjectPath("/"),
                 sdbus::ObjectPath("/"));
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
            std::vector<std::pair<std::string, ActiveVpn>> found;
            std::vector<Call> calls;
            std::vector<ActiveRead> active = readActive(activePaths(), calls);
            std::vector<std::optional<sdbus::MethodReply>> states = callAll(calls);
            for (std::size_t i = 0; i < active.size(); ++i) {
                if (states[i]) {
                    found.emplace_back(std::move(active[i].uuid), vpnStateOf(active[i].vpn, *states[i]));
                }
            }
            return found;
        } catch (const sdbus::Error& error) {
            return errorOf(error, "list its active connections");
        }
    }

    Result<std::vector<ActiveProfile>> activeProfiles(const std::string& serviceType) override {
        try {
            // The order of profiles and the active connections, at once.
            std::vector<std::optional<sdbus::MethodReply>> replies =
                callAll({{kSettingsPath, kSettings, "ListConnections", {}},
                         {kRootPath, kProperties, "Get", {kService, "ActiveConnections"}}});
            std::vector<sdbus::ObjectPath> order;
            sdbus::Variant listed;
            if (!replies[0] || !replies[1]) {
                return Error{"NetworkManager is not running on the system bus"};
            }
            *replies[0] >> order;
            *replies[1] >> listed;
            // With the VPN states, the settings of each profile active, once.
            std::vector<Call> calls;
            std::vector<ActiveRead> active = readActive(listed.get<std::vector<sdbus::ObjectPath>>(), calls);
            const std::size_t states = calls.size();
            for (const ActiveRead& read : active) {
                if (std::none_of(calls.begin() + static_cast<std::ptrdiff_t>(states), calls.end(),
                                 [&](const Call& call) { return call.path == read.profilePath; })) {
                    calls.push_back({read.profilePath, kConnection, "GetSettings", {}});
                }
            }
            std::vector<std::optional<sdbus::MethodReply>> more = callAll(calls);
            // Each reply read once: a profile active twice shares one.
            std::vector<std::optional<VpnProfile>> profiles(calls.size());
            for (std::size_t i = states; i < calls.size(); ++i) {
                profiles[i] = vpnProfileAt(more[i], calls[i].path);
            }
            std::vector<ActiveProfile> found;
            for (std::size_t i = 0; i < active.size(); ++i) {
                auto call = std::find_if(calls.begin() + static_cast<std::ptrdiff_t>(states), calls.end(),
                                         [&](const Call& call) { return call.path == active[i].profilePath; });
                const std::optional<VpnProfile>& profile = profiles[static_cast<std::size_t>(call - calls.begin())];
                if (more[i] && profile && profile->uuid == active[i].uuid && profile->serviceType == serviceType) {
                    found.push_back({*profile, vpnStateOf(active[i].vpn, *more[i])});
                }
            }
            auto rank = [&](const ActiveProfile& active) {
                return std::find(order.begin(), order.end(), active.profile.path) - order.begin();
            };
            std::stable_sort(found.begin(), found.end(),
                             [&](const ActiveProfile& a, const ActiveProfile& b) { return rank(a) < rank(b); });
            return found;
        } catch (const sdbus::Error& error) {
            return errorOf(error, "list its active connections");
        }
    }

    [[nodiscard]] int descriptor() const override { return bus_->getEventLoopPollData().fd; }

    [[nodiscard]] short events() const override { return bus_->getEventLoopPollData().events; }

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
    // An active connection of a VPN profile, and the profile's path.
    struct ActiveRead {
        std::string uuid;
        std::string profilePath;
        ActiveVpn vpn;
    };

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

    std::vector<sdbus::ObjectPath> activePaths() {
        auto value = get<sdbus::Variant>(kRootPath, kProperties, "Get", std::string(kService),
                                         std::string("ActiveConnections"));
        return value.get<std::vector<sdbus::ObjectPath>>();
    }

    // The VPNs among active connections, their properties read all at once,
    // and into `states` the calls that read their VPN states, in the same
    // order, for the caller to send with what else it needs. One gone
    // meanwhile is left out.
    std::vector<ActiveRead> readActive(const std::vector<sdbus::ObjectPath>& paths, std::vector<Call>& states) {
        std::vector<Call> calls;
        calls.reserve(paths.size());
        for (const sdbus::ObjectPath& path : paths) {
            calls.push_back({path, kProperties, "GetAll", {kActive}});
        }
        std::vector<std::optional<sdbus::MethodReply>> replies = callAll(calls);
        std::vector<ActiveRead> found;
        for (std::size_t i = 0; i < replies.size(); ++i) {
            Properties active;
            if (replies[i]) {
                *replies[i] >> active;
            }
            if (!valueOr<bool>(active, "Vpn", false)) {
                continue;
            }
            found.push_back({.uuid = valueOr<std::string>(active, "Uuid", ""),
                             .profilePath = valueOr<sdbus::ObjectPath>(active, "Connection", {}),
                             .vpn = {.path = paths[i], .state = ActiveState{valueOr<std::uint32_t>(active, "State", 0)}}});
            states.push_back({paths[i], kProperties, "Get", {kVpnConnection, "VpnState"}});
        }
        return found;
    }

    // The active VPN with the state a reply to its VpnState read holds.
    static ActiveVpn vpnStateOf(ActiveVpn vpn, sdbus::MethodReply reply) {
        sdbus::Variant state;
        reply >> state;
        vpn.vpnState = VpnState{state.containsValueOfType<std::uint32_t>() ? state.get<std::uint32_t>() : 0};
        return vpn;
    }

    // Sends the calls at once and collects the replies as they come (each
    // within the call timeout): one after another would wait for each reply
    // in turn, and NetworkManager answers them in one go. A reply is none for
    // an object gone meanwhile; any other failure is thrown, the first
    // call's first.
    std::vector<std::optional<sdbus::MethodReply>> callAll(const std::vector<Call>& calls) {
        std::vector<std::optional<sdbus::MethodReply>> replies(calls.size());
        std::vector<std::optional<sdbus::Error>> failures(calls.size());
        std::vector<std::unique_ptr<sdbus::IProxy>> proxies;
        std::size_t pending = calls.size();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            proxies.push_back(sdbus::createProxy(*bus_, kService, calls[i].path));
            sdbus::MethodCall message = proxies.back()->createMethodCall(calls[i].interface, calls[i].method);
            for (const std::string& arg : calls[i].args) {
                message << arg;
            }
            proxies.back()->callMethod(
                message,
                [&, i](sdbus::MethodReply& reply, const sdbus::Error* error) {
                    --pending;
                    if (error == nullptr) {
                        replies[i] = reply;
                    } else if (!isGone(*error)) {
                        failures[i] = *error;
                    }
                },
                kCallTimeout);
        }
        while (pending > 0) {
            if (!bus_->processPendingRequest()) {
                // sd-bus's own wait: readable, or writable while it has more
                // to send, or its timeout.
                sdbus::IConnection::PollData wanted = bus_->getEventLoopPollData();
                pollfd descriptor{wanted.fd, wanted.events, 0};
                (void)::poll(&descriptor, 1, wanted.getPollTimeout());
            }
        }
        for (std::optional<sdbus::Error>& failure : failures) {
            if (failure) {
                // As sdbus-c++ throws its own, for the callers' handlers of it.
                throw sdbus::Error(*failure);  // NOLINT(cert-err60-cpp)
            }
        }
        return replies;
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
