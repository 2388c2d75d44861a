#include "platform/linux/ProviderConfigurationCoding.h"

#include <utility>

namespace vxm::platform {

namespace {

// Reads a string of printable ASCII without escapes at `at`, which must be its
// opening quote; moves `at` past the closing quote. No value for any other
// string, which the general parser then reads.
std::optional<std::string_view> plainString(std::string_view json, std::size_t& at) {
    if (at >= json.size() || json[at] != '"') {
        return std::nullopt;
    }
    const std::size_t start = ++at;
    for (; at < json.size(); ++at) {
        const char c = json[at];
        if (c == '"') {
            return json.substr(start, at++ - start);
        }
        if (c == '\\' || c < 0x20 || c > 0x7e) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The fast path: a compact object of plain strings, as encode writes it for
// the tool's documents. No value for anything else.
std::optional<ProviderConfiguration> decodePlainTextObject(std::string_view json) {
    std::size_t at = 0;
    if (json.size() < 2 || json[at++] != '{') {
        return std::nullopt;
    }
    ProviderConfiguration values;
    if (json[at] == '}') {
        return at + 1 == json.size() ? std::optional(std::move(values)) : std::nullopt;
    }
    for (;;) {
        const std::optional<std::string_view> key = plainString(json, at);
        if (!key || at >= json.size() || json[at++] != ':') {
            return std::nullopt;
        }
        const std::optional<std::string_view> value = plainString(json, at);
        if (!value || at >= json.size()) {
            return std::nullopt;
        }
        // A repeated key keeps its last value, as with the general parser.
        values.insert_or_assign(std::string(*key), std::string(*value));
        const char next = json[at++];
        if (next == '}') {
            return at == json.size() ? std::optional(std::move(values)) : std::nullopt;
        }
        if (next != ',') {
            return std::nullopt;
        }
    }
}

}  // namespace

std::optional<std::string> encodeProviderConfiguration(const ProviderConfiguration& configuration) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, value] : configuration) {
        object[key] = value;
    }
    try {
        return object.dump();
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;
    }
}

std::optional<ProviderConfiguration> decodeProviderConfiguration(std::string_view json) {
    if (std::optional<ProviderConfiguration> plain = decodePlainTextObject(json)) {
        return plain;
    }
    nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    ProviderConfiguration values;
    for (auto item = object.begin(); item != object.end(); ++item) {
        values.emplace_hint(values.end(), item.key(), std::move(item.value()));
    }
    return values;
}

}  // namespace vxm::platform
