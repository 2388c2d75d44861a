// vxm-tunnel on a store that cannot grow (a file-size limit, as on a full
// disk) and on a store it may not write.

#include <filesystem>
#include <regex>
#include <string>
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

TEST_F(FaultStorageTest, AStorePathThatIsNoRegularFileFailsAtOnceAndGetsNothingBesideIt) {
    const std::string folder = dir / "state";
    fs::create_directories(folder);
    const std::string notOurs = "the file there is not a Vexomi VPN configuration store";
    std::vector<std::pair<std::string, std::string>> paths = {{folder + "/fifo", notOurs},
                                                              {folder + "/folder", "Is a directory"}};
    ASSERT_EQ(::mkfifo(paths[0].first.c_str(), 0600), 0);
    fs::create_directory(paths[1].first);
    // Like /dev/null; making one takes privileges the tests may not have.
    if (const std::string null = folder + "/null"; ::mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        paths.emplace_back(null, notOurs);
    }
    for (const auto& [path, reason] : paths) {
        std::string store = "the VPN configuration store at ";
        store.append(path).append(" cannot be opened: ").append(reason);
        const Outcome status = ToolRun(path, {"status"}).finish(std::chrono::seconds(5));
        EXPECT_EQ(status.status, 1) << path;
        EXPECT_EQ(responseOf(status), (json{{"ok", false}, {"error", "Failed to load tunnel managers: " + store}}));
        const Outcome start = ToolRun(path, {"start", "--config", "-"}, document("home", "10.0.0.2/32"))
                                  .finish(std::chrono::seconds(5));
        EXPECT_EQ(start.status, 1) << path;
        EXPECT_EQ(responseOf(start), (json{{"ok", false}, {"error", "Failed to load tunnel manager: " + store}}));
    }
    std::size_t entries = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        ++entries;
        EXPECT_TRUE(entry.path().filename().string().find('-') == std::string::npos) << entry.path() << " was made";
    }
    EXPECT_EQ(entries, paths.size());
}

}  // namespace
}  // namespace vxm::tunnel::fault
