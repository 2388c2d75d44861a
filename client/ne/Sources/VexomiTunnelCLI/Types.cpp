// SPDX-License-Identifier: Apache-2.0
#include "Types.h"

#include <array>
#include <map>
#include <utility>

#include <nlohmann/json.hpp>

namespace vxm::tunnel {

namespace {

using nlohmann::json;
using platform::Result;

constexpr std::array<const char*, 5> kRequiredKeys = {"privateKey", "address", "serverPubkey", "endpoint",
                                                       "allowedIPs"};

// What a top-level member of the document holds, as far as decoding cares.
struct MemberValue {
    enum class Kind { string, null, other } kind = Kind::other;
    std::string text;
};

// Collects the top-level members of a document without building the rest of
// it, so that nesting of any depth costs no memory and no stack.
class TopLevelCollector {
public:
    std::map<std::string, MemberValue> members;
    bool topLevelIsObject = false;
    bool topLevelSeen = false;
    std::optional<std::size_t> errorPosition;

    bool null() { return value({MemberValue::Kind::null, {}}); }
    bool boolean(bool /*unused*/) { return value({}); }
    bool number_integer(json::number_integer_t /*unused*/) { return value({}); }
    bool number_unsigned(json::number_unsigned_t /*unused*/) { return value({}); }
    bool number_float(json::number_float_t /*unused*/, const std::string& /*unused*/) { return value({}); }
    bool string(json::string_t& text) { return value({MemberValue::Kind::string, std::move(text)}); }
    bool binary(json::binary_t& /*unused*/) { return value({}); }
    bool start_object(std::size_t /*unused*/) { return open(true); }
    bool start_array(std::size_t /*unused*/) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(json::string_t& name) {
        if (depth_ == 1) {
            key_ = std::move(name);
        }
        return true;
    }

    bool parse_error(std::size_t position, const std::string& /*lastToken*/,
                     const nlohmann::detail::exception& /*error*/) {
        errorPosition = position;
        return false;
    }

private:
    // A scalar: a member when directly inside the top-level object. A scalar
    // at the top level ends decoding, since the document is not an object.
    bool value(MemberValue member) {
        if (depth_ == 0) {
            topLevelSeen = true;
            return false;
        }
        if (depth_ == 1) {
            members.insert_or_assign(key_, std::move(member));  // a repeated key: the last one counts
        }
        return true;
    }

    bool open(bool isObject) {
        if (depth_ == 0) {
            topLevelSeen = true;
            topLevelIsObject = isObject;
            if (!isObject) {
                return false;
            }
        } else if (depth_ == 1) {
            members.insert_or_assign(key_, MemberValue{});
        }
        ++depth_;
        return true;
    }

    bool close() {
        --depth_;
        return true;
    }

    int depth_ = 0;
    std::string key_;
};

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// "line L, column C" of the byte at a parser position (1-based count of bytes
// read, the offending one included).
std::string describePosition(std::string_view document, std::size_t position) {
    const std::size_t offending = std::min(position > 0 ? position - 1 : 0, document.size());
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offending; ++i) {
        if (document[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(offending - lineStart + 1);
}

DecodingError corrupted(std::string description) {
    return {std::move(description)};
}

// The first failure of one member, or nothing when it holds a string.
std::optional<DecodingError> checkRequired(const std::map<std::string, MemberValue>& members,
                                           const std::string& key) {
    auto found = members.find(key);
    if (found == members.end()) {
        return DecodingError{"the key \"" + key + "\" is missing"};
    }
    if (found->second.kind == MemberValue::Kind::null) {
        return DecodingError{"the value of \"" + key + "\" is null"};
    }
    if (found->second.kind != MemberValue::Kind::string) {
        return DecodingError{"the value of \"" + key + "\" is not a string"};
    }
    return std::nullopt;
}

Result<TunnelConfig, DecodingError> configFromMembers(std::map<std::string, MemberValue>& members) {
    TunnelConfig config;
    if (auto site = members.find("siteName"); site != members.end()) {
        if (site->second.kind == MemberValue::Kind::other) {
            return DecodingError{"the value of \"siteName\" is not a string"};
        }
        if (site->second.kind == MemberValue::Kind::string) {
            config.siteName = std::move(site->second.text);
        }
    }
    std::array<std::string*, 5> fields = {&config.privateKey, &config.address, &config.serverPubkey,
                                          &config.endpoint, &config.allowedIPs};
    for (std::size_t i = 0; i < kRequiredKeys.size(); ++i) {
        if (auto failure = checkRequired(members, kRequiredKeys[i])) {
            return *std::move(failure);
        }
        *fields[i] = std::move(members.at(kRequiredKeys[i]).text);
    }
    return config;
}

DecodingError documentTooLarge() {
    return corrupted("the document is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
}

}  // namespace

Result<TunnelConfig, DecodingError> decodeTunnelConfig(std::string_view document) {
    if (document.size() > kMaxDocumentBytes) {
        return documentTooLarge();
    }
    if (isBlank(document)) {
        return corrupted("the document is empty");
    }
    TopLevelCollector collector;
    json::sax_parse(document.begin(), document.end(), &collector);
    if (collector.topLevelSeen && !collector.topLevelIsObject) {
        return corrupted("the document is not a JSON object");
    }
    if (collector.errorPosition) {
        return corrupted("the document is not valid JSON (" + describePosition(document, *collector.errorPosition) +
                         ")");
    }
    return configFromMembers(collector.members);
}

std::string encodeHelperResponse(const HelperResponse& response) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["ok"] = response.ok;
    if (response.name) {
        object["name"] = *response.name;
    }
    if (response.vpnIP) {
        object["vpnIP"] = *response.vpnIP;
    }
    if (response.error) {
        object["error"] = *response.error;
    }
    if (response.connected) {
        object["connected"] = *response.connected;
    }
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool printResponse(platform::Process& process, const HelperResponse& response) {
    return process.writeStandardOutput(encodeHelperResponse(response) + "\n");
}

}  // namespace vxm::tunnel
