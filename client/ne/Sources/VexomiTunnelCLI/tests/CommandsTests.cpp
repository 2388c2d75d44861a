// SPDX-License-Identifier: Apache-2.0
#include "Commands.h"

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Types.h"
#include "platform/fake/FakeMainQueue.h"
#include "platform/fake/FakeProcess.h"
#include "platform/fake/FakeVPNStore.h"

namespace vxm::tunnel {
namespace {

using platform::FakeVPNStore;
using platform::TunnelProviderProtocol;
using platform::VPNStatus;
using Delivery = FakeVPNStore::Delivery;

const std::string kPrefix = "Vexomi — ";
const std::string kClient = "com.vexomi.client.tunnel";

std::string withoutPrefix(const std::string& text) { return std::regex_replace(text, std::regex(kPrefix), ""); }

// One run of the tool on the fakes. A store is written as words, one per
// configuration in store order: a mark ("!" another provider's, "#" another
// protocol) or none, the site name, and the status digit (1 disconnected, 2
// connecting, 3 connected, 4 reasserting). Configuration i has the address
// "10.0.0.i/32".
struct Rig {
    platform::FakeMainQueue queue;
    platform::FakeProcess process;
    FakeVPNStore store{queue};

    explicit Rig(const std::string& stored, Delivery delivery = Delivery::immediately) {
        process.onExit = [this] { queue.stop(); };
        std::istringstream words(stored);
        for (std::string word; words >> word;) {
            const bool marked = word.find_first_of("!#") == 0;
            const std::string address = "10.0.0." + std::to_string(store.entries.size() + 1) + "/32";
            const std::string bundle = word[0] == '!' ? "org.example.other.tunnel" : kClient;
            platform::TunnelProviderManager configuration(store);
            configuration.localizedDescription = kPrefix + word.substr(marked, word.size() - 1 - marked);
            configuration.protocolConfiguration =
                TunnelProviderProtocol{bundle, "", platform::ProviderConfiguration{{"address", address}}};
            if (word[0] == '#') {
                configuration.protocolConfiguration = platform::OtherProtocol{"ikev2"};
            }
            store.add(configuration, static_cast<VPNStatus>(word.back() - '0'));
        }
        store.delivery = delivery;
    }

    // Runs the tool; then, unless told not to, lets every held completion and queued item run, as a
    // process's loop would, until the process has ended or nothing is left.
    void run(std::vector<std::string> args, bool settle = true) {
        args.insert(args.begin(), "vxm-tunnel");
        runTool(std::move(args), {queue, store, process});
        while (settle && process.exits.empty() && (queue.runReady() > 0 || store.deliver())) {
        }
    }

    // The store as words, with "*" after an enabled configuration.
    [[nodiscard]] std::string stored() const {
        std::string text;
        for (const auto& [configuration, status] : store.entries) {
            const auto* protocol = std::get_if<TunnelProviderProtocol>(&configuration.protocolConfiguration);
            text += text.empty() ? "" : " ";
            text += protocol == nullptr ? "#" : protocol->providerBundleIdentifier != kClient ? "!" : "";
            text += *configuration.localizedDescription + std::to_string(static_cast<int>(status));
            text += configuration.isEnabled ? "*" : "";
        }
        return withoutPrefix(text);
    }
};

struct Case {
    std::vector<std::string> args;
    std::string stored;
    std::string document;  // standard input and the file "/doc"
    std::string fail;      // failing requests: "load", a verb, or "verb:site"; each fails with "<it> failed"
    Delivery delivery = Delivery::immediately;
    std::optional<std::size_t> room;  // the bytes standard output takes
    std::string out;
    std::string err;
    std::optional<int> exit = 0;  // none: still running
    std::string journal;
    std::optional<std::string> after;  // the store afterwards, when changed
};

const std::vector<std::string> kStdin = {"start", "--config", "-"};
const std::string kHome = R"({"siteName":"home","privateKey":"k","address":"10.0.0.2/32","serverPubkey":"s",)"
                          R"("endpoint":"e:51820","allowedIPs":"0.0.0.0/0"})";
const std::string kStarted = R"({"ok":true,"name":"Vexomi — home","vpnIP":"10.0.0.2","connected":true})" "\n";
const std::string kStartAll = "load save:home reload:home start:home";
const std::string kStopped = R"({"ok":true,"connected":false})" "\n";
const std::string kRemoved = R"({"ok":true})" "\n";

std::string failure(const std::string& error) { return R"({"ok":false,"error":")" + error + "\"}\n"; }

TEST(CommandLineTest, EachCaseWithCompletionsAtOnceLaterOrOnOtherThreads) {
    const std::vector<Case> cases = {
        {.err = "Usage: vxm-tunnel <start|stop|status|wait|remove> [options]\n", .exit = 1},
        {.args = {"Status"}, .err = "Unknown command: Status\n", .exit = 1},
        // start finds the site's configuration by name, of any provider, or makes one.
        {.args = {"start", "--config", "/doc"}, .document = kHome, .delivery = Delivery::onAnotherThread,
         .out = kStarted, .journal = kStartAll, .after = "home1*"},
        {.args = kStdin, .stored = "other1 !home1 home3", .document = kHome, .delivery = Delivery::held,
         .out = kStarted, .journal = kStartAll, .after = "other1 !home1* home3"},
        {.args = kStdin, .document = R"({"siteName":null,"privateKey":"k","address":"fd00::2/64/x","serverPubkey":"s",)"
                                     R"("endpoint":"e","allowedIPs":"a"})",
         .out = R"({"ok":true,"name":"Vexomi — Vexomi","vpnIP":"fd00::2","connected":true})" "\n",
         .journal = "load save:Vexomi reload:Vexomi start:Vexomi", .after = "Vexomi1*"},
        {.args = {"start", "--site", "x"}, .document = kHome, .out = failure("Missing --config <path>"), .exit = 1},
        {.args = {"start", "--config"}, .document = kHome, .out = failure("Missing --config <path>"), .exit = 1},
        // An option's value is the next argument, whatever it is; bytes that are not UTF-8 come out replaced.
        {.args = {"start", "--config", "--x\xFF", "--config", "/doc"}, .document = kHome,
         .out = failure("Cannot read config file: --x\xEF\xBF\xBD"), .exit = 1},
        {.args = kStdin, .document = "[1]", .out = failure("Invalid config JSON: the document is not a JSON object"),
         .exit = 1},
        {.args = kStdin, .document = kHome + std::string(kMaxDocumentBytes - kHome.size(), ' '), .out = kStarted,
         .journal = kStartAll, .after = "home1*"},
        {.args = kStdin, .document = std::string(kMaxDocumentBytes + 1, ' '),
         .out = failure("Invalid config JSON: the document is larger than 1048576 bytes"), .exit = 1},
        {.args = kStdin, .document = kHome, .fail = "load",
         .out = failure("Failed to load tunnel manager: load failed"), .exit = 1, .journal = "load"},
        {.args = kStdin, .document = kHome, .fail = "start", .out = failure("Failed to start tunnel: start failed"),
         .exit = 1, .journal = kStartAll, .after = "home1*"},
        {.args = kStdin, .stored = "#home1", .document = kHome,
         .out = failure("Failed to start tunnel: Invalid protocol configuration"), .exit = 1, .journal = "load"},
        // A response that does not get out whole ends with 1, although the work is done.
        {.args = kStdin, .document = kHome, .room = 5, .out = R"({"ok")", .exit = 1, .journal = kStartAll,
         .after = "home1*"},
        // stop and remove: one site, found or new, or every configuration of the client. Each
        // target is tried; the failure of the earliest is reported.
        {.args = {"stop"}, .stored = "a3 !o3 b1", .out = kStopped, .journal = "load stop:a stop:b"},
        {.args = {"stop"}, .stored = "a3 b3 c3", .fail = "stop:b stop:c",
         .out = failure("Failed to stop tunnel: stop:b failed"), .exit = 1, .journal = "load stop:a stop:b stop:c"},
        {.args = {"stop", "--site", "b", "--site", "a"}, .stored = "a3 b3", .out = kStopped, .journal = "load stop:b"},
        // An option is "--site <name>" or "--site=<name>", the first of either; one standing last has no
        // value, and words the command does not know are ignored.
        {.args = {"stop", "--sites=b", "--site=a", "--site", "b"}, .stored = "a3 b3", .out = kStopped,
         .journal = "load stop:a"},
        {.args = {"stop", "--site="}, .stored = "a3", .out = kStopped, .journal = "load"},  // no such site: nothing to stop
        {.args = {"remove", "--site", "b", "--site=a"}, .stored = "a1 b1", .out = kRemoved,
         .journal = "load remove:b", .after = "a1"},
        {.args = {"remove", "now", "--site"}, .stored = "a1 b1", .out = kRemoved,
         .journal = "load remove:a remove:b", .after = ""},
        {.args = {"start", "--config=/doc"}, .document = kHome, .out = kStarted,
         .journal = kStartAll, .after = "home1*"},
        {.args = {"stop", "--site", "cafe\u0301"}, .stored = "caf\u00E9" "3", .out = kStopped,
         .journal = "load stop:caf\u00E9"},
        {.args = {"remove"}, .fail = "load", .delivery = Delivery::onAnotherThread,
         .out = failure("Failed to load tunnel managers: load failed"), .exit = 1, .journal = "load"},
        {.args = {"remove"}, .stored = "a1 !o1 b1", .delivery = Delivery::held, .out = kRemoved,
         .journal = "load remove:a remove:b", .after = "!o1"},
        {.args = {"remove"}, .out = kRemoved, .journal = "load"},
        {.args = {"remove"}, .stored = "a1 b1 c1", .fail = "remove:b remove:c", .delivery = Delivery::held,
         .out = failure("Failed to remove tunnel: remove:b failed"), .exit = 1,
         .journal = "load remove:a remove:b remove:c", .after = "b1 c1"},
        // status reports the first connected configuration of the client.
        {.args = {"status", "--site", "x", "--config", "y"}, .stored = "!o3 a2 b3 c3",
         .out = R"({"ok":true,"name":"Vexomi — b","vpnIP":"10.0.0.3","connected":true})" "\n", .journal = "load"},
        {.args = {"status"}, .stored = "a2 b4", .out = kStopped, .journal = "load"},
        {.args = {"status"}, .fail = "load", .delivery = Delivery::onAnotherThread,
         .out = failure("Failed to load tunnel managers: load failed"), .exit = 1, .journal = "load"},
        // wait stays while a configuration of the client that was up at the start still is.
        {.args = {"wait"}, .stored = "a1 !o3 #p3", .journal = "load"},
        {.args = {"wait"}, .stored = "a2", .exit = std::nullopt, .journal = "load"},
        {.args = {"wait"}, .fail = "load", .out = failure("Failed to load tunnel managers: load failed"), .exit = 1,
         .journal = "load"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " on \"" + c.stored + "\"");
        Rig rig(c.stored, c.delivery);
        rig.process.files["/doc"] = rig.process.standardInput = c.document;
        rig.process.standardOutputRoom = c.room;
        std::istringstream failing(c.fail);
        for (std::string request; failing >> request;) {
            rig.store.failures[std::regex_replace(request, std::regex(":"), ":" + kPrefix)] = {request + " failed"};
        }
        rig.run(c.args);
        EXPECT_EQ(rig.process.standardOutput, c.out);
        EXPECT_EQ(rig.process.standardError, c.err);
        EXPECT_EQ(rig.process.exits, c.exit ? std::vector{*c.exit} : std::vector<int>());
        EXPECT_EQ(withoutPrefix(rig.store.journal), c.journal);
        EXPECT_EQ(rig.stored(), c.after.value_or(c.stored));
        // A started configuration holds the document but its site name, and its endpoint as the server address.
        for (const auto& [configuration, status] : rig.store.entries) {
            if (configuration.isEnabled) {
                auto expected = nlohmann::json::parse(c.document);
                expected.erase("siteName");
                const auto& protocol = std::get<TunnelProviderProtocol>(configuration.protocolConfiguration);
                EXPECT_EQ(nlohmann::json(*protocol.providerConfiguration.get()), expected);
                EXPECT_EQ(protocol.serverAddress, expected["endpoint"]);
            }
        }
    }
}

TEST(WaitTest, EndsOnlyWhenEveryTunnelUpAtTheStartIsDown) {
    Rig rig("a3 b2 c1");
    rig.run({"wait"});
    rig.store.setStatus(1, VPNStatus::reasserting);
    rig.queue.runReady();
    EXPECT_TRUE(rig.process.exits.empty()) << "b is still connecting";
    rig.store.setStatus(2, VPNStatus::disconnecting);
    rig.queue.runReady();
    EXPECT_EQ(rig.process.exits, std::vector{0});
}

// A tunnel that goes down while its observer is being registered notifies no one.
TEST(WaitTest, ATunnelDownBeforeItsObserverIsCaughtByTheCheckAfterRegistering) {
    Rig rig("a3", Delivery::held);
    rig.run({"wait"}, /*settle=*/false);
    rig.store.deliver();
    rig.store.setStatus(1, VPNStatus::disconnected, /*notify=*/false);
    rig.queue.runReady();
    EXPECT_EQ(rig.process.exits, std::vector{0});
}

}  // namespace
}  // namespace vxm::tunnel
