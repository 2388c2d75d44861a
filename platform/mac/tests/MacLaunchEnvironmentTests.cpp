// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacLaunchEnvironment.h"

#include <gtest/gtest.h>

namespace vxm::platform {
namespace {

TEST(MacLaunchEnvironmentTest, AgentInTheBundleAndLaunchctlBootstrapOfTheUsersAgent) {
    const MacLaunchEnvironment environment("/Users/ana/My Apps/V ü.app", 4294967294U, "/Users/ana");
    EXPECT_EQ(environment.agentPath(), "/Users/ana/My Apps/V ü.app/Contents/MacOS/vxm");
    EXPECT_EQ(environment.launchAgentStart("c.x"),
              (Command{"/bin/launchctl", {"bootstrap", "gui/4294967294", "/Users/ana/Library/LaunchAgents/c.x.plist"}}));
}

}  // namespace
}  // namespace vxm::platform
