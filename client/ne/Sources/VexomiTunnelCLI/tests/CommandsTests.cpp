#include "Commands.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "ToolHarness.h"

namespace vxm::tunnel::testing {
namespace {

using Operation = FakeVPNStore::Operation;
using Delivery = FakeVPNStore::Delivery;
using platform::Error;
using platform::TunnelProviderProtocol;

// ---- the command line ----

using CommandLineTest = ToolTest;

TEST_F(CommandLineTest, NoCommandWordPrintsUsage) {
    runTool({"vxm-tunnel"}, {queue, store, process});
    EXPECT_EQ(process.standardError(), "Usage: vxm-tunnel <start|stop|status|wait|remove> [options]\n");
    EXPECT_EQ(process.standardOutput(), "");
    EXPECT_EQ(process.exitStatus(), 1);
    EXPECT_EQ(store.loadCount(), 0);
}

TEST_F(CommandLineTest, UnknownWordsAreRejectedWhole) {
    for (const std::string word : {"", "Status", "stat", "status "}) {
        ToolRig rig;
        rig.start({word});
        EXPECT_EQ(rig.process.standardError(), "Unknown command: " + word + "\n");
        EXPECT_EQ(rig.process.standardOutput(), "");
        EXPECT_EQ(rig.process.exitStatus(), 1);
        EXPECT_EQ(rig.store.loadCount(), 0);
    }
}

TEST_F(CommandLineTest, HandlerRunsFromTheLoopNotBeforeIt) {
    tunnel::Run run{{"vxm-tunnel", "status"}, "status", {queue, store, process}};
    queue.async([&] { dispatchCommand(run); });
    EXPECT_EQ(store.loadCount(), 0);
    queue.run();
    expectRun(R"({"ok":true,"connected":false})"
              "\n",
              0);
}

TEST_F(CommandLineTest, OptionsOfOtherCommandsAreIgnored) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connected));
    runToExit({"status", "--site", "x", "--config", "y"});
    expectRun(R"({"ok":true,"name":"Vexomi — a","vpnIP":"10.0.0.7","connected":true})"
              "\n",
              0);
}

// A caller reads the exit status with the line: a line that did not get out
// whole must not leave a 0 behind it.
TEST_F(CommandLineTest, AResponseThatDoesNotGetOutWholeEndsWithOne) {
    struct Case {
        std::vector<std::string> words;
        std::size_t room;
        std::string written;
    };
    const std::vector<Case> cases = {
        {{"status"}, 0, ""},
        {{"stop"}, 5, R"({"ok")"},
        {{"start", "--config", "-"}, 0, ""},  // although the start is done
    };
    for (const Case& c : cases) {
        ToolRig rig;
        rig.process.standardInput = kDocument;
        rig.process.standardOutputRoom = c.room;
        rig.runToExit(c.words);
        EXPECT_EQ(rig.process.standardOutput(), c.written) << c.words[0];
        EXPECT_EQ(rig.process.exitStatus(), 1) << c.words[0];
    }
}

TEST_F(CommandLineTest, AnExceptionThatEscapesTheLoopEndsTheRunWithAFailure) {
    queue.async([] { throw std::system_error(EMFILE, std::generic_category(), "epoll"); });
    runToExit({"wait"});
    expectRun(R"({"ok":false,"error":"Failed to run vxm-tunnel: epoll: Too many open files"})"
              "\n",
              1);
}

TEST(ArgValueTest, FindsTheArgumentAfterTheFirstOccurrence) {
    ToolRig rig;
    auto run = [&](std::vector<std::string> args) {
        return tunnel::Run{std::move(args), "stop", {rig.queue, rig.store, rig.process}};
    };

    EXPECT_EQ(run({"t", "stop", "--site", "a", "--site", "b"}).argValue("--site"), "a");
    EXPECT_EQ(run({"t", "stop", "--site", "--config"}).argValue("--site"), "--config");
    EXPECT_EQ(run({"t", "stop", "--site", ""}).argValue("--site"), "");
    EXPECT_EQ(run({"t", "stop", "--site"}).argValue("--site"), std::nullopt);
    EXPECT_EQ(run({"t", "stop", "--site=a"}).argValue("--site"), std::nullopt);
    EXPECT_EQ(run({"t", "stop"}).argValue("--site"), std::nullopt);
    // The search starts at the program path.
    EXPECT_EQ(run({"--site", "stop"}).argValue("--site"), "stop");
}

// ---- start ----

class StartTest : public ToolTest {
protected:
    StartTest() { process.files["/etc/vxm/home.json"] = kDocument; }
};

TEST_F(StartTest, StartsANewSiteAndReportsIt) {
    runToExit({"start", "--config", "/etc/vxm/home.json"});
    expectRun("{\"ok\":true,\"name\":\"Vexomi \xE2\x80\x94 home\",\"vpnIP\":\"10.0.0.2\",\"connected\":true}\n", 0);

    const auto all = store.stored();
    ASSERT_EQ(all.size(), 1U);
    const auto& stored = all[0];
    EXPECT_EQ(stored.localizedDescription, "Vexomi \xE2\x80\x94 home");
    EXPECT_TRUE(stored.isEnabled);
    const auto& protocol = std::get<TunnelProviderProtocol>(stored.protocolConfiguration);
    EXPECT_EQ(protocol.providerBundleIdentifier, "com.vexomi.client.tunnel");
    EXPECT_EQ(protocol.serverAddress, "198.51.100.1:51820");
    const platform::ProviderConfiguration expected = {
        {"privateKey", "c2VjcmV0LWtleQ=="}, {"address", "10.0.0.2/32"}, {"serverPubkey", "c2VydmVy"},
        {"endpoint", "198.51.100.1:51820"}, {"allowedIPs", "0.0.0.0/0"},
    };
    EXPECT_EQ(protocol.providerConfiguration, expected);
    EXPECT_EQ(store.startRequests(), (std::vector<std::optional<std::string>>{"Vexomi \xE2\x80\x94 home"}));
}

TEST_F(StartTest, ReusesTheSitesConfigurationAndReplacesItsProviderConfiguration) {
    FakeVPNStore::Entry existing = clientEntry("Vexomi \xE2\x80\x94 home");
    auto& protocol = std::get<TunnelProviderProtocol>(existing.protocolConfiguration);
    protocol.providerConfiguration = platform::ProviderConfiguration{{"stale", "value"}, {"address", 7}};
    protocol.providerBundleIdentifier = "org.example.other.tunnel";
    existing.isEnabled = false;
    store.add(clientEntry("Vexomi \xE2\x80\x94 other"));
    store.add(existing);

    runToExit({"start", "--config", "/etc/vxm/home.json", "--site", "other"});

    EXPECT_EQ(process.exitStatus(), 0);
    const auto all = store.stored();
    ASSERT_EQ(all.size(), 2U) << "found, not duplicated";
    const auto& updated = all[1];
    const auto& written = std::get<TunnelProviderProtocol>(updated.protocolConfiguration);
    EXPECT_EQ(written.providerBundleIdentifier, "org.example.other.tunnel") << "the identifier is kept";
    EXPECT_EQ(written.providerConfiguration.get()->size(), 5U);
    EXPECT_FALSE(written.providerConfiguration.get()->contains("stale"));
    EXPECT_TRUE(updated.isEnabled);
}

TEST_F(StartTest, SiteNameComesFromTheDocumentOnly) {
    struct Case {
        const char* siteMember;
        const char* displayName;
    };
    for (const Case& c : {Case{"", "Vexomi \xE2\x80\x94 Vexomi"}, Case{R"("siteName":null,)", "Vexomi \xE2\x80\x94 Vexomi"},
                          Case{R"("siteName":"",)", "Vexomi \xE2\x80\x94 "}}) {
        ToolRig rig;
        rig.process.standardInput = std::string("{") + c.siteMember +
                                    R"("privateKey":"k","address":"10.1.0.5","serverPubkey":"p","endpoint":"e",)"
                                    R"("allowedIPs":"a"})";
        rig.start({"start", "--config", "-"});
        EXPECT_EQ(rig.process.standardOutput(), std::string(R"({"ok":true,"name":")") + c.displayName +
                                                    R"(","vpnIP":"10.1.0.5","connected":true})" + "\n");
        ASSERT_EQ(rig.store.stored().size(), 1U);
        EXPECT_EQ(rig.store.stored()[0].localizedDescription, c.displayName);
    }
}

TEST_F(StartTest, VpnAddressIsCutAtTheFirstSlash) {
    for (const auto& [address, expected] : std::vector<std::pair<std::string, std::string>>{
             {"10.0.0.2/32/x", "10.0.0.2"}, {"fd00::2", "fd00::2"}, {"/24", ""}, {"", ""}}) {
        ToolRig rig;
        rig.process.standardInput = R"({"privateKey":"k","address":")" + address +
                                    R"(","serverPubkey":"p","endpoint":"e","allowedIPs":"a"})";
        rig.start({"start", "--config", "-"});
        EXPECT_EQ(decodeHelperResponse(rig.process.standardOutput()).value().vpnIP, expected) << address;
    }
}

TEST_F(StartTest, MissingConfigOption) {
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"start"}, {"start", "--config"}, {"start", "--config=/etc/vxm/home.json"}, {"start", "--site", "x"}}) {
        ToolRig rig;
        rig.process.files = process.files;
        rig.start(words);
        EXPECT_EQ(rig.process.standardOutput(), "{\"ok\":false,\"error\":\"Missing --config <path>\"}\n");
        EXPECT_EQ(rig.process.exitStatus(), 1);
        EXPECT_EQ(rig.store.loadCount(), 0);
    }
}

TEST_F(StartTest, UnreadableDocumentNeverTouchesTheStore) {
    runToExit({"start", "--config", "--site", "--config", "/etc/vxm/home.json"});
    expectRun(R"({"ok":false,"error":"Cannot read config file: --site"})"
              "\n",
              1);
    EXPECT_EQ(store.loadCount(), 0);
}

TEST_F(StartTest, StandardInputThatFailsIsUnreadable) {
    process.standardInput.reset();
    runToExit({"start", "--config", "-"});
    expectRun(R"({"ok":false,"error":"Cannot read config file: -"})"
              "\n",
              1);
}

TEST_F(StartTest, DocumentsThatDoNotDecodeNeverTouchTheStore) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "the document is empty"},
        {"{\"privateKey\":\"k\"", "the document is not valid JSON (line 1, column 18)"},
        {"[1]", "the document is not a JSON object"},
        {R"({"privateKey":"k","address":"a","serverPubkey":"s","endpoint":"e","allowedIPs":["a","b"]})",
         R"(the value of \"allowedIPs\" is not a string)"},
        {std::string(kMaxDocumentBytes + 1, ' '), "the document is larger than 1048576 bytes"},
    };
    for (const auto& [document, description] : cases) {
        ToolRig rig;
        rig.process.standardInput = document;
        rig.start({"start", "--config", "-"});
        EXPECT_EQ(rig.process.standardOutput(), R"({"ok":false,"error":"Invalid config JSON: )" + description + "\"}\n");
        EXPECT_EQ(rig.process.exitStatus(), 1);
        EXPECT_EQ(rig.store.loadCount(), 0);
    }
}

TEST_F(StartTest, EachFailingStepIsReportedAndLaterStepsDoNotRun) {
    struct Case {
        Operation operation;
        std::string expected;
        std::size_t stored;
    };
    const std::vector<Case> cases = {
        {Operation::loadAll, R"({"ok":false,"error":"Failed to load tunnel manager: no store"})", 0},
        {Operation::save, R"({"ok":false,"error":"Failed to start tunnel: no store"})", 0},
        {Operation::reload, R"({"ok":false,"error":"Failed to start tunnel: no store"})", 1},
        {Operation::startTunnel, R"({"ok":false,"error":"Failed to start tunnel: no store"})", 1},
    };
    for (const Case& c : cases) {
        ToolRig rig;
        rig.process.files = process.files;
        rig.store.failures[c.operation] = Error{"no store"};
        rig.start({"start", "--config", "/etc/vxm/home.json"});
        EXPECT_EQ(rig.process.standardOutput(), c.expected + "\n");
        EXPECT_EQ(rig.process.exitStatus(), 1);
        EXPECT_EQ(rig.store.stored().size(), c.stored) << "nothing is rolled back";
        EXPECT_EQ(rig.store.startRequests().size(), c.operation == Operation::startTunnel ? 1U : 0U);
    }
}

TEST_F(StartTest, ForeignProtocolSavesNothing) {
    store.add({0, "Vexomi \xE2\x80\x94 home", platform::OtherProtocol{"ikev2"}, false, VPNStatus::disconnected});
    runToExit({"start", "--config", "/etc/vxm/home.json"});
    expectRun(R"({"ok":false,"error":"Failed to start tunnel: Invalid protocol configuration"})"
              "\n",
              1);
    EXPECT_TRUE(store.saves().empty());
}

TEST_F(StartTest, CompletionsOnAnotherThread) {
    store.delivery = Delivery::onAnotherThread;
    runToExit({"start", "--config", "/etc/vxm/home.json"});
    expectRun("{\"ok\":true,\"name\":\"Vexomi \xE2\x80\x94 home\",\"vpnIP\":\"10.0.0.2\",\"connected\":true}\n", 0);
    EXPECT_NE(process.outputThread(), std::this_thread::get_id());
}

// ---- stop and remove ----

using StopRemoveTest = ToolTest;

TEST_F(StopRemoveTest, StopWithoutSiteStopsEveryClientConfigurationOnly) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connected));
    store.add(foreignEntry("Other VPN"));
    store.add({0, "Plain", platform::NoProtocol{}, true, VPNStatus::connected});
    store.add(clientEntry("Vexomi \xE2\x80\x94 b", VPNStatus::disconnected));
    runToExit({"stop", "--site"});
    expectRun(R"({"ok":true,"connected":false})"
              "\n",
              0);
    EXPECT_EQ(store.stopRequests(),
              (std::vector<std::optional<std::string>>{"Vexomi \xE2\x80\x94 a", "Vexomi \xE2\x80\x94 b"}));
}

TEST_F(StopRemoveTest, StopAsksEveryTargetAndThenReportsTheFirstFailure) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connected));
    store.add(clientEntry("Vexomi \xE2\x80\x94 b", VPNStatus::connected));
    store.add(clientEntry("Vexomi \xE2\x80\x94 c", VPNStatus::connected));
    store.failuresOf[Operation::stopTunnel] = {{"Vexomi \xE2\x80\x94 b", Error{"database is locked"}},
                                               {"Vexomi \xE2\x80\x94 c", Error{"disk is full"}}};
    runToExit({"stop"});
    expectRun(R"({"ok":false,"error":"Failed to stop tunnel: database is locked"})"
              "\n",
              1);
    EXPECT_EQ(store.stopRequests().size(), 3U);
}

TEST_F(StopRemoveTest, StopOfAnUnknownSiteStoresNothing) {
    runToExit({"stop", "--site", ""});
    expectRun(R"({"ok":true,"connected":false})"
              "\n",
              0);
    EXPECT_EQ(store.stopRequests(), (std::vector<std::optional<std::string>>{"Vexomi \xE2\x80\x94 "}));
    EXPECT_TRUE(store.stored().empty());
    EXPECT_TRUE(store.saves().empty());
}

TEST_F(StopRemoveTest, LoadFailuresNameOneOrManyManagers) {
    for (const std::string command : {"stop", "remove"}) {
        for (const bool withSite : {true, false}) {
            ToolRig rig;
            rig.store.failures[Operation::loadAll] = Error{"gone"};
            std::vector<std::string> words = {command};
            if (withSite) {
                words.insert(words.end(), {"--site", "a"});
            }
            rig.start(words);
            EXPECT_EQ(rig.process.standardOutput(),
                      std::string(R"({"ok":false,"error":"Failed to load tunnel manager)") + (withSite ? "" : "s") +
                          ": gone\"}\n");
            EXPECT_EQ(rig.process.exitStatus(), 1);
        }
    }
}

TEST_F(StopRemoveTest, RemoveWithoutSiteRemovesEveryClientConfiguration) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a"));
    store.add(foreignEntry("Other VPN"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 b"));
    runToExit({"remove"});
    expectRun(R"({"ok":true})"
              "\n",
              0);
    ASSERT_EQ(store.stored().size(), 1U);
    EXPECT_EQ(store.stored()[0].localizedDescription, "Other VPN");
}

TEST_F(StopRemoveTest, RemoveOfOneSiteLeavesTheOthers) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 b"));
    runToExit({"remove", "--site", "b"});
    expectRun(R"({"ok":true})"
              "\n",
              0);
    ASSERT_EQ(store.stored().size(), 1U);
    EXPECT_EQ(store.stored()[0].localizedDescription, "Vexomi \xE2\x80\x94 a");
}

TEST_F(StopRemoveTest, RemoveOfASiteNeverStoredSucceeds) {
    runToExit({"remove", "--site", "nowhere"});
    expectRun(R"({"ok":true})"
              "\n",
              0);
    EXPECT_EQ(store.removeRequests(), (std::vector<std::optional<std::string>>{"Vexomi \xE2\x80\x94 nowhere"}));
}

// Each removal stands on its own: the ones that worked stay done, and the
// failure reported is that of the earliest request, whatever order the
// completions arrive in.
TEST_F(StopRemoveTest, RemoveReportsTheFirstFailedRequestOnceAllHaveCompleted) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 b"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 c"));
    store.failuresOf[Operation::remove] = {{"Vexomi \xE2\x80\x94 b", Error{"database is locked"}},
                                           {"Vexomi \xE2\x80\x94 c", Error{"disk is full"}}};
    store.delivery = Delivery::held;
    start({"remove"});
    ASSERT_EQ(store.releaseHeld(1), 1U);  // the load
    std::thread([&] { store.releaseHeld(2, /*newestFirst=*/true); }).join();
    queue.runReady();
    EXPECT_EQ(process.standardOutput(), "") << "a's removal is still out";

    std::thread([&] { store.releaseHeld(); }).join();
    queue.runReady();
    expectRun(R"({"ok":false,"error":"Failed to remove tunnel: database is locked"})"
              "\n",
              1);
    ASSERT_EQ(store.stored().size(), 2U);
    EXPECT_EQ(store.stored()[0].localizedDescription, "Vexomi \xE2\x80\x94 b");
}

TEST_F(StopRemoveTest, RemovePrintsOnlyAfterTheLastRemovalFromTheMainQueue) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 b"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 c"));
    store.delivery = Delivery::held;
    start({"remove"});
    ASSERT_EQ(store.releaseHeld(1), 1U);  // the load
    EXPECT_EQ(store.removeRequests().size(), 3U) << "all removals are requested back to back";

    std::thread([&] { store.releaseHeld(2); }).join();
    queue.runReady();
    EXPECT_EQ(process.standardOutput(), "") << "one removal is still out";

    std::thread([&] { store.releaseHeld(); }).join();
    EXPECT_EQ(process.standardOutput(), "") << "the response waits for the main queue";
    queue.runReady();
    expectRun(R"({"ok":true})"
              "\n",
              0);
    EXPECT_EQ(process.outputThread(), std::this_thread::get_id());
}

// ---- status ----

using StatusTest = ToolTest;

TEST_F(StatusTest, ReportsTheFirstConnectedClientConfiguration) {
    store.add(foreignEntry("Other VPN", VPNStatus::connected));
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connecting, "10.0.0.1/32"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 \"b\\", VPNStatus::connected, "10.0.0.2/32"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 c", VPNStatus::connected, "10.0.0.3/32"));
    runToExit({"status"});
    expectRun("{\"ok\":true,\"name\":\"Vexomi \xE2\x80\x94 \\\"b\\\\\",\"vpnIP\":\"10.0.0.2\",\"connected\":true}\n",
              0);
}

TEST_F(StatusTest, NothingConnected) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connecting));
    store.add(clientEntry("Vexomi \xE2\x80\x94 b", VPNStatus::reasserting));
    runToExit({"status"});
    expectRun(R"({"ok":true,"connected":false})"
              "\n",
              0);
}

TEST_F(StatusTest, MissingNameAndAddressAreLeftOut) {
    FakeVPNStore::Entry entry = clientEntry("unused", VPNStatus::connected, std::nullopt);
    entry.localizedDescription.reset();
    store.add(entry);
    runToExit({"status"});
    expectRun(R"({"ok":true,"connected":true})"
              "\n",
              0);
}

TEST_F(StatusTest, LoadFailure) {
    store.failures[Operation::loadAll] = Error{"the store is locked away"};
    store.delivery = Delivery::onAnotherThread;
    runToExit({"status"});
    expectRun(R"({"ok":false,"error":"Failed to load tunnel managers: the store is locked away"})"
              "\n",
              1);
}

// ---- wait ----

using WaitTest = ToolTest;

TEST_F(WaitTest, EndsSilentlyWhenNothingIsActive) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::disconnected));
    store.add(foreignEntry("Other VPN", VPNStatus::connected));
    runToExit({"wait"});
    expectRun("", 0);
    EXPECT_EQ(store.observerCount(), 0U);
}

// Silence with 0 means that nothing is up, which a store that cannot be read
// does not show.
TEST_F(WaitTest, ALoadThatFailsIsReported) {
    store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connected));
    store.failures[Operation::loadAll] = Error{"database is locked"};
    runToExit({"wait"});
    expectRun(R"({"ok":false,"error":"Failed to load tunnel managers: database is locked"})"
              "\n",
              1);
}

TEST_F(WaitTest, EndsOnlyWhenEveryActiveConfigurationIsDown) {
    const auto a = store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connected));
    const auto b = store.add(clientEntry("Vexomi \xE2\x80\x94 b", VPNStatus::connecting));
    const auto c = store.add(clientEntry("Vexomi \xE2\x80\x94 c", VPNStatus::disconnected));
    store.delivery = Delivery::onAnotherThread;
    start({"wait"});
    ASSERT_TRUE(queue.runUntil([&] { return store.observerCount() == 2; }));
    store.joinDeliveries();
    queue.runReady();
    EXPECT_EQ(process.exitStatus(), std::nullopt);

    store.setStatus(a, VPNStatus::reasserting);
    store.setStatus(c, VPNStatus::connected);  // not active when loaded: never looked at
    queue.runReady();
    EXPECT_EQ(process.exitStatus(), std::nullopt) << "b is still connecting";

    store.setStatus(b, VPNStatus::disconnecting);
    queue.runReady();
    expectRun("", 0);
}

TEST_F(WaitTest, ChangeThatNoObserverHeardIsCaughtByTheCheckAfterRegistering) {
    const auto a = store.add(clientEntry("Vexomi \xE2\x80\x94 a", VPNStatus::connected));
    store.delivery = Delivery::held;
    start({"wait"});
    store.releaseHeld();
    ASSERT_EQ(store.observerCount(), 1U);
    // The tunnel went down while the observer was being registered: the
    // change reached no one.
    store.setStatus(a, VPNStatus::disconnected, /*notify=*/false);
    queue.runReady();
    expectRun("", 0);
}

}  // namespace
}  // namespace vxm::tunnel::testing
