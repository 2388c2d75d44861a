#pragma once

#include <string>
#include <string_view>

#include "platform/LaunchEnvironment.h"

namespace vxm::platform {

// A launch environment for tests, answering with the values set here. The
// launch agent's start command is `serviceManager`, then `serviceVerb`, then
// the identifier asked for.
class FakeLaunchEnvironment : public LaunchEnvironment {
public:
    std::string agent = "/Applications/Vexomi.app/Contents/MacOS/vxm";
    std::string serviceManager = "/bin/service-manager";
    std::string serviceVerb = "start";

    std::string agentPath() const override { return agent; }
    Command launchAgentStart(std::string_view appIdentifier) const override {
        return {serviceManager, {serviceVerb, std::string(appIdentifier)}};
    }
};

}  // namespace vxm::platform
