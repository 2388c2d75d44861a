// SPDX-License-Identifier: Apache-2.0
// A stand-in VPN plugin for NetworkManager: the provider of the test services
// (scripts/networkmanager). NetworkManager starts it with `--bus-name NAME`
// for each connection; it answers Connect with Config and Ip4Config built
// from the profile's "address" and "endpoint" and reports the plugin states.
//
// What it does on the next Connect is read from the file named by
// VXM_STANDIN_CONTROL (no file: connect), one line of:
//   fail-connect      Connect answers with an error
//   fail-later MS     starts, then fails MS milliseconds later
//   delay MS          the configuration comes MS milliseconds late
//   die MS            connects, then the process dies MS milliseconds later
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace {

using Clock = std::chrono::steady_clock;
using Settings = std::map<std::string, std::map<std::string, sdbus::Variant>>;
using Dict = std::map<std::string, sdbus::Variant>;

constexpr const char* interfaceName = "org.freedesktop.NetworkManager.VPN.Plugin";
// NetworkManager's VPN service states and plugin failure.
constexpr std::uint32_t starting = 3, started = 4, stopping = 5, stopped = 6, connectFailed = 1;

struct Timer {
    Clock::time_point due;
    std::function<void()> work;
};

std::uint32_t address(const std::string& text) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.substr(0, text.find_first_of("/:")).c_str(), &parsed) != 1)
        throw sdbus::Error("org.freedesktop.NetworkManager.VPN.Error.BadArguments", "not an IPv4 address: " + text);
    return parsed.s_addr;  // network byte order, as NetworkManager reads it
}

std::uint32_t prefix(const std::string& text) {
    auto slash = text.find('/');
    return slash == std::string::npos ? 32 : static_cast<std::uint32_t>(std::stoul(text.substr(slash + 1)));
}

struct Control {
    std::string what;
    int ms = 0;
};

Control control() {
    Control read;
    const char* path = std::getenv("VXM_STANDIN_CONTROL");  // NOLINT(concurrency-mt-unsafe): one thread
    if (path != nullptr) {
        std::ifstream file(path);
        file >> read.what >> read.ms;
    }
    return read;
}

class Plugin {
public:
    explicit Plugin(const std::string& busName)
        : bus_(sdbus::createSystemBusConnection(busName)),
          object_(sdbus::createObject(*bus_, "/org/freedesktop/NetworkManager/VPN/Plugin")) {
        object_->registerMethod("Connect").onInterface(interfaceName).implementedAs([this](const Settings& s) {
            connect(s);
        });
        object_->registerMethod("ConnectInteractive")
            .onInterface(interfaceName)
            .implementedAs([this](const Settings& s, const Dict&) { connect(s); });
        object_->registerMethod("NeedSecrets").onInterface(interfaceName).implementedAs([](const Settings&) {
            return std::string();
        });
        object_->registerMethod("Disconnect").onInterface(interfaceName).implementedAs([this] { disconnect(); });
        for (const char* name : {"SetConfig", "SetIp4Config", "SetIp6Config"})
            object_->registerMethod(name).onInterface(interfaceName).implementedAs([](const Dict&) {});
        object_->registerMethod("SetFailure").onInterface(interfaceName).implementedAs([](const std::string&) {});
        object_->registerMethod("NewSecrets").onInterface(interfaceName).implementedAs([](const Settings&) {});
        object_->registerSignal("StateChanged").onInterface(interfaceName).withParameters<std::uint32_t>();
        object_->registerSignal("Failure").onInterface(interfaceName).withParameters<std::uint32_t>();
        for (const char* name : {"Config", "Ip4Config", "Ip6Config"})
            object_->registerSignal(name).onInterface(interfaceName).withParameters<Dict>();
        object_->registerProperty("State").onInterface(interfaceName).withGetter([this] { return state_; });
        object_->finishRegistration();
    }

    // Serves the bus and the timers until the plugin is done.
    void run() {
        while (!done_) {
            while (bus_->processPendingRequest()) {
            }
            auto poll = bus_->getEventLoopPollData();
            auto wait = std::chrono::milliseconds(1000);
            auto now = Clock::now();
            for (const auto& timer : timers_)
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(timer.due - now));
            if (poll.timeout_usec != UINT64_MAX)
                wait = std::min(wait, std::chrono::milliseconds(1));
            pollfd watched{poll.fd, poll.events, 0};
            ::poll(&watched, 1, static_cast<int>(std::max<long>(0, wait.count())));
            runDue();
        }
    }

private:
    void connect(const Settings& settings) {
        auto vpn = settings.find("vpn");
        std::map<std::string, std::string> data;
        if (vpn != settings.end() && vpn->second.count("data") != 0)
            data = vpn->second.at("data").get<std::map<std::string, std::string>>();
        auto how = control();
        if (how.what == "fail-connect")
            throw sdbus::Error("org.freedesktop.NetworkManager.VPN.Error.ConnectFailed",
                               "the stand-in was told to fail");
        Dict config{{"gateway", sdbus::Variant(address(data["endpoint"]))},
                    {"has-ip4", sdbus::Variant(true)},
                    {"has-ip6", sdbus::Variant(false)}};
        Dict ip4{{"address", sdbus::Variant(address(data["address"]))},
                 {"prefix", sdbus::Variant(prefix(data["address"]))},
                 {"never-default", sdbus::Variant(true)}};
        after(0, [this] { setState(starting); });
        if (how.what == "fail-later") {
            after(how.ms, [this] {
                object_->emitSignal("Failure").onInterface(interfaceName).withArguments(connectFailed);
                setState(stopped);
                done_ = true;
            });
            return;
        }
        after(how.what == "delay" ? how.ms : 0, [this, config, ip4] {
            object_->emitSignal("Config").onInterface(interfaceName).withArguments(config);
            object_->emitSignal("Ip4Config").onInterface(interfaceName).withArguments(ip4);
            setState(started);
        });
        if (how.what == "die")
            after(how.ms, [] { _exit(3); });
    }

    void disconnect() {
        timers_.clear();
        setState(stopping);
        after(0, [this] {
            setState(stopped);
            done_ = true;
        });
    }

    void setState(std::uint32_t state) {
        state_ = state;
        object_->emitSignal("StateChanged").onInterface(interfaceName).withArguments(state);
    }

    void after(int ms, std::function<void()> work) {
        timers_.push_back({Clock::now() + std::chrono::milliseconds(ms), std::move(work)});
    }

    void runDue() {
        auto now = Clock::now();
        std::vector<Timer> due, later;
        for (auto& timer : timers_)
            (timer.due <= now ? due : later).push_back(std::move(timer));
        timers_ = std::move(later);
        for (auto& timer : due)
            timer.work();
    }

    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
    std::vector<Timer> timers_;
    std::uint32_t state_ = 1;
    bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::string busName = VXM_APP_IDENTIFIER ".tunnel";
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--bus-name")
            busName = args[i + 1];
    try {
        Plugin plugin(busName);
        plugin.run();
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vxm-standin-vpn: %s\n", error.what());  // NOLINT(cert-err33-c)
        return 1;
    }
}
