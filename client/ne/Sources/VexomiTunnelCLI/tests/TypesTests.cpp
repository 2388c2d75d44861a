#include "Types.h"

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/fake/FakeProcess.h"

namespace vxm::tunnel {
namespace {

const std::string kRequired =
    R"("privateKey":"k","address":"10.0.0.2/32","serverPubkey":"s","endpoint":"e","allowedIPs":"a")";

// A document with the five required keys, `before` and `after` them.
std::string with(const std::string& before, const std::string& after = "") {
    return "{" + before + kRequired + after + "}";
}

TunnelConfig named(std::optional<std::string> site, std::string allowedIPs = "a") {
    return {std::move(site), "k", "10.0.0.2/32", "s", "e", std::move(allowedIPs)};
}

std::string notString(const std::string& key) { return "the value of \"" + key + "\" is not a string"; }
std::string notJson(std::size_t column, int line = 1) {
    return "the document is not valid JSON (line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
}

struct DocumentCase {
    std::string bytes;
    std::variant<TunnelConfig, std::string> expected;  // the configuration, or the error's description
};

TEST(TunnelConfigTest, DecodingTable) {
    std::string deepObjects;
    for (int depth = 0; depth < 100000; ++depth) {
        deepObjects += R"({"a":)";
    }
    deepObjects += "1" + std::string(100000, '}');
    const std::vector<DocumentCase> cases = {
        {with(R"("siteName":"home",)", R"(,"x":{"privateKey":[1,{"y":null}]},"SiteName":7,"Address":1)"), named("home")},
        {with(""), named(std::nullopt)},
        {with(R"("siteName":null,)"), named(std::nullopt)},
        {with(R"("siteName":"",)"), named("")},
        {"\xEF\xBB\xBF" + with(R"("siteName":"caf\u00e9",)"), named("caf\xC3\xA9")},  // a byte-order mark, an escape
        {with("", R"(,"allowedIPs":"10.0.0.0/8")"), named(std::nullopt, "10.0.0.0/8")},  // the last of a repeated key
        {R"({"PrivateKey":"k","address":1})", R"(the key "privateKey" is missing)"},  // exact keys, checked in order
        {R"({"privateKey":"k","address":null,"serverPubkey":1})", R"(the value of "address" is null)"},
        {with("", R"(,"allowedIPs":1)"), notString("allowedIPs")},
        {with("", R"(,"allowedIPs":true)"), notString("allowedIPs")},
        {with("", R"(,"allowedIPs":["a"])"), notString("allowedIPs")},
        {with(R"("siteName":"x",)", R"(,"siteName":[1])"), notString("siteName")},
        {deepObjects, R"(the key "privateKey" is missing)"},
        {"", "the document is empty"},
        {" \n\t ", "the document is empty"},
        {R"(["k"])", "the document is not a JSON object"},
        {R"("k")", "the document is not a JSON object"},
        {with("") + " x", notJson(with("").size() + 2)},  // something after the object
        {"{\n  \"a\": tru }", notJson(11, 2)},
        {R"({"siteName":")" "\xFF" R"(",)" + kRequired + "}", notJson(14)},  // never UTF-8
        {R"({"siteName":")" "\xC0\xAF" R"(",)" + kRequired + "}", notJson(14)},  // overlong "/"
        {R"({"privateKey":")" "\xED\xA0\x80" R"("})", notJson(17)},  // a surrogate
        {R"({"siteName":")" "\xE2\x80" R"(",)" + kRequired + "}", notJson(16)},  // cut short
        {"\xEF\xBB\xBF\xEF\xBB\xBF" + with(""), notJson(4)},
        {"\xFF\xFE" + with(""), notJson(1)},  // UTF-16
        {R"({"a":)" + std::string(100000, '['), notJson(100006)},
        {with("", std::string(1, '\0')), notJson(kRequired.size() + 2)},
        {"{" + kRequired.substr(0, 40), notJson(42)},
        {std::string(kMaxDocumentBytes, ' ') + "{}", "the document is larger than 1048576 bytes"},
    };
    for (const auto& [bytes, expected] : cases) {
        auto decoded = decodeTunnelConfig(bytes);
        const std::string shown = bytes.substr(0, 120);
        if (const auto* config = std::get_if<TunnelConfig>(&expected)) {
            EXPECT_TRUE(decoded.ok() && decoded.value() == *config)
                << shown << ": " << (decoded.ok() ? "another configuration" : decoded.error().localizedDescription);
        } else {
            EXPECT_EQ(decoded.ok() ? "decoded" : decoded.error().localizedDescription, std::get<std::string>(expected))
                << shown;
        }
    }
}

TEST(TunnelConfigTest, EncodesFieldsInOrderAndRoundTrips) {
    TunnelConfig config{std::nullopt, "k", "a", "s", "e", "i"};
    EXPECT_EQ(encodeTunnelConfig(config),
              R"({"privateKey":"k","address":"a","serverPubkey":"s","endpoint":"e","allowedIPs":"i"})");
    config.siteName = "q\"\\\n\xE2\x80\x94";
    EXPECT_EQ(decodeTunnelConfig(encodeTunnelConfig(config)).value(), config);
}

TEST(HelperResponseTest, WritesPresentMembersInOrder) {
    EXPECT_EQ(encodeHelperResponse({.ok = true}), R"({"ok":true})");
    EXPECT_EQ(encodeHelperResponse({.ok = false, .error = "x"}), R"({"ok":false,"error":"x"})");
    EXPECT_EQ(encodeHelperResponse({.ok = true, .connected = false}), R"({"ok":true,"connected":false})");
    EXPECT_EQ(encodeHelperResponse({true, "n", "v", "e", true}),
              R"({"ok":true,"name":"n","vpnIP":"v","error":"e","connected":true})");
}

TEST(HelperResponseTest, AnotherReaderGetsTheSameText) {
    const std::string awkward = std::string("Vexomi \xE2\x80\x94 \"q\" \\ / \t\n\x01 caf\xC3\xA9 \xF0\x9F\x94\x91") +
                                std::string(1, '\0');
    const HelperResponse response{true, awkward, "10.0.0.2", std::nullopt, true};
    const std::string line = encodeHelperResponse(response);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    // The reader here is a DOM parser, independent of the writer's path.
    const auto parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed.at("name").get<std::string>(), awkward);
    EXPECT_EQ(parsed.size(), 4U);
    EXPECT_EQ(decodeHelperResponse(line).value(), response);
    EXPECT_NE(line.find("\xE2\x80\x94"), std::string::npos) << "non-ASCII text is written as UTF-8";
}

TEST(HelperResponseTest, InvalidUtf8IsReplacedNotLost) {
    const std::string line = encodeHelperResponse({.ok = false, .error = "Cannot read config file: /tmp/\xFF\xFEx"});
    EXPECT_EQ(line, "{\"ok\":false,\"error\":\"Cannot read config file: /tmp/\xEF\xBF\xBD\xEF\xBF\xBDx\"}");
}

TEST(HelperResponseTest, DecodingFollowsTheReadersRules) {
    EXPECT_EQ(decodeHelperResponse(R"({"ok":true,"name":null,"other":[1],"connected":false})").value(),
              (HelperResponse{.ok = true, .connected = false}));
    for (const char* bad : {R"({"name":"x"})", R"({"ok":"true"})", R"({"ok":true,"connected":"yes"})",
                            R"({"ok":true,"vpnIP":3})", "[true]", "{"}) {
        EXPECT_FALSE(decodeHelperResponse(bad).ok()) << bad;
    }
}

TEST(HelperResponseTest, PrintIsOneLineInOneWrite) {
    platform::FakeProcess process;
    EXPECT_TRUE(printResponse(process, {.ok = true, .connected = false}));
    EXPECT_EQ(process.standardOutput(), "{\"ok\":true,\"connected\":false}\n");
}

}  // namespace
}  // namespace vxm::tunnel
