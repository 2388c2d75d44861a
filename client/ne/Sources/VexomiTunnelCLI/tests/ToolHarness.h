#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Commands.h"
#include "TunnelManager.h"
#include "platform/fake/FakeMainQueue.h"
#include "platform/fake/FakeProcess.h"
#include "platform/fake/FakeVPNStore.h"

namespace vxm::tunnel::testing {

using platform::FakeVPNStore;
using platform::VPNStatus;

inline constexpr const char* kEmDash = "\xE2\x80\x94";

inline const char* kDocument =
    R"({"siteName":"home","privateKey":"c2VjcmV0LWtleQ==","address":"10.0.0.2/32",)"
    R"("serverPubkey":"c2VydmVy","endpoint":"198.51.100.1:51820","allowedIPs":"0.0.0.0/0"})";

// A configuration of the client, as the store holds it.
inline FakeVPNStore::Entry clientEntry(std::string displayName, VPNStatus status = VPNStatus::disconnected,
                                       std::optional<std::string> address = "10.0.0.7/32") {
    platform::TunnelProviderProtocol protocol;
    protocol.providerBundleIdentifier = TunnelManager::providerBundleIdentifier();
    protocol.serverAddress = "203.0.113.9:51820";
    if (address) {
        protocol.providerConfiguration = platform::ProviderConfiguration{{"address", *address}};
    }
    return {0, std::move(displayName), protocol, true, status};
}

// A configuration of another provider with the same kind of protocol.
inline FakeVPNStore::Entry foreignEntry(std::string displayName, VPNStatus status = VPNStatus::connected) {
    FakeVPNStore::Entry entry = clientEntry(std::move(displayName), status);
    std::get<platform::TunnelProviderProtocol>(entry.protocolConfiguration).providerBundleIdentifier =
        "org.example.other.tunnel";
    return entry;
}

// The fakes one run of the tool works on; the process's exit stops the loop,
// as the end of a real process does.
struct ToolRig {
    platform::FakeMainQueue queue;
    platform::FakeProcess process;
    FakeVPNStore store{queue};

    ToolRig() { process.onExit = [this] { queue.stop(); }; }
    ToolRig(const ToolRig&) = delete;
    ToolRig& operator=(const ToolRig&) = delete;
    ~ToolRig() { store.joinDeliveries(); }

    // Runs `vxm-tunnel words...` until the loop has nothing left to do.
    void start(std::vector<std::string> words) {
        words.insert(words.begin(), "vxm-tunnel");
        runTool(std::move(words), {queue, store, process});
    }

    // Runs the command and, for completions on other threads, the loop until
    // the process has exited.
    void runToExit(std::vector<std::string> words) {
        start(std::move(words));
        queue.runUntil([this] { return process.exitStatus().has_value(); });
        store.joinDeliveries();
    }
};

class ToolTest : public ::testing::Test, public ToolRig {
protected:
    // The whole output and the exit status, as a caller sees them.
    void expectRun(const std::string& standardOutput, int status) {
        EXPECT_EQ(process.standardOutput(), standardOutput);
        EXPECT_EQ(process.standardError(), "");
        EXPECT_EQ(process.exitStatus(), status);
        EXPECT_FALSE(process.actedAfterExit());
    }
};

}  // namespace vxm::tunnel::testing
