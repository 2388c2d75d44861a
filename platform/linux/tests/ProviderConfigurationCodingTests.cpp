#include "platform/linux/ProviderConfigurationCoding.h"

#include <gtest/gtest.h>

namespace vxm::platform {
namespace {

TEST(ProviderConfigurationCodingTest, RoundTripsValuesOfEveryTypeAndRefusesInvalidText) {
    const ProviderConfiguration configuration{
        {"privateKey", "k"}, {"mtu", 1420}, {"big", 18446744073709551615ULL}, {"ratio", 0.1},
        {"on", false},       {"none", nullptr}, {"list", nlohmann::json::array({1, "two"})},
        {"quote", "a\"b\\c\n"}, {"unicode", "\xE2\x80\x94"}};
    const std::optional<std::string> encoded = encodeProviderConfiguration(configuration);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(decodeProviderConfiguration(*encoded), configuration);
    EXPECT_EQ(decodeProviderConfiguration(*encodeProviderConfiguration({})), ProviderConfiguration{});

    EXPECT_EQ(encodeProviderConfiguration({{"privateKey", "\xFF"}}), std::nullopt);
    EXPECT_EQ(encodeProviderConfiguration({{"\xC3", "v"}}), std::nullopt);
    // What a store may hold that is no configuration: read as none.
    for (const char* damaged : {"", R"({"a":"b",})", R"({"a":"b"} x)", R"({"a":"b")", "[]", R"("text")", "null"}) {
        EXPECT_EQ(decodeProviderConfiguration(damaged), std::nullopt) << damaged;
    }
}

}  // namespace
}  // namespace vxm::platform
