// Documents that only the real program can be handed badly: what the reads
// of a file or of standard input meet. Bad bytes are the decoder's table.

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FaultSupport.h"
#include "platform/linux/tests/TestSupport.h"

namespace vxm::tunnel::fault {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Reading a document takes milliseconds; this leaves room for slow builds
// while still catching a run that reads a huge input to its end.
constexpr auto kQuickly = 5s;

struct InputCase {
    std::string what;
    std::string config;  // the value of --config
    ChildSetup setup;
    std::string error;
    std::function<void()> whileRunning;
};

TEST(FaultDocumentTest, RefusedWithTheReasonQuicklyBeforeTheStoreIsMade) {
    platform::support::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string storePath = dir / "state/vpn-configurations.db";
    const std::string sparse = dir / "sparse.json";  // 1 GiB that takes no room
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
    ::close(fd);
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir / "a folder";
    fs::create_directory(folder);
    const std::string locked = dir / "locked.json";
    platform::support::writeBytes(locked, document("home", "10.0.0.2/32"));
    ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
    // Root reads it all the same; the user nobody does not.
    const bool canDropPrivileges = runTool(storePath, {}, "", {.unprivileged = true}).status == 1;

    const std::string tooLarge = "Invalid config JSON: the document is larger than 1048576 bytes";
    const std::vector<InputCase> cases = {
        {"a 1 GiB sparse file", sparse, {}, tooLarge, {}},
        {"a 1 GiB sparse file on standard input", "-", {.standardInputFile = sparse}, tooLarge, {}},
        {"/dev/zero", "/dev/zero", {}, tooLarge, {}},
        {"/dev/zero on standard input", "-", {.standardInputFile = "/dev/zero"}, tooLarge, {}},
        {"empty standard input", "-", {}, "Invalid config JSON: the document is empty", {}},
        {"a folder", folder, {}, "Cannot read config file: " + folder, {}},
        {"a file without read permission", locked, {.unprivileged = true}, "Cannot read config file: " + locked, {}},
        {"a FIFO closed with nothing written", fifo, {}, "Invalid config JSON: the document is empty",
         [&] {
             // Opening the writing end succeeds once the tool has opened the other.
             int writer = -1;
             const auto deadline = Clock::now() + kQuickly;
             while ((writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && Clock::now() < deadline) {
                 std::this_thread::sleep_for(1ms);
             }
             ASSERT_GE(writer, 0) << "the tool never opened the FIFO";
             ::close(writer);
         }},
    };
    for (const InputCase& input : cases) {
        if (input.setup.unprivileged && !canDropPrivileges) {
            std::cout << "cannot run vxm-tunnel as the user nobody: skipped " << input.what << "\n";
            continue;
        }
        ToolRun run(storePath, {"start", "--config", input.config}, "", input.setup);
        if (input.whileRunning) {
            input.whileRunning();
        }
        const Outcome outcome = run.finish(kQuickly * 2);
        EXPECT_EQ(outcome.status, 1) << input.what;
        EXPECT_EQ(outcome.output, R"({"ok":false,"error":)" + json(input.error).dump() + "}\n") << input.what;
        EXPECT_LT(outcome.took, kQuickly) << input.what;
        // An unprivileged run may find what a coverage build writes at exit
        // out of reach, and say so.
        EXPECT_TRUE(input.setup.unprivileged || outcome.error.empty()) << input.what << ": " << outcome.error;
        EXPECT_FALSE(fs::exists(dir / "state")) << input.what << " made the store";
    }
    if (!HasFailure()) {
        reportFigures(std::to_string(cases.size()) + " unreadable or oversized inputs, from files and standard input, " +
                      "refused with the reason within " + std::to_string(std::chrono::seconds(kQuickly).count()) +
                      " s, the store never made");
    }
}

}  // namespace
}  // namespace vxm::tunnel::fault
