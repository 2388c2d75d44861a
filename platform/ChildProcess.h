// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace vxm::platform {

// A child process that has started.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;

    // Blocks until the child has exited. Its status is not kept.
    virtual void waitUntilExit() = 0;
};

// Starts child processes.
class ChildProcesses {
public:
    virtual ~ChildProcesses() = default;

    // Starts the program at `executablePath` with exactly `arguments` after its
    // program name. The child inherits the standard streams, the environment
    // and the working folder. An error when it cannot be started.
    virtual Result<std::unique_ptr<ChildProcess>> start(const std::string& executablePath,
                                                        const std::vector<std::string>& arguments) = 0;
};

}  // namespace vxm::platform
