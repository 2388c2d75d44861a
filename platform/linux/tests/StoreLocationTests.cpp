#include "platform/linux/StoreLocation.h"

#include <map>

#include <gtest/gtest.h>

namespace vxm::platform {
namespace {

std::string pathFor(const std::map<std::string, std::string>& variables) {
    return storePath([&](const char* name) -> std::optional<std::string> {
        auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional(found->second);
    });
}

TEST(StoreLocationTest, FollowsVxmStoreThenXdgStateHomeThenHome) {
    EXPECT_EQ(pathFor({{"VXM_STORE", "rel/x.db"}, {"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}}), "rel/x.db");
    EXPECT_EQ(pathFor({{"VXM_STORE", ""}, {"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}}),
              "/s/vexomi/vpn-configurations.db");
    EXPECT_EQ(pathFor({{"HOME", "/h"}}), "/h/.local/state/vexomi/vpn-configurations.db");
    // XDG ignores a relative base folder.
    EXPECT_EQ(pathFor({{"XDG_STATE_HOME", "state"}, {"HOME", "/h"}}), "/h/.local/state/vexomi/vpn-configurations.db");
    // So is a relative home folder, for the one in the password database.
    EXPECT_EQ(pathFor({{"HOME", "home"}}), pathFor({}));
}

}  // namespace
}  // namespace vxm::platform
