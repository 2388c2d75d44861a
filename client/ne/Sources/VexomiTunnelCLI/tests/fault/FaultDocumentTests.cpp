// Bad documents fed to `vxm-tunnel start`, from a file and on standard input.

#include <fcntl.h>
#include <filesystem>
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

const std::string kRequired = R"("privateKey":"k","address":"10.0.0.2/32","serverPubkey":"s","endpoint":"e","allowedIPs":"a")";

std::string invalid(const std::string& reason) { return "Invalid config JSON: " + reason; }
std::string notJson(int column) {
    return invalid("the document is not valid JSON (line 1, column " + std::to_string(column) + ")");
}

struct BadDocument {
    const char* what;
    std::string bytes;
    std::string error;
};

std::vector<BadDocument> badDocuments() {
    const std::string deepArrays(100000, '[');
    std::string deepObjects;
    for (int depth = 0; depth < 100000; ++depth) {
        deepObjects += R"({"a":)";
    }
    deepObjects += "1" + std::string(100000, '}');
    return {
        {"a byte that is never UTF-8", R"({"siteName":")" "\xFF" R"(",)" + kRequired + "}", notJson(14)},
        {"an overlong encoding of /", R"({"siteName":")" "\xC0\xAF" R"(",)" + kRequired + "}", notJson(14)},
        {"a UTF-16 surrogate", R"({"privateKey":")" "\xED\xA0\x80" R"("})", notJson(17)},
        {"a sequence cut short", R"({"siteName":")" "\xE2\x80" R"(",)" + kRequired + "}", notJson(16)},
        {"a byte-order mark alone", "\xEF\xBB\xBF", notJson(4)},
        {"two byte-order marks", "\xEF\xBB\xBF\xEF\xBB\xBF{" + kRequired + "}", notJson(4)},
        {"a UTF-16 byte-order mark", "\xFF\xFE{" + kRequired + "}", notJson(1)},
        {"arrays 100,000 deep, never closed", R"({"a":)" + deepArrays, notJson(100006)},
        {"objects 100,000 deep without the required keys", deepObjects, invalid("the key \"privateKey\" is missing")},
        {"a number repeating a text key", "{" + kRequired + R"(,"address":7})",
         invalid("the value of \"address\" is not a string")},
        {"an array repeating siteName", R"({"siteName":"x",)" + kRequired + R"(,"siteName":[1]})",
         invalid("the value of \"siteName\" is not a string")},
        {"null repeating a text key", "{" + kRequired + R"(,"privateKey":null})",
         invalid("the value of \"privateKey\" is null")},
        {"an object repeating a text key", "{" + kRequired + R"(,"endpoint":{"host":"e"}})",
         invalid("the value of \"endpoint\" is not a string")},
        {"a NUL byte", "{" + kRequired + std::string(1, '\0') + "}", notJson(static_cast<int>(kRequired.size()) + 2)},
        {"a document cut in half", "{" + kRequired.substr(0, 40), notJson(42)},
        {"nothing", "", invalid("the document is empty")},
        {"a megabyte of spaces and then a document", std::string(std::size_t{1} << 20, ' ') + "{}",
         invalid("the document is larger than 1048576 bytes")},
    };
}

class FaultDocumentTest : public ::testing::Test {
protected:
    platform::support::TempDir dir;
    std::string storePath = dir / "state/vpn-configurations.db";
    int inputsTried = 0;

    // One run: exactly the failure line, exit 1, quickly, nothing on
    // standard error, and the store never made.
    void expectRefused(const std::string& what, const std::vector<std::string>& args, const std::string& error,
                       const ChildSetup& setup = {}) {
        const Outcome outcome = runTool(storePath, args, "", setup);
        ++inputsTried;
        EXPECT_EQ(outcome.status, 1) << what;
        EXPECT_EQ(outcome.output, R"({"ok":false,"error":)" + json(error).dump() + "}\n") << what;
        EXPECT_LT(outcome.took, kQuickly) << what;
        if (!setup.unprivileged) {
            // An unprivileged run may find what a coverage build writes at
            // exit out of reach, and say so.
            EXPECT_EQ(outcome.error, "") << what;
        }
        EXPECT_FALSE(fs::exists(dir / "state")) << what << " made the store";
    }

    // The same bytes from a file and on standard input.
    void expectRefusedBothWays(const std::string& what, const std::string& path, const std::string& error) {
        expectRefused(what + " in a file", {"start", "--config", path}, error);
        expectRefused(what + " on standard input", {"start", "--config", "-"}, error, {.standardInputFile = path});
    }
};

TEST_F(FaultDocumentTest, MalformedDocumentsAreRefusedWithTheReasonBeforeTheStoreIsTouched) {
    for (const BadDocument& bad : badDocuments()) {
        const std::string path = dir / "document.json";
        platform::support::writeBytes(path, bad.bytes);
        expectRefusedBothWays(bad.what, path, bad.error);
    }

    // A 1 GiB file that takes no room: refused after the first megabyte.
    const std::string sparse = dir / "sparse.json";
    const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
    ::close(fd);
    expectRefusedBothWays("a 1 GiB sparse file", sparse, invalid("the document is larger than 1048576 bytes"));
    expectRefusedBothWays("/dev/zero", "/dev/zero", invalid("the document is larger than 1048576 bytes"));
    if (HasFailure()) {
        return;
    }
    reportFigures(std::to_string(inputsTried) + " malformed documents (" + std::to_string(badDocuments().size() + 2) +
                  " kinds, from a file and on standard input) refused with the reason, each within " +
                  std::to_string(std::chrono::seconds(kQuickly).count()) + " s, the store never made");
}

TEST_F(FaultDocumentTest, AFolderIsRefusedWithThePath) {
    const std::string folder = dir / "a folder";
    fs::create_directory(folder);
    expectRefused("a folder", {"start", "--config", folder}, "Cannot read config file: " + folder);
}

TEST_F(FaultDocumentTest, AFifoClosedWithNothingWrittenIsAnEmptyDocument) {
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ToolRun run(storePath, {"start", "--config", fifo});
    // Opening the writing end succeeds once the tool has opened the other.
    int writer = -1;
    const auto deadline = Clock::now() + kQuickly;
    while ((writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_GE(writer, 0) << "the tool never opened the FIFO";
    ::close(writer);
    const Outcome outcome = run.finish(kQuickly);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(responseOf(outcome), (json{{"ok", false}, {"error", invalid("the document is empty")}}));
    EXPECT_FALSE(fs::exists(dir / "state"));
}

TEST_F(FaultDocumentTest, AFileWithoutReadPermissionIsRefusedWithThePath) {
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string locked = dir / "locked.json";
    platform::support::writeBytes(locked, document("home", "10.0.0.2/32"));
    ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
    // Root reads it all the same; the user nobody does not.
    const Outcome probe = runTool(storePath, {}, "", {.unprivileged = true});
    if (probe.status != 1) {
        GTEST_SKIP() << "cannot run vxm-tunnel as the user nobody (exit status " << probe.status << ")";
    }
    expectRefused("a file without read permission", {"start", "--config", locked}, "Cannot read config file: " + locked,
                  {.unprivileged = true});
}

TEST_F(FaultDocumentTest, ARefusedDocumentLeavesAnExistingStoreUntouched) {
    ASSERT_EQ(runTool(storePath, {"start", "--config", "-"}, document("kept", "10.0.0.1/32")).status, 0);
    const auto before = storeFiles(storePath);
    std::vector<fs::file_time_type> times;
    for (const char* suffix : kStoreSuffixes) {
        times.push_back(fs::last_write_time(storePath + suffix));
    }
    for (const BadDocument& bad : badDocuments()) {
        const std::string path = dir / "document.json";
        platform::support::writeBytes(path, bad.bytes);
        const Outcome outcome = runTool(storePath, {"start", "--config", path});
        EXPECT_EQ(outcome.status, 1) << bad.what;
    }
    EXPECT_EQ(storeFiles(storePath), before);
    for (std::size_t index = 0; index < times.size(); ++index) {
        EXPECT_EQ(fs::last_write_time(storePath + kStoreSuffixes[index]), times[index]) << kStoreSuffixes[index];
    }
}

}  // namespace
}  // namespace vxm::tunnel::fault
