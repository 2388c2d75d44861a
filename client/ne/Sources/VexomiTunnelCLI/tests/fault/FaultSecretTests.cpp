// Where the private key of a document may go, and who may read the store.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FaultSupport.h"
#include "platform/linux/tests/TestSupport.h"

namespace vxm::tunnel::fault {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return 0;
    }
    return status.st_mode & 07777;
}

bool holdsKey(const std::string& path) {
    return platform::support::readBytes(path).find(kPrivateKey) != std::string::npos;
}

class FaultSecretTest : public ::testing::Test {
protected:
    platform::support::TempDir dir;
    // Folders that do not exist yet, so that the tool makes them.
    std::string storePath = dir / "state/vexomi/deeper/vpn-configurations.db";
    ChildSetup openUmask{.umask = 0};
};

TEST_F(FaultSecretTest, TheStoreAndItsFoldersAreOwnerOnlyUnderAnOpenUmask) {
    ASSERT_EQ(runTool(storePath, {"start", "--config", "-"}, document("home", "10.0.0.2/32"), openUmask).status, 0);
    ASSERT_EQ(runTool(storePath, {"stop"}, "", openUmask).status, 0);
    ASSERT_EQ(runTool(storePath, {"start", "--config", "-"}, document("work", "10.0.0.3/32"), openUmask).status, 0);
    ASSERT_EQ(runTool(storePath, {"remove", "--site", "home"}, "", openUmask).status, 0);

    for (const std::string& folder : {dir / "state", dir / "state/vexomi", dir / "state/vexomi/deeper"}) {
        EXPECT_EQ(modeOf(folder), 0700U) << folder;
    }
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "state/vexomi/deeper")) {
        names.push_back(entry.path().filename());
        EXPECT_EQ(modeOf(entry.path()), 0600U) << entry.path();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"vpn-configurations.db", "vpn-configurations.db-events",
                                               "vpn-configurations.db-shm", "vpn-configurations.db-wal"}));

    // A store restored from a backup that others may read is made private
    // before the next key goes in, with what is beside it.
    for (const std::string& name : names) {
        fs::permissions(dir / ("state/vexomi/deeper/" + name), fs::perms(0644));
    }
    ASSERT_EQ(runTool(storePath, {"start", "--config", "-"}, document("home", "10.0.0.2/32"), openUmask).status, 0);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir / "state/vexomi/deeper")) {
        EXPECT_EQ(modeOf(entry.path()), 0600U) << entry.path() << " after it was 0644";
    }
}

TEST_F(FaultSecretTest, ThePrivateKeyGoesIntoTheStoreAndNowhereElse) {
    const std::string temporary = dir / "tmp";
    fs::create_directory(temporary);
    std::vector<Outcome> outcomes;
    auto run = [&](const std::vector<std::string>& args, const std::string& input = "", ChildSetup with = {}) {
        with.umask = 0;
        with.temporaryFolder = temporary;
        outcomes.push_back(runTool(storePath, args, input, with));
        return outcomes.back();
    };

    // Every command, and every refusal of a document that holds the key.
    EXPECT_EQ(run({"start", "--config", "-"}, document("home", "10.0.0.2/32")).status, 0);
    run({"status"});
    run({"stop", "--site", "home"});
    run({"wait"});
    run({"start", "--config", "-"}, document("home", "10.0.0.4/32"));
    json bad = json::parse(document("home", "10.0.0.5/32"));
    bad["address"] = 5;
    EXPECT_EQ(run({"start", "--config", "-"}, bad.dump()).status, 1);
    bad = json::parse(document("home", "10.0.0.5/32"));
    bad["privateKey"] = json::array({kPrivateKey});
    EXPECT_EQ(run({"start", "--config", "-"}, bad.dump()).status, 1);
    EXPECT_EQ(run({"start", "--config", "-"}, document("home", "10.0.0.5/32") + ",").status, 1);
    const std::string large = dir / "large.json";
    platform::support::writeBytes(large, document("home", "10.0.0.6/32") + std::string(std::size_t{1} << 20, ' '));
    EXPECT_EQ(run({"start", "--config", "-"}, "", {.standardInputFile = large}).status, 1);
    fs::remove(large);
    // Failures of the store itself.
    EXPECT_EQ(run({"start", "--config", "-"}, document("full", "10.0.0.7/32"), {.fileSizeLimit = 0}).status, 1);
    run({"remove", "--site", "home"});
    run({"start", "--config", "-"}, document("last", "10.0.0.8/32"));

    for (const Outcome& outcome : outcomes) {
        EXPECT_EQ(outcome.output.find(kPrivateKey), std::string::npos) << outcome.output;
        EXPECT_EQ(outcome.error.find(kPrivateKey), std::string::npos) << outcome.error;
    }
    EXPECT_TRUE(fs::is_empty(temporary)) << "the runs left temporary files";
    // Only the database and its write-ahead log may hold it: the files that
    // are the store. And they do, or this test would prove nothing.
    bool stored = false;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir.path())) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string path = entry.path();
        if (path == storePath || path == storePath + "-wal") {
            stored = stored || holdsKey(path);
            continue;
        }
        EXPECT_FALSE(holdsKey(path)) << path;
    }
    EXPECT_TRUE(stored);
}

}  // namespace
}  // namespace vxm::tunnel::fault
