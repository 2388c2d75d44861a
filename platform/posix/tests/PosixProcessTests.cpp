#include "platform/posix/PosixProcess.h"

#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vxm::platform {
namespace {

TEST(PosixProcessTest, ReadsAtMostMaxBytesAndNothingOfWhatCannotBeRead) {
    EXPECT_EQ(PosixProcess().readFile("/dev/zero", 200000), std::string(200000, '\0'));  // endless
    EXPECT_EQ(PosixProcess().readFile("/", 9), std::nullopt);  // a folder fails on read
}

// Whether the whole answer got out, told by the status a child ends with
// through an exit from another thread.
TEST(PosixProcessTest, WriteSaysWhetherTheOutputGotOutAndExitEndsFromAnyThread) {
    for (const auto& [output, status] : {std::pair{"/dev/null", 7}, {"/dev/full", 1}, {"a pipe without reader", 1}}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ::close(fds[0]);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(output[0] == '/' ? ::open(output, O_WRONLY) : fds[1], STDOUT_FILENO);
            PosixProcess process;
            const bool written = process.writeStandardOutput(std::string(100000, 'x'));
            std::thread([&] { process.exit(written ? 7 : 1); }).join();
            ::_exit(99);
        }
        ::close(fds[1]);
        int ended = 0;
        ASSERT_EQ(::waitpid(child, &ended, 0), child);
        EXPECT_EQ(WIFEXITED(ended) ? WEXITSTATUS(ended) : 128 + WTERMSIG(ended), status) << output;
    }
}

}  // namespace
}  // namespace vxm::platform
