// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/ChildProcess.h"

namespace vxm::platform {

// Starts children with posix_spawn: the executable path as program name, then
// exactly the given arguments; streams, environment and working folder are
// the launcher's own. Waiting reaps the child and ignores its status.
class LinuxChildProcesses : public ChildProcesses {
public:
    Result<std::unique_ptr<ChildProcess>> start(const std::string& executablePath,
                                                const std::vector<std::string>& arguments) override;
};

}  // namespace vxm::platform
