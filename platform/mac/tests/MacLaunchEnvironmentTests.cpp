#include "platform/mac/MacLaunchEnvironment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vxm::platform {
namespace {

TEST(MacLaunchEnvironmentTest, AgentInTheBundleAndLaunchctlBootstrapOfTheUsersAgent) {
    struct Case {
        std::string bundle;
        std::uint32_t uid;
        std::string home;
        std::string agent;
        Command start;
    };
    const Case cases[] = {
        {"/Applications/X.app", 501, "/Users/ana", "/Applications/X.app/Contents/MacOS/vxm",
         {"/bin/launchctl", {"bootstrap", "gui/501", "/Users/ana/Library/LaunchAgents/c.x.plist"}}},
        {"/Users/ana/My Apps/V ü.app", 4294967294U, "/home/ana maría",
         "/Users/ana/My Apps/V ü.app/Contents/MacOS/vxm",
         {"/bin/launchctl", {"bootstrap", "gui/4294967294", "/home/ana maría/Library/LaunchAgents/c.x.plist"}}},
        {"/", 0, "", "//Contents/MacOS/vxm",
         {"/bin/launchctl", {"bootstrap", "gui/0", "/Library/LaunchAgents/c.x.plist"}}},
    };
    for (const Case& c : cases) {
        const MacLaunchEnvironment environment(c.bundle, c.uid, c.home);
        EXPECT_EQ(environment.agentPath(), c.agent);
        EXPECT_EQ(environment.launchAgentStart("c.x"), c.start) << c.uid;
    }
}

}  // namespace
}  // namespace vxm::platform
