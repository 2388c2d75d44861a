// vxm-tunnel start and remove killed with SIGKILL at random moments.

#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FaultSupport.h"
#include "platform/linux/tests/TestSupport.h"

namespace vxm::tunnel::fault {
namespace {

using namespace std::chrono_literals;

constexpr int kTrials = 100;
constexpr int kSites = 4;
// Every this many trials the store is deleted first, so that its creation
// gets killed too.
constexpr int kFreshStoreEvery = 10;

// A site's state: its address when stored, nothing when not.
using State = std::optional<std::string>;

// Changes whenever anything is written to the store: every write goes to the
// write-ahead log, or makes the file.
std::string writeStamp(const std::string& storePath) {
    std::string stamp;
    for (const char* suffix : {"", "-wal"}) {
        struct stat status {};
        if (::stat((storePath + suffix).c_str(), &status) == 0) {
            stamp += std::to_string(status.st_size) + "@" + std::to_string(status.st_mtim.tv_sec) + "." +
                     std::to_string(status.st_mtim.tv_nsec) + " ";
        }
    }
    return stamp;
}

TEST(FaultCrashTest, AKilledStartOrRemoveNeitherLosesAReportedChangeNorDamagesTheStore) {
    platform::support::TempDir dir;
    const std::string storePath = dir / "state/vpn-configurations.db";
    const std::uint64_t seed = faultSeed();
    std::mt19937_64 random(seed);
    SCOPED_TRACE("VXM_FAULT_SEED=" + std::to_string(seed));

    // Kills land anywhere from the spawn to the end of the longest of a few
    // runs on a store that already exists.
    long longest = 1;
    for (int run = 0; run < 6; ++run) {
        const Outcome outcome = runTool(storePath, {"start", "--config", "-"}, document("crash 0", "10.99.0.1/32"));
        ASSERT_EQ(outcome.status, 0) << outcome.output;
        longest = run == 0 ? longest : std::max<long>(longest, outcome.took.count());
    }
    const auto window = std::chrono::milliseconds(std::max<long>(2, longest * 3 / 2));

    // What each site may hold now: narrowed to what the store holds after
    // every trial.
    std::map<std::string, std::set<State>> allowed;
    for (int site = 0; site < kSites; ++site) {
        allowed[displayName("crash " + std::to_string(site))] = {std::nullopt};
    }
    allowed[displayName("crash 0")] = {"10.99.0.1/32"};

    const int trials = scaled(kTrials);
    int answered = 0;
    int killedSilently = 0;
    int killedWhileWriting = 0;
    for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        if (trial % kFreshStoreEvery == kFreshStoreEvery - 1) {
            for (const char* suffix : kStoreSuffixes) {
                std::filesystem::remove(storePath + suffix);
            }
            for (auto& [name, states] : allowed) {
                states = {std::nullopt};
            }
        }
        const std::string site = "crash " + std::to_string(random() % kSites);
        const std::string name = displayName(site);
        const bool start = random() % 10 < 7;
        const std::string address = "10.100." + std::to_string(trial / 250) + "." + std::to_string(trial % 250) + "/32";
        const State after = start ? State(address) : std::nullopt;
        const auto delay = std::chrono::microseconds(random() % static_cast<std::uint64_t>(window.count() * 1000 + 1));

        const std::string stampBefore = writeStamp(storePath);
        ToolRun run(storePath, start ? std::vector<std::string>{"start", "--config", "-"}
                                     : std::vector<std::string>{"remove", "--site", site},
                    start ? document(site, address) : "");
        std::this_thread::sleep_for(delay);
        run.kill();
        const Outcome outcome = run.finish();

        // The line is written whole or not at all.
        ASSERT_TRUE(outcome.output.empty() || responseOf(outcome).is_object()) << outcome.output;
        if (outcome.signal == 0) {
            ASSERT_EQ(outcome.status, 0) << outcome.output << outcome.error;
        }
        if (!outcome.output.empty()) {
            ++answered;
            const json expected = start ? json{{"ok", true},
                                               {"name", name},
                                               {"vpnIP", address.substr(0, address.find('/'))},
                                               {"connected", true}}
                                        : json{{"ok", true}};
            ASSERT_EQ(responseOf(outcome), expected);
            allowed[name] = {after};
        } else {
            ++killedSilently;
            killedWhileWriting += writeStamp(storePath) != stampBefore ? 1 : 0;
            allowed[name].insert(after);
        }

        // The store opens for the next run, whatever the kill interrupted.
        const Outcome status = runTool(storePath, {"status"});
        ASSERT_EQ(status.status, 0) << status.output;
        const StoreLook look = lookInto(storePath);
        ASSERT_EQ(look.integrity, "ok");
        std::size_t stored = 0;
        for (auto& [siteName, states] : allowed) {
            const std::vector<StoredConfiguration> found = look.named(siteName);
            ASSERT_LE(found.size(), 1U) << siteName;
            const State actual = found.empty() ? State() : found[0].address;
            ASSERT_TRUE(states.contains(actual))
                << siteName << " holds " << actual.value_or("nothing") << " after " << (start ? "start" : "remove")
                << " killed after " << delay.count() << " us";
            states = {actual};
            stored += found.size();
        }
        ASSERT_EQ(look.configurations.size(), stored) << "nothing but the trial sites is stored";
    }
    if (!HasFailure()) {
        reportFigures(std::to_string(trials) + " start/remove runs killed at random within " +
                      std::to_string(window.count()) + " ms of their spawn (" + std::to_string(trials / kFreshStoreEvery) +
                      " on a store being created): " + std::to_string(killedSilently) + " killed before answering (" +
                      std::to_string(killedWhileWriting) + " of them after they had begun writing the store), " +
                      std::to_string(answered) +
                      " answered; every answered change kept, the store sound and opening after every kill");
    }
}

// Runs killed while others work on the store at the same time, some of them
// holding its write lock or in the middle of writing: the others go on.
TEST(FaultCrashTest, RunsKilledAmongOthersAtWorkLeaveTheOthersUnharmed) {
    constexpr int kAtOnce = 8;
    platform::support::TempDir dir;
    const std::string storePath = dir / "state/vpn-configurations.db";
    const std::uint64_t seed = faultSeed();
    std::mt19937_64 random(seed);
    SCOPED_TRACE("VXM_FAULT_SEED=" + std::to_string(seed));
    const int rounds = scaled(20);
    int killed = 0;
    int answered = 0;
    std::set<std::string> reported;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        std::vector<std::unique_ptr<ToolRun>> runs;
        runs.reserve(kAtOnce);
        std::vector<std::string> sites;
        for (int process = 0; process < kAtOnce; ++process) {
            sites.push_back("busy " + std::to_string(round) + "-" + std::to_string(process));
            runs.push_back(std::make_unique<ToolRun>(storePath, std::vector<std::string>{"start", "--config", "-"},
                                                     document(sites.back(), "10.60.0.1/32")));
        }
        // Every other run gets SIGKILL, one after another at random moments
        // of the first 8 ms; one that has ended by then has simply ended.
        for (int process = 0; process < kAtOnce; process += 2) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            runs[process]->kill();
        }
        for (int process = 0; process < kAtOnce; ++process) {
            const Outcome outcome = runs[process]->finish();
            if (outcome.signal != 0) {
                ++killed;
                continue;
            }
            ++answered;
            EXPECT_EQ(outcome.status, 0) << sites[process] << ": " << outcome.output;
            EXPECT_EQ(responseOf(outcome).value("ok", false), true) << sites[process] << ": " << outcome.output;
            reported.insert(displayName(sites[process]));
        }
        const StoreLook look = lookInto(storePath);
        ASSERT_EQ(look.integrity, "ok");
        for (const std::string& name : reported) {
            EXPECT_EQ(look.named(name).size(), 1U) << name;
        }
    }
    if (!HasFailure()) {
        reportFigures(std::to_string(rounds * kAtOnce) + " starts in rounds of " + std::to_string(kAtOnce) +
                      " at once, SIGKILL sent to every other one: " + std::to_string(killed) +
                      " died mid-run, the " + std::to_string(answered) +
                      " that ran to the end all succeeded and were kept, the store sound after every round");
    }
}

}  // namespace
}  // namespace vxm::tunnel::fault
