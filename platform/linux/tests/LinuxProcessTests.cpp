#include "platform/linux/LinuxProcess.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vxm::platform {
namespace {

class LinuxProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vxm-process-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& contents) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    std::string dir_;
    LinuxProcess process_;
};

TEST_F(LinuxProcessTest, ReadsAWholeFileOrAtMostMaxBytes) {
    const std::string path = write("doc.json", std::string("{\"a\":\0\"b\"}", 10));
    EXPECT_EQ(process_.readFile(path, 1024), std::string("{\"a\":\0\"b\"}", 10));
    EXPECT_EQ(process_.readFile(path, 4), "{\"a\"");
    EXPECT_EQ(process_.readFile(write("empty", ""), 1024), "");
    // An endless file ends at the limit.
    EXPECT_EQ(process_.readFile("/dev/zero", 200000), std::string(200000, '\0'));
}

TEST_F(LinuxProcessTest, GivesNoValueForWhatCannotBeRead) {
    EXPECT_EQ(process_.readFile(dir_ + "/missing", 1024), std::nullopt);
    EXPECT_EQ(process_.readFile(dir_, 1024), std::nullopt);  // a directory fails on read
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    const std::string locked = write("locked", "secret");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(process_.readFile(locked, 1024), std::nullopt);
}

TEST_F(LinuxProcessTest, ReadsADescriptorToItsEnd) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        const std::string big(300000, 'k');
        std::size_t sent = 0;
        while (sent < big.size()) {
            sent += static_cast<std::size_t>(::write(fds[1], big.data() + sent, big.size() - sent));
        }
        ::close(fds[1]);
    });
    const std::optional<std::string> got = readDescriptor(fds[0], 1 << 20);
    writer.join();
    ::close(fds[0]);
    EXPECT_EQ(got, std::string(300000, 'k'));
    EXPECT_EQ(readDescriptor(-1, 10), std::nullopt);
}

TEST_F(LinuxProcessTest, ExitFromAnotherThreadEndsWithTheStatusAfterTheOutput) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        LinuxProcess process;
        if (!process.writeStandardOutput("{\"ok\":true}\n")) {
            ::_exit(98);
        }
        std::thread([&] { process.exit(7); }).join();
        ::_exit(99);
    }
    ::close(fds[1]);
    const std::optional<std::string> output = readDescriptor(fds[0], 1024);
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(output, "{\"ok\":true}\n");
}

}  // namespace
}  // namespace vxm::platform
