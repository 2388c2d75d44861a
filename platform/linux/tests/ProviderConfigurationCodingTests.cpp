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
        R"({"b":"1","a":"2","b":"3"})",
        R"({"a":"1","b":"2","a":"3"})",
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

// The plain-text path looks at eight bytes at a time: a byte that ends or
// leaves plain text must be found at every offset within such a group, in
// keys and in values, however long the string before it.
TEST(ProviderConfigurationCodingTest, FindsWhatEndsPlainTextAtEveryOffset) {
    const std::string stops[] = {"", "\"", "\\\\", "\\u0041", "\x1f", "\x7f", "\x80", "\xC3\xA9", "\t", " ", "~"};
    for (const std::string& stop : stops) {
        for (std::size_t before = 0; before < 20; ++before) {
            std::string inside(before, 'k');
            inside += stop == "\"" ? "\\\"" : stop;
            std::string inValue = R"({"address":")";
            inValue.append(inside).append(R"(tail","b":"c"})");
            std::string inKey = "{\"";
            inKey.append(inside).append(R"(":"v","z":"0123456789abcdef"})");
            EXPECT_EQ(decodeProviderConfiguration(inValue), parsedByNlohmann(inValue)) << inValue;
            EXPECT_EQ(decodeProviderConfiguration(inKey), parsedByNlohmann(inKey)) << inKey;
        }
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
