#include "platform/linux/ProviderConfigurationCoding.h"

#include <gtest/gtest.h>

namespace vxm::platform {
namespace {

// What the general JSON parser makes of `json`, as the expected result.
std::optional<ProviderConfiguration> parsedByNlohmann(const std::string& json) {
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    return parsed.get<ProviderConfiguration>();
}

TEST(ProviderConfigurationCodingTest, DecodesEveryTextAsAGeneralJsonParserDoes) {
    const std::string texts[] = {
        R"({"address":"10.0.0.2/32","privateKey":"yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk="})",
        R"({"b":"1","a":"2"})",
        R"({"a":"1","a":"2"})",
        R"({"a":"x\"y","b":"\\"})",
        R"({"a":"\u00e9"})",
        "{\"a\":\"\xC3\xA9\"}",
        R"({ "a" : "b" })",
        R"({})",
        R"({"":""})",
        R"({"n":1,"f":0.5,"t":true,"z":null,"l":[1,"2"],"o":{"p":"q"}})",
        R"({"a":"b",})",
        R"({"a":"b"} x)",
        R"({"a":"b")",
        R"({"a" "b"})",
        R"([])",
        R"("text")",
        "",
        "{\"a\":\"tab\there\"}",
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(decodeProviderConfiguration(text), parsedByNlohmann(text)) << text;
    }
}

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
}

}  // namespace
}  // namespace vxm::platform
