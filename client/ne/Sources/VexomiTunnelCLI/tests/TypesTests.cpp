#include "Types.h"

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/fake/FakeProcess.h"

namespace vxm::tunnel {
namespace {

const std::string kRequired =
    R"("privateKey":"k","address":"10.0.0.2/32","serverPubkey":"s","endpoint":"e:1","allowedIPs":"0.0.0.0/0")";

DecodingError decodeFailure(const std::string& document) {
    auto decoded = decodeTunnelConfig(document);
    EXPECT_FALSE(decoded.ok()) << document;
    return decoded.ok() ? DecodingError{} : decoded.error();
}

TEST(TunnelConfigTest, DecodesTheSixFieldsIgnoringOtherKeys) {
    auto decoded = decodeTunnelConfig(R"({"siteName":"home",)" + kRequired +
                                      R"(,"extra":{"deep":[1,{"x":null}]},"SiteName":7,"mtu":1420})");
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value(), (TunnelConfig{"home", "k", "10.0.0.2/32", "s", "e:1", "0.0.0.0/0"}));

    EXPECT_EQ(decodeTunnelConfig("{" + kRequired + "}").value().siteName, std::nullopt);
    EXPECT_EQ(decodeTunnelConfig(R"({"siteName":null,)" + kRequired + "}").value().siteName, std::nullopt);
    EXPECT_EQ(decodeTunnelConfig(R"({"siteName":"",)" + kRequired + "}").value().siteName, "");
    // A byte-order mark and escapes are JSON's business, not ours.
    EXPECT_EQ(decodeTunnelConfig("\xEF\xBB\xBF{\"siteName\":\"caf\\u00e9\"," + kRequired + "}").value().siteName,
              "caf\xC3\xA9");
}

TEST(TunnelConfigTest, RequiredKeysFailInOrderWithTheirKind) {
    auto failure = decodeFailure(R"({"PrivateKey":"k","address":1})");
    EXPECT_EQ(failure.kind, DecodingErrorKind::keyNotFound);
    EXPECT_EQ(failure.localizedDescription, R"(the key "privateKey" is missing)");

    failure = decodeFailure(R"({"privateKey":"k","address":null,"serverPubkey":1})");
    EXPECT_EQ(failure.kind, DecodingErrorKind::valueNotFound);
    EXPECT_EQ(failure.localizedDescription, R"(the value of "address" is null)");

    for (const char* value : {"1", "true", "[\"a\"]", "{}"}) {
        std::string document = R"({"privateKey":"k","address":"a","serverPubkey":"s","endpoint":"e","allowedIPs":)";
        failure = decodeFailure(document + value + "}");
        EXPECT_EQ(failure.kind, DecodingErrorKind::typeMismatch) << value;
        EXPECT_EQ(failure.localizedDescription, R"(the value of "allowedIPs" is not a string)");
    }
    failure = decodeFailure(R"({"siteName":5,)" + kRequired + "}");
    EXPECT_EQ(failure.kind, DecodingErrorKind::typeMismatch);
}

TEST(TunnelConfigTest, MalformedDocumentsAreCorruptedWithoutQuotingThem) {
    const std::string secret = "c2VjcmV0LWtleQ";
    for (const std::string& document :
         {std::string(), std::string(" \n\t "), "[\"" + secret + "\"]", "\"" + secret + "\"",
          "{\"privateKey\":\"" + secret + "\"", "{\"privateKey\":\"" + secret + "\xFF\"}",
          "{" + kRequired + "} trailing", std::string(100000, '[') + std::string(100000, ']')}) {
        auto failure = decodeFailure(document);
        EXPECT_EQ(failure.kind, DecodingErrorKind::dataCorrupted);
        EXPECT_EQ(failure.localizedDescription.find(secret), std::string::npos) << failure.localizedDescription;
    }
    EXPECT_EQ(decodeFailure("{\n  \"a\": tru }").localizedDescription,
              "the document is not valid JSON (line 2, column 11)");
}

TEST(TunnelConfigTest, RepeatedKeysTakeTheLastValue) {
    auto decoded = decodeTunnelConfig("{" + kRequired + R"(,"allowedIPs":"10.0.0.0/8"})");
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().allowedIPs, "10.0.0.0/8");
    EXPECT_FALSE(decodeTunnelConfig("{" + kRequired + R"(,"allowedIPs":[]})").ok());
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
