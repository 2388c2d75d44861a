// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreLocation.h"

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
    const std::string fromHome = "/h/.local/state/vexomi/vpn-configurations.db";
    const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
        {{{"VXM_STORE", "rel/x.db"}, {"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}}, "rel/x.db"},
        {{{"VXM_STORE", ""}, {"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}}, "/s/vexomi/vpn-configurations.db"},
        {{{"XDG_STATE_HOME", "state"}, {"HOME", "/h"}}, fromHome},  // a relative base folder is ignored
        {{{"HOME", "home"}}, pathFor({})},  // so is a relative home: the password database's is used
    };
    for (const auto& [environment, path] : cases) {
        EXPECT_EQ(pathFor(environment), path);
    }
}

}  // namespace
}  // namespace vxm::platform
