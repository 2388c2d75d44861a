// SPDX-License-Identifier: Apache-2.0
#include "platform/networkmanager/VpnProfile.h"

#include <gtest/gtest.h>

#include "platform/fake/FakeMainQueue.h"
#include "platform/fake/FakeVPNStore.h"

namespace vxm::platform::networkmanager {
namespace {

using nlohmann::json;

TEST(VpnProfileTest, ProviderConfigurationsGoInAndComeBackAsTheyWere) {
    const ProviderConfiguration cases[] = {
        {{"address", "10.64.0.2/32"}, {"privateKey", "k="}},
        {{"mtu", 1420}, {"keepalive", true}, {"peers", json::array({"a", 1})}, {"none", nullptr}},
        {{"port", "51820"}, {"other-flags", "2"}},  // text that looks like a number or a secret's flags
        {{"privateKey", 7}},                         // a key that is not text is no secret to store
        {},
    };
    FakeMainQueue queue;
    FakeVPNStore store(queue);
    for (const ProviderConfiguration& values : cases) {
        ManagerRef manager = store.makeManager();
        manager->localizedDescription = "Vexomi — home";
        manager->isEnabled = true;
        manager->protocolConfiguration =
            TunnelProviderProtocol{.serverAddress = "198.51.100.1", .providerConfiguration = values};
        std::optional<VpnProfile> profile = profileFor(*manager, "com.vexomi.client.tunnel");
        ASSERT_TRUE(profile);
        EXPECT_EQ(providerConfigurationOf(*profile), values);

        auto loaded = store.makeManager();
        applyProfile(*profile, *loaded);
        EXPECT_EQ(loaded->localizedDescription, manager->localizedDescription);
        EXPECT_TRUE(loaded->isEnabled);
        EXPECT_EQ(std::get<TunnelProviderProtocol>(loaded->protocolConfiguration).serverAddress, "198.51.100.1");
        EXPECT_EQ(std::get<TunnelProviderProtocol>(loaded->protocolConfiguration).providerBundleIdentifier,
                  "com.vexomi.client.tunnel");
        // The private key only in the secrets, which NetworkManager stores itself.
        for (const auto& [key, value] : profile->data) {
            EXPECT_NE(value, "k=") << key;
        }
        const bool keyIsText = values.count("privateKey") != 0 && values.at("privateKey").is_string();
        EXPECT_EQ(profile->secrets.count("privateKey"), keyIsText ? 1U : 0U);
    }
}

TEST(VpnProfileTest, AProfileMadeByAnotherProgramReadsAsTextDisabled) {
    const VpnProfile made{.id = "Vexomi — work", .serviceType = "s",
                          .data = {{"address", "10.0.0.1/32"}, {"mtu", "1420"}, {"vxm-json-keys", "not json"}}};
    EXPECT_EQ(providerConfigurationOf(made), (ProviderConfiguration{{"address", "10.0.0.1/32"}, {"mtu", "1420"}}));
    FakeMainQueue queue;
    FakeVPNStore store(queue);
    auto manager = store.makeManager();
    manager->isEnabled = true;
    applyProfile(made, *manager);
    EXPECT_FALSE(manager->isEnabled);
    EXPECT_EQ(std::get<TunnelProviderProtocol>(manager->protocolConfiguration).serverAddress, "");
}

TEST(VpnProfileTest, ActiveAndVpnStatesMapToStatuses) {
    using A = ActiveState;
    using V = VpnState;
    const std::tuple<ActiveState, VpnState, VPNStatus> cases[] = {
        {A::activating, V::prepare, VPNStatus::connecting},
        {A::activating, V::needAuth, VPNStatus::connecting},
        {A::activating, V::ipConfigGet, VPNStatus::connecting},
        {A::activated, V::activated, VPNStatus::connected},
        {A::activating, V::activated, VPNStatus::connected},
        {A::activated, V::failed, VPNStatus::disconnected},
        {A::activated, V::disconnected, VPNStatus::disconnected},
        {A::deactivating, V::activated, VPNStatus::disconnecting},
        {A::deactivated, V::activated, VPNStatus::disconnected},
        {A::activated, V::unknown, VPNStatus::connected},
        {A::unknown, V::unknown, VPNStatus::connecting},
    };
    for (const auto& [active, vpn, status] : cases) {
        EXPECT_EQ(statusOf(active, vpn), status) << static_cast<int>(active) << " " << static_cast<int>(vpn);
    }
}

}  // namespace
}  // namespace vxm::platform::networkmanager
