// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/networkmanager/VpnProfile.h"

namespace vxm::platform::networkmanager {

// A state that NetworkManager signalled an active connection (or its VPN
// connection) at `path` reached.
struct StateChange {
    std::string path;
    bool vpn = false;  // VpnState when set, else ActiveState
    std::uint32_t state = 0;
    // Set instead: NetworkManager's active connections are now these.
    std::optional<std::vector<std::string>> activeConnections;
};

// A VPN profile's active connection, as NetworkManager reports it now.
struct ActiveVpn {
    std::string path;  // D-Bus path of the active connection: lasts while it is active
    ActiveState state = ActiveState::unknown;
    VpnState vpnState = VpnState::unknown;
};

// A VPN profile with an active connection.
struct ActiveProfile {
    VpnProfile profile;  // without its secrets
    ActiveVpn active;
};

// NetworkManager on the D-Bus system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the
// machine's). The only unit that speaks D-Bus: sdbus-c++ errors become Error
// values naming the cause, and no D-Bus type leaves it. Method calls wait for
// their reply (at most the call timeout); signals are queued until process()
// and then reported to the change handler. Use from one thread.
class NetworkManagerBus {
public:
    // Connects to the system bus. Once subscribed, `onChange` gets each
    // state change NetworkManager signals, and none for any other change.
    using ChangeHandler = std::function<void(std::optional<StateChange>)>;
    static Result<std::unique_ptr<NetworkManagerBus>> connect(ChangeHandler onChange);

    virtual ~NetworkManagerBus() = default;

    // The VPN profiles of the service type, in NetworkManager's order, without
    // their secrets.
    virtual Result<std::vector<VpnProfile>> vpnProfiles(const std::string& serviceType) = 0;
    // The profile with the UUID, its secrets included; none when there is none.
    virtual Result<std::optional<VpnProfile>> profile(const std::string& uuid) = 0;
    // The same, read at the path it was read at before: none when that path
    // no longer holds it (deleted, or NetworkManager restarted meanwhile).
    virtual Result<std::optional<VpnProfile>> profileAt(const std::string& path, const std::string& uuid) = 0;
    // Stores a new profile (its uuid set) to disk.
    virtual std::optional<Error> add(const VpnProfile& profile) = 0;
    // Replaces what the profile's fields say and keeps its other settings;
    // writes nothing when they hold that already. Looks first at the
    // profile's path, if any, then for its UUID. Fails with kGone when there
    // is no profile with its UUID.
    virtual std::optional<Error> update(const VpnProfile& profile) = 0;
    // Deletes the profile; no error when there is none.
    virtual std::optional<Error> remove(const std::string& uuid) = 0;
    // Activates the profile at `path`, just read as the UUID's (empty: where
    // the UUID is now); no error when it is already active.
    virtual std::optional<Error> activate(const std::string& uuid, const std::string& path) = 0;
    // Deactivates an active connection; no error when it is not active any more.
    virtual std::optional<Error> deactivate(const std::string& activePath) = 0;
    // The active connections of VPN profiles, by profile UUID.
    virtual Result<std::vector<std::pair<std::string, ActiveVpn>>> activeVpns() = 0;
    // The profiles of the service type with an active connection, in
    // NetworkManager's order of profiles; one twice when active twice. Reads
    // the settings of those alone.
    virtual Result<std::vector<ActiveProfile>> activeProfiles(const std::string& serviceType) = 0;

    // Subscribes to NetworkManager's signals, once: every change after the
    // return is reported by process().
    virtual void subscribe() = 0;

    // The descriptor to watch for readability, and when process() is due
    // without it (none: never; zero: at once, messages are queued).
    [[nodiscard]] virtual int descriptor() const = 0;
    // The poll events sd-bus waits for on it: POLLOUT while it has more to send.
    [[nodiscard]] virtual short events() const = 0;
    [[nodiscard]] virtual std::optional<std::chrono::microseconds> due() const = 0;
    // Handles what has arrived; the change handler runs for NetworkManager's
    // signals and when NetworkManager leaves or joins the bus.
    virtual void process() = 0;
};

// The error of an operation on a profile that another program deleted.
extern const Error kGone;

}  // namespace vxm::platform::networkmanager
