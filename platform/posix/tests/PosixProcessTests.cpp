// SPDX-License-Identifier: Apache-2.0
#include "platform/posix/PosixProcess.h"

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/Support.h"

namespace vxm::platform {
namespace {

TEST(PosixProcessTest, ReadsAtMostMaxBytesAndNothingOfWhatCannotBeRead) {
    EXPECT_EQ(PosixProcess().readFile("/dev/zero", 200000), std::string(200000, '\0'));  // endless
    EXPECT_EQ(PosixProcess().readFile("/", 9), std::nullopt);  // a folder fails on read
}

// Whether the whole answer got out, told by the status a child ends with
// through an exit from another thread.
TEST(PosixProcessTest, WriteSaysWhetherTheOutputGotOutAndExitEndsFromAnyThread) {
    const testing::TempFolder folder;
    const std::string text(100000, 'x'), roomFor10 = "a file with room for 10 bytes", drained = "a full pipe, drained";
    for (const auto& [output, status] : {std::pair<std::string, int>{"/dev/null", 7}, {"/dev/full", 1},
                                         {"a pipe without reader", 1}, {roomFor10, 1}, {drained, 7}}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        (void)(output == drained ? ::fcntl(fds[1], F_SETFL, O_NONBLOCK) : ::close(fds[0]));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (output == roomFor10) {  // its first write gets 10 bytes out, the next none
                (void)std::signal(SIGXFSZ, SIG_IGN);
                const rlimit room{10, 10};
                (void)::setrlimit(RLIMIT_FSIZE, &room);
            }
            ::dup2(output[0] == '/' ? ::open(output.c_str(), O_WRONLY)
                   : output == roomFor10 ? ::open((folder / "out").c_str(), O_WRONLY | O_CREAT, 0600) : fds[1],
                   STDOUT_FILENO);
            PosixProcess process;
            const bool written = process.writeStandardOutput(text);
            std::thread([&] { process.exit(written ? 7 : 1); }).join();
            ::_exit(99);
        }
        ::close(fds[1]);
        if (output == drained) {  // once the writer has found it full
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            EXPECT_EQ(readDescriptor(fds[0], text.size() + 1).value_or("").size(), text.size());
            ::close(fds[0]);
        }
        int ended = 0;
        ASSERT_EQ(::waitpid(child, &ended, 0), child);
        EXPECT_EQ(WIFEXITED(ended) ? WEXITSTATUS(ended) : 128 + WTERMSIG(ended), status) << output;
    }
}

}  // namespace
}  // namespace vxm::platform
