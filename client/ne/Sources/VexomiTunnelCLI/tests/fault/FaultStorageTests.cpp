// vxm-tunnel on a store that cannot grow (a file-size limit, as on a full
// disk), on a store it may not write, on files at and beside the store path
// that are not a store of its user's, and on a counter file tampered with
// while it runs.

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "FaultSupport.h"
#include "platform/linux/tests/TestSupport.h"

namespace vxm::tunnel::fault {
namespace {

namespace fs = std::filesystem;

// Limits from 0 up to past where a start needs no more room.
constexpr std::uint64_t kLargestLimit = std::uint64_t{48} * 1024;
constexpr int kLimits = 48;

const json kKept = {{"ok", true}, {"name", displayName("kept")}, {"vpnIP", "10.0.0.1"}, {"connected", true}};
const json kNew = {{"ok", true}, {"name", displayName("new")}, {"vpnIP", "10.0.0.2"}, {"connected", true}};

class FaultStorageTest : public ::testing::Test {
protected:
    platform::support::TempDir dir;
    std::string storePath = dir / "state/vpn-configurations.db";

    // A store holding the connected site "kept", copied to the store path
    // afresh for each trial.
    std::string prepared = dir / "prepared/vpn-configurations.db";

    void prepare() {
        const Outcome kept = runTool(prepared, {"start", "--config", "-"}, document("kept", "10.0.0.1/32"));
        ASSERT_EQ(responseOf(kept), kKept);
    }

    void restorePrepared() {
        fs::remove_all(dir / "state");
        fs::create_directories(dir / "state");
        for (const char* suffix : kStoreSuffixes) {
            if (fs::exists(prepared + suffix)) {
                fs::copy_file(prepared + suffix, storePath + suffix);
            }
        }
    }

    // "kept" as it was, "new" stored whole or not at all, and a sound file.
    void expectKeptAndNew(bool keptThere, bool newStarted, const std::string& trial) {
        const StoreLook look = lookInto(storePath);
        EXPECT_EQ(look.integrity, "ok") << trial;
        const auto kept = look.named(displayName("kept"));
        if (keptThere) {
            ASSERT_EQ(kept.size(), 1U) << trial;
            EXPECT_EQ(kept[0].address, "10.0.0.1/32") << trial;
            EXPECT_EQ(kept[0].status, 3) << trial;
        }
        const auto added = look.named(displayName("new"));
        ASSERT_LE(added.size(), 1U) << trial;
        if (newStarted) {
            ASSERT_EQ(added.size(), 1U) << trial;
        }
        if (!added.empty()) {
            EXPECT_EQ(added[0].address, "10.0.0.2/32") << trial;
        }
        EXPECT_EQ(look.configurations.size(), (keptThere ? 1U : 0U) + added.size()) << trial;
    }

    // Runs start under every limit: it either succeeds or fails with the
    // store's reason, and the store works again without the limit.
    void sweepLimits(bool existing, int& failed, int& succeeded) {
        const int trials = scaled(kLimits);
        for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
            const std::uint64_t limit = kLargestLimit * static_cast<std::uint64_t>(trial) / static_cast<std::uint64_t>(trials);
            const std::string what = "file size limit " + std::to_string(limit) + " bytes";
            if (existing) {
                restorePrepared();
            } else {
                fs::remove_all(dir / "state");
            }
            const Outcome limited = runTool(storePath, {"start", "--config", "-"}, document("new", "10.0.0.2/32"),
                                            {.fileSizeLimit = limit});
            const json response = responseOf(limited);
            if (limited.status == 0) {
                ++succeeded;
                EXPECT_EQ(response, kNew) << what;
            } else {
                ++failed;
                EXPECT_EQ(limited.status, 1) << what << ": " << limited.output;
                ASSERT_TRUE(response.is_object() && response.size() == 2 && response["ok"] == false &&
                            response["error"].is_string())
                    << what << ": " << limited.output;
                static const std::regex clear(
                    "(Failed to load tunnel manager|Failed to start tunnel): the VPN configuration store at (.*) "
                    "cannot be (opened|read|written): .*(File too large|disk is full).*");
                std::smatch parts;
                const std::string error = response["error"];
                EXPECT_TRUE(std::regex_match(error, parts, clear) && parts[2] == storePath) << what << ": " << error;
            }
            const Outcome status = runTool(storePath, {"status"});
            EXPECT_EQ(status.status, 0) << what << ": " << status.output;
            expectKeptAndNew(existing, limited.status == 0, what);
            const Outcome after = runTool(storePath, {"start", "--config", "-"}, document("after", "10.0.0.3/32"));
            EXPECT_EQ(after.status, 0) << what << ": " << after.output;
        }
    }
};

TEST_F(FaultStorageTest, AStoreThatCannotGrowFailsWithTheReasonAndKeepsWhatItHeld) {
    prepare();
    int failed = 0;
    int succeeded = 0;
    sweepLimits(true, failed, succeeded);
    sweepLimits(false, failed, succeeded);
    if (!HasFailure()) {
        reportFigures("start under " + std::to_string(2 * scaled(kLimits)) + " file size limits from 0 to " +
                      std::to_string(kLargestLimit / 1024) + " KiB, on an existing and on a new store: " +
                      std::to_string(failed) + " failed with the reason, " + std::to_string(succeeded) +
                      " succeeded; earlier content intact and the store usable after every one");
    }
}

// Whether runs as someone the store's files can refuse can be had; the reason
// when not.
std::optional<std::string> unprivilegedRunsUnavailable(const std::string& storePath) {
    const Outcome probe = runTool(storePath, {}, "", {.unprivileged = true});
    if (probe.status == kSetupFailed) {
        return "cannot switch to the user nobody";
    }
    if (probe.status != 1) {
        return "vxm-tunnel cannot be run as the user nobody (exit status " + std::to_string(probe.status) + ")";
    }
    return std::nullopt;
}

// Gives the store's files to the user the runs are made as, with `store` the
// mode of the database file and `others` that of the files beside it.
void setModes(const std::string& storePath, mode_t store, mode_t others) {
    for (const char* suffix : kStoreSuffixes) {
        const std::string path = storePath + suffix;
        if (!fs::exists(path)) {
            continue;
        }
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
        }
        ASSERT_EQ(::chmod(path.c_str(), std::string(suffix).empty() ? store : others), 0) << path;
    }
}

TEST_F(FaultStorageTest, AStoreThatCannotBeWrittenFailsWithTheReasonAndKeepsWhatItHeld) {
    prepare();
    restorePrepared();
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((dir / "state").c_str(), kNobody, kNobody), 0);
    }
    if (const auto reason = unprivilegedRunsUnavailable(storePath)) {
        GTEST_SKIP() << reason.value();
    }
    const ChildSetup unprivileged{.unprivileged = true};
    const std::string prefix = "the VPN configuration store at " + storePath;

    // Every file of the store read-only: nothing can be done with it.
    setModes(storePath, 0400, 0400);
    const std::string cannotOpen = prefix + " cannot be opened: " + storePath + "-events: Permission denied";
    Outcome start = runTool(storePath, {"start", "--config", "-"}, document("new", "10.0.0.2/32"), unprivileged);
    EXPECT_EQ(start.status, 1);
    EXPECT_EQ(responseOf(start), (json{{"ok", false}, {"error", "Failed to load tunnel manager: " + cannotOpen}}));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"status"}, {"stop"}, {"remove"}, {"stop", "--site", "kept"}, {"remove", "--site", "kept"}}) {
        const Outcome run = runTool(storePath, args, "", unprivileged);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(responseOf(run)["ok"], false) << run.output;
    }
    setModes(storePath, 0600, 0600);
    expectKeptAndNew(true, false, "all read-only");

    // The database file alone read-only: it can be read, not changed.
    setModes(storePath, 0400, 0600);
    start = runTool(storePath, {"start", "--config", "-"}, document("new", "10.0.0.2/32"), unprivileged);
    EXPECT_EQ(start.status, 1);
    EXPECT_EQ(responseOf(start), (json{{"ok", false},
                                       {"error", "Failed to start tunnel: " + prefix +
                                                     " cannot be written: attempt to write a readonly database"}}));
    EXPECT_EQ(responseOf(runTool(storePath, {"status"}, "", unprivileged)), kKept);
    setModes(storePath, 0600, 0600);
    expectKeptAndNew(true, false, "database file read-only");
}

// What a folder holds, by name: type, mode, owner, links and bytes.
std::map<std::string, std::string> folderState(const std::string& folder) {
    std::map<std::string, std::string> state;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        struct stat status {};
        ::lstat(entry.path().c_str(), &status);
        state[entry.path().filename()] = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) + " " +
                                         std::to_string(status.st_nlink) + " " +
                                         (S_ISREG(status.st_mode) ? platform::support::readBytes(entry.path()) : "");
    }
    return state;
}

// A store path, or a file beside it, that is not a store file of this user's:
// every command fails at once with the reason, and nothing in the folder is
// changed (nothing made, written or given other permissions).
TEST_F(FaultStorageTest, ABadStorePathOrFileBesideItFailsAtOnceAndIsLeftAsItWas) {
    const std::string folder = dir / "state";
    const bool root = ::geteuid() == 0;
    const std::string notOurs = "the file there is not a Vexomi VPN configuration store";
    auto giveAway = [](const std::string& path) { ASSERT_EQ(::lchown(path.c_str(), kNobody, kNobody), 0) << path; };
    auto makeStore = [&](const std::string& path) {
        ASSERT_EQ(runTool(path, {"start", "--config", "-"}, document("kept", "10.0.0.1/32")).status, 0);
        fs::remove(path + "-events");
    };
    struct Case {
        std::string name;
        std::function<void(const std::string& store)> make;
        std::function<std::string(const std::string& store)> reason;
    };
    std::vector<Case> cases = {
        {"fifo", [](const std::string& store) { ASSERT_EQ(::mkfifo(store.c_str(), 0600), 0); },
         [&](const std::string&) { return std::string(notOurs); }},
        {"folder", [](const std::string& store) { fs::create_directory(store); },
         [](const std::string&) { return std::string("Is a directory"); }},
        {"link",
         [&](const std::string& store) {
             makeStore(store + "-target");
             fs::create_symlink(store + "-target", store);
         },
         [](const std::string&) { return std::string("it is a symbolic link; set VXM_STORE to the file it points to"); }},
        {"second name",
         [&](const std::string& store) {
             makeStore(store);
             fs::create_hard_link(store, store + "-copy");
         },
         [](const std::string&) {
             return std::string(
                 "it has 2 hard links; remove all but one, as changes made through one name are lost to the others");
         }},
        {"fifo counter",
         [&](const std::string& store) {
             makeStore(store);
             ASSERT_EQ(::mkfifo((store + "-events").c_str(), 0644), 0);
             ASSERT_EQ(::chmod((store + "-events").c_str(), 0644), 0);
         },
         [](const std::string& store) { return store + "-events is not a regular file; remove it"; }},
    };
    // Like /dev/null; making one takes privileges the tests may not have.
    if (root) {
        cases.push_back({"null", [](const std::string& store) {
                             ASSERT_EQ(::mknod(store.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
                         },
                         [&](const std::string&) { return std::string(notOurs); }});
        const std::string nobody = "(uid " + std::to_string(kNobody) + ")";
        // An empty file anyone may write, as in a folder open to all.
        cases.push_back({"others' store",
                         [&](const std::string& store) {
                             platform::support::writeBytes(store, "");
                             ASSERT_EQ(::chmod(store.c_str(), 0666), 0);
                             giveAway(store);
                         },
                         [nobody](const std::string&) {
                             return "it belongs to another user " + nobody + "; set VXM_STORE to a store of your own";
                         }});
        for (const char* suffix : {"-wal", "-events"}) {
            cases.push_back({std::string("others' ") + suffix,
                             [&, suffix](const std::string& store) {
                                 makeStore(store);
                                 platform::support::writeBytes(store + suffix, "");
                                 ASSERT_EQ(::chmod((store + suffix).c_str(), 0666), 0);
                                 giveAway(store + suffix);
                             },
                             [nobody, suffix](const std::string& store) {
                                 return store + suffix + (" belongs to another user " + nobody + "; remove it");
                             }});
        }
    }
    for (const Case& bad : cases) {
        const std::string caseFolder = folder + "/" + bad.name;
        fs::create_directories(caseFolder);
        const std::string path = caseFolder + "/vpn-configurations.db";
        bad.make(path);
        const auto before = folderState(caseFolder);
        const std::string store =
            "the VPN configuration store at " + path + " cannot be opened: " + bad.reason(path);
        const Outcome status = ToolRun(path, {"status"}).finish(std::chrono::seconds(5));
        EXPECT_EQ(status.status, 1) << bad.name;
        EXPECT_EQ(responseOf(status), (json{{"ok", false}, {"error", "Failed to load tunnel managers: " + store}}))
            << bad.name;
        const Outcome start = ToolRun(path, {"start", "--config", "-"}, document("home", "10.0.0.2/32"))
                                  .finish(std::chrono::seconds(5));
        EXPECT_EQ(start.status, 1) << bad.name;
        EXPECT_EQ(responseOf(start), (json{{"ok", false}, {"error", "Failed to load tunnel manager: " + store}}))
            << bad.name;
        EXPECT_EQ(folderState(caseFolder), before) << bad.name;
    }
    if (!HasFailure()) {
        reportFigures(std::to_string(cases.size()) +
                      " bad store paths and files beside stores refused at once with the reason, left as they were");
    }
}

// Someone truncates, replaces (with a copy of its bytes) or removes the
// counter file beside the store, again and again, while commands run: none
// dies of it, each answers as it would have, and waits still end when their
// tunnel goes down.
TEST_F(FaultStorageTest, ACounterFileTamperedWithWhileCommandsRunKillsNoneAndHoldsUpNoWait) {
    constexpr int kSites = 4;
    constexpr int kWaits = 2;
    const json stopped = {{"ok", true}, {"connected", false}};
    const std::string events = storePath + "-events";
    fs::create_directories(dir / "state");
    std::atomic<bool> tampering{true};
    std::atomic<int> tamperings{0};
    std::thread tamperer([&] {
        const std::string spare = dir / "spare";
        for (int n = 0; tampering; ++n) {
            // Each may find no file there: a run makes it again soon after.
            std::error_code missing;
            if (n % 3 == 0) {
                fs::resize_file(events, 0, missing);
            } else if (n % 3 == 1) {
                platform::support::writeBytes(spare, platform::support::readBytes(events));
                fs::rename(spare, events, missing);
            } else {
                fs::remove(events, missing);
            }
            ++tamperings;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    int runs = 0;
    int killed = 0;
    const int rounds = scaled(8);
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        auto expectAnswer = [&](ToolRun& run, const json& response, const std::string& what) {
            const Outcome outcome = run.finish(std::chrono::seconds(5));
            ++runs;
            killed += outcome.signal != 0 ? 1 : 0;
            EXPECT_EQ(outcome.signal, 0) << what;
            EXPECT_EQ(outcome.status, 0) << what << ": " << outcome.output;
            if (!response.is_null()) {
                EXPECT_EQ(responseOf(outcome), response) << what;
            } else {
                EXPECT_EQ(outcome.output, "") << what;
            }
        };
        const std::string what = "round " + std::to_string(round);
        ToolRun home(storePath, {"start", "--config", "-"}, document("home", "10.0.0.1/32"));
        expectAnswer(home,
                     {{"ok", true}, {"name", displayName("home")}, {"vpnIP", "10.0.0.1"}, {"connected", true}},
                     what + ": start home");
        std::vector<std::unique_ptr<ToolRun>> waits;
        waits.reserve(kWaits);
        for (int wait = 0; wait < kWaits; ++wait) {
            waits.push_back(std::make_unique<ToolRun>(storePath, std::vector<std::string>{"wait"}));
        }
        std::vector<std::unique_ptr<ToolRun>> starts;
        starts.reserve(kSites);
        for (int site = 0; site < kSites; ++site) {
            const std::string name = "site " + std::to_string(site);
            starts.push_back(std::make_unique<ToolRun>(storePath, std::vector<std::string>{"start", "--config", "-"},
                                                       document(name, "10.0.1." + std::to_string(site) + "/32")));
        }
        for (int site = 0; site < kSites; ++site) {
            expectAnswer(*starts[site],
                         {{"ok", true}, {"name", displayName("site " + std::to_string(site))},
                          {"vpnIP", "10.0.1." + std::to_string(site)}, {"connected", true}},
                         what + ": start " + std::to_string(site));
        }
        std::vector<std::unique_ptr<ToolRun>> stops;
        stops.reserve(kSites);
        for (int site = 0; site < kSites; ++site) {
            stops.push_back(std::make_unique<ToolRun>(
                storePath, std::vector<std::string>{"stop", "--site", "site " + std::to_string(site)}));
        }
        for (auto& stop : stops) {
            expectAnswer(*stop, stopped, what + ": stop");
        }
        ToolRun stopHome(storePath, {"stop", "--site", "home"});
        expectAnswer(stopHome, stopped, what + ": stop home");
        for (auto& wait : waits) {
            expectAnswer(*wait, json(), what + ": wait");
        }
    }
    tampering = false;
    tamperer.join();
    EXPECT_EQ(lookInto(storePath).integrity, "ok");
    if (!HasFailure()) {
        reportFigures(std::to_string(runs) + " runs (starts, stops, waits) while the counter file was truncated, "
                      "replaced or removed " + std::to_string(tamperings) + " times: " + std::to_string(killed) +
                      " killed, every one answered as without it, every wait ended after its tunnel went down");
    }
}

}  // namespace
}  // namespace vxm::tunnel::fault
