// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacLaunchEnvironment.h"

namespace vxm::platform {

std::string MacLaunchEnvironment::agentPath() const {
    return bundlePath_ + "/Contents/MacOS/vxm";
}

Command MacLaunchEnvironment::launchAgentStart(std::string_view appIdentifier) const {
    return {"/bin/launchctl",
            {"bootstrap", "gui/" + std::to_string(userID_),
             homeDirectory_ + "/Library/LaunchAgents/" + std::string(appIdentifier) + ".plist"}};
}

}  // namespace vxm::platform
