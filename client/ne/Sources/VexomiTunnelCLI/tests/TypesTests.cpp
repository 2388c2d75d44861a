// SPDX-License-Identifier: Apache-2.0
#include "Types.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vxm::tunnel {
namespace {

const std::string kRequired =
    R"("privateKey":"k","address":"10.0.0.2/32","serverPubkey":"s","endpoint":"e","allowedIPs":"a")";

std::string with(const std::string& before, const std::string& after = "") {
    return "{" + before + kRequired + after + "}";
}
std::string notJson(std::size_t line, std::size_t column) {
    return "the document is not valid JSON (line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
}

// A document that decodes shows as its site name ("-" for none) and the
// other values in field order; one that does not, as its error.
TEST(TunnelConfigTest, DecodesDocuments) {
    std::string deep;
    for (int depth = 0; depth < 100000; ++depth) {
        deep += R"({"a":)";
    }
    deep += "1" + std::string(100000, '}');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {with(R"("siteName":"home",)", R"(,"x":{"privateKey":[1,{"y":1}]},"SiteName":7,"Address":1)"),
         "home k 10.0.0.2/32 s e a"},
        {with(R"("siteName":"x","siteName":null,)"), "- k 10.0.0.2/32 s e a"},  // the last of a repeated key counts
        {R"({"PrivateKey":"k","address":1})", R"(the key "privateKey" is missing)"},  // exact keys, checked in order
        {R"({"privateKey":"k","address":null,"serverPubkey":1})", R"(the value of "address" is null)"},
        {with("", R"(,"allowedIPs":1)"), R"(the value of "allowedIPs" is not a string)"},
        {"{" + kRequired.substr(0, kRequired.find(R"(,"allowedIPs")")) + "}", R"(the key "allowedIPs" is missing)"},
        {with(R"("siteName":[1],)"), R"(the value of "siteName" is not a string)"},
        {deep, R"(the key "privateKey" is missing)"},
        {" \n\t ", "the document is empty"},
        {R"(["k"])", "the document is not a JSON object"},
        {with("") + " x", notJson(1, with("").size() + 2)},  // something after the object
        {"{\n  \"a\": tru }", notJson(2, 11)},
        {R"({"siteName":")" "\xC0\xAF" R"(",)" + kRequired + "}", notJson(1, 14)},  // an overlong "/"
    };
    for (const auto& [bytes, expected] : cases) {
        auto decoded = decodeTunnelConfig(bytes);
        const TunnelConfig& c = decoded.ok() ? decoded.value() : TunnelConfig{};
        EXPECT_EQ(decoded.ok() ? c.siteName.value_or("-") + " " + c.privateKey + " " + c.address + " " +
                                     c.serverPubkey + " " + c.endpoint + " " + c.allowedIPs
                               : decoded.error().localizedDescription,
                  expected)
            << bytes.substr(0, 120);
    }
}

}  // namespace
}  // namespace vxm::tunnel
