// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/ChildProcess.h"

namespace vxm::platform {

// Starts children with NSTask, setting only the executable (as a file URL)
// and the arguments: standard streams, environment and working folder are the
// launcher's own. A start that fails reports NSTask's error.
class MacChildProcesses final : public ChildProcesses {
public:
    Result<std::unique_ptr<ChildProcess>> start(const std::string& executablePath,
                                                const std::vector<std::string>& arguments) override;
};

}  // namespace vxm::platform
