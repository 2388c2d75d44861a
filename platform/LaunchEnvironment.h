// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vxm::platform {

// A program to run and its arguments after the program name.
struct Command {
    std::string executablePath;
    std::vector<std::string> arguments;

    bool operator==(const Command&) const = default;
};

// Where the launcher finds the client's programs, and how this platform's
// per-user service manager is asked to start the client's launch agent.
class LaunchEnvironment {
public:
    virtual ~LaunchEnvironment() = default;

    // The path of the client's agent `vxm`.
    [[nodiscard]] virtual std::string agentPath() const = 0;

    // The command that has the user's service manager start the launch agent
    // of the client named by `appIdentifier`. Running it is enough: its output
    // and exit status mean nothing to the launcher.
    [[nodiscard]] virtual Command launchAgentStart(std::string_view appIdentifier) const = 0;
};

}  // namespace vxm::platform
