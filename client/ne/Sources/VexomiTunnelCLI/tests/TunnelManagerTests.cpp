#include "TunnelManager.h"

#include <gtest/gtest.h>

#include "ToolHarness.h"

namespace vxm::tunnel::testing {
namespace {

using platform::ManagerRef;
using platform::Result;
using platform::TunnelProviderProtocol;

class TunnelManagerTest : public ToolTest {
protected:
    std::vector<ManagerRef> loadAll() {
        std::vector<ManagerRef> managers;
        TunnelManager::loadAll(store, [&](Result<std::vector<ManagerRef>> loaded) { managers = loaded.value(); });
        return managers;
    }

    ManagerRef loadOrCreate(const std::string& site) {
        ManagerRef manager;
        TunnelManager::loadOrCreate(store, site, [&](Result<ManagerRef> loaded) { manager = loaded.value(); });
        return manager;
    }
};

TEST_F(TunnelManagerTest, DisplayNameAndIdentifier) {
    EXPECT_EQ(TunnelManager::displayName(" x "), "Vexomi \xE2\x80\x94  x ");
    EXPECT_EQ(TunnelManager::displayName(""), "Vexomi \xE2\x80\x94 ");
    EXPECT_EQ(TunnelManager::providerBundleIdentifier(), "com.vexomi.client.tunnel");
}

TEST_F(TunnelManagerTest, LoadAllKeepsTheClientsConfigurationsInStoreOrder) {
    EXPECT_TRUE(loadAll().empty());
    store.add(clientEntry("b"));
    store.add(foreignEntry("other"));
    store.add({0, "none", platform::NoProtocol{}, true});
    store.add({0, "ikev2", platform::OtherProtocol{"ikev2"}, true});
    FakeVPNStore::Entry noIdentifier = clientEntry("no identifier");
    std::get<TunnelProviderProtocol>(noIdentifier.protocolConfiguration).providerBundleIdentifier.reset();
    store.add(noIdentifier);
    store.add(clientEntry("a"));

    std::vector<std::optional<std::string>> names;
    for (const ManagerRef& manager : loadAll()) {
        names.push_back(manager->localizedDescription);
    }
    EXPECT_EQ(names, (std::vector<std::optional<std::string>>{"b", "a"}));
}

TEST_F(TunnelManagerTest, LoadOrCreateFindsTheFirstByDisplayNameOfAnyProvider) {
    FakeVPNStore::Entry unnamed = clientEntry("");
    unnamed.localizedDescription.reset();
    store.add(unnamed);
    const auto first = store.add(foreignEntry("Vexomi \xE2\x80\x94 home"));
    store.add(clientEntry("Vexomi \xE2\x80\x94 home"));

    ManagerRef found = loadOrCreate("home");
    EXPECT_EQ(found->storeKey, first);
    EXPECT_EQ(loadOrCreate("Home")->storeKey, std::nullopt) << "no case folding";
    EXPECT_EQ(loadOrCreate("home ")->storeKey, std::nullopt) << "no trimming";
    const auto precomposed = store.add(clientEntry("Vexomi \xE2\x80\x94 caf\xC3\xA9"));
    EXPECT_EQ(loadOrCreate("cafe\xCC\x81")->storeKey, precomposed) << "canonically equivalent names match";
    EXPECT_TRUE(store.saves().empty());
}

TEST_F(TunnelManagerTest, LoadOrCreatePreparesANewUnsavedConfiguration) {
    ManagerRef created = loadOrCreate("new");
    EXPECT_EQ(created->storeKey, std::nullopt);
    EXPECT_EQ(created->localizedDescription, "Vexomi \xE2\x80\x94 new");
    EXPECT_FALSE(created->isEnabled);
    const auto& protocol = std::get<TunnelProviderProtocol>(created->protocolConfiguration);
    EXPECT_EQ(protocol.providerBundleIdentifier, "com.vexomi.client.tunnel");
    EXPECT_EQ(protocol.serverAddress, "Vexomi");
    EXPECT_EQ(protocol.providerConfiguration, std::nullopt);
    EXPECT_TRUE(store.stored().empty());
}

TEST_F(TunnelManagerTest, VpnIPReadsTheTextAddressOnly) {
    ManagerRef manager = store.makeManager();
    EXPECT_EQ(TunnelManager::vpnIP(*manager), std::nullopt);
    manager->protocolConfiguration = platform::OtherProtocol{"ikev2"};
    EXPECT_EQ(TunnelManager::vpnIP(*manager), std::nullopt);

    TunnelProviderProtocol protocol;
    manager->protocolConfiguration = protocol;
    EXPECT_EQ(TunnelManager::vpnIP(*manager), std::nullopt) << "no provider configuration";
    for (const auto& [value, expected] : std::vector<std::pair<nlohmann::json, std::optional<std::string>>>{
             {"10.0.0.2/32", "10.0.0.2"}, {"10.0.0.2", "10.0.0.2"}, {"", ""}, {7, std::nullopt},
             {nlohmann::json::array({"10.0.0.2"}), std::nullopt}}) {
        protocol.providerConfiguration = platform::ProviderConfiguration{{"address", value}};
        manager->protocolConfiguration = protocol;
        EXPECT_EQ(TunnelManager::vpnIP(*manager), expected) << value.dump();
    }
    protocol.providerConfiguration = platform::ProviderConfiguration{{"Address", "10.0.0.2"}};
    manager->protocolConfiguration = protocol;
    EXPECT_EQ(TunnelManager::vpnIP(*manager), std::nullopt);

    // As a store hands it over: read from the store when first looked at;
    // none when the store has none for it (damaged, say) or is gone.
    struct Source : platform::ProviderConfigurationSource {
        std::map<std::int64_t, platform::ProviderConfiguration> stored{{1, {{"address", "10.0.0.2/32"}}}};
        std::optional<platform::ProviderConfiguration> readProviderConfiguration(std::int64_t key) override {
            auto found = stored.find(key);
            return found != stored.end() ? std::optional(found->second) : std::nullopt;
        }
    };
    auto source = std::make_shared<Source>();
    for (const auto& [key, expected] :
         std::vector<std::pair<std::int64_t, std::optional<std::string>>>{{1, "10.0.0.2"}, {2, std::nullopt}}) {
        protocol.providerConfiguration = platform::LazyProviderConfiguration::stored(source, key);
        manager->protocolConfiguration = protocol;
        EXPECT_EQ(TunnelManager::vpnIP(*manager), expected) << key;
    }
    protocol.providerConfiguration = platform::LazyProviderConfiguration::stored(source, 1);
    manager->protocolConfiguration = protocol;
    source.reset();
    EXPECT_EQ(TunnelManager::vpnIP(*manager), std::nullopt);
}

}  // namespace
}  // namespace vxm::tunnel::testing
