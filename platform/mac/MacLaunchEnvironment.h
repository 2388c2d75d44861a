// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/LaunchEnvironment.h"

namespace vxm::platform {

// The launch environment of an application bundle on macOS, from what the
// system says of the running process: the bundle's path (NSBundle mainBundle),
// the user id (getuid) and the home folder (NSHomeDirectory). The agent lies
// in the bundle, at "Contents/MacOS/vxm"; the launch agent is bootstrapped
// into the user's GUI domain by /bin/launchctl from its property list in
// ~/Library/LaunchAgents.
class MacLaunchEnvironment : public LaunchEnvironment {
public:
    MacLaunchEnvironment(std::string bundlePath, std::uint32_t userID, std::string homeDirectory)
        : bundlePath_(std::move(bundlePath)), userID_(userID), homeDirectory_(std::move(homeDirectory)) {}

    // The bundle path followed by "/Contents/MacOS/vxm".
    std::string agentPath() const override;

    // /bin/launchctl bootstrap gui/<uid> <home>/Library/LaunchAgents/<identifier>.plist
    Command launchAgentStart(std::string_view appIdentifier) const override;

private:
    std::string bundlePath_;
    std::uint32_t userID_;
    std::string homeDirectory_;
};

}  // namespace vxm::platform
