// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxChildProcess.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace vxm::platform {

namespace {

class SpawnedChild : public ChildProcess {
public:
    explicit SpawnedChild(pid_t pid) : pid_(pid) {}

    void waitUntilExit() override {
        while (::waitpid(pid_, nullptr, 0) == -1 && errno == EINTR) {
        }
    }

private:
    pid_t pid_;
};

}  // namespace

Result<std::unique_ptr<ChildProcess>> LinuxChildProcesses::start(const std::string& executablePath,
                                                                 const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executablePath.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int failure = ::posix_spawn(&pid, executablePath.c_str(), nullptr, nullptr, argv.data(), environ);
    if (failure != 0) {
        return Error{executablePath + ": " + std::generic_category().message(failure)};
    }
    return std::unique_ptr<ChildProcess>(std::make_unique<SpawnedChild>(pid));
}

}  // namespace vxm::platform
