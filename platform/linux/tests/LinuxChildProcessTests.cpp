#include "platform/linux/LinuxChildProcess.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vxm::platform {
namespace {

namespace fs = std::filesystem;

class LinuxChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vxm-child-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    static std::string read(const fs::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path folder;
    LinuxChildProcesses children;
};

TEST_F(LinuxChildProcessTest, PassesArgumentsUnchangedAndWaitsForTheEnd) {
    const fs::path out = folder / "out";
    // The late write proves the wait lasts until the child has ended.
    auto child = children.start("/bin/sh", {"-c", "sleep 0.2; printf '[%s]' \"$@\" > \"$1\"", "sh", out.string(),
                                            "a b", "ü 東京", "", "$HOME"});
    ASSERT_TRUE(child.ok()) << child.error().localizedDescription;
    child.value()->waitUntilExit();
    EXPECT_EQ(read(out), "[" + out.string() + "][a b][ü 東京][][$HOME]");
}

TEST_F(LinuxChildProcessTest, ProgramThatCannotStartIsAnError) {
    EXPECT_FALSE(children.start((folder / "missing").string(), {"import", "a.vxm"}).ok());

    const fs::path notExecutable = folder / "vxm";
    std::ofstream(notExecutable) << "#!/bin/sh\n";
    EXPECT_FALSE(children.start(notExecutable.string(), {}).ok());
}

}  // namespace
}  // namespace vxm::platform
