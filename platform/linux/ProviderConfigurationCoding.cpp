#include "platform/linux/ProviderConfigurationCoding.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace vxm::platform {

namespace {

// Printable ASCII other than the quote and the backslash: the bytes a plain
// string holds.
bool isPlain(char c) { return c >= 0x20 && c <= 0x7e && c != '"' && c != '\\'; }

// A mask with the high bit set in each byte of `word` that is not plain
// (below 0x20, above 0x7e, a quote or a backslash), using the classic tests
// for a byte below n, above n or equal to c. A borrow or carry out of such a
// byte may mark the more significant bytes after it too, never one before: in
// memory order, the first byte marked is the first that is not plain.
std::uint64_t nonPlainBytes(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    const std::uint64_t quote = word ^ (kOnes * '"');
    const std::uint64_t backslash = word ^ (kOnes * '\\');
    const std::uint64_t below = (word - kOnes * 0x20) & ~word;
    const std::uint64_t above = (word + kOnes) | word;
    const std::uint64_t isQuote = (quote - kOnes) & ~quote;
    const std::uint64_t isBackslash = (backslash - kOnes) & ~backslash;
    return (below | above | isQuote | isBackslash) & kHigh;
}

// The length of the plain bytes that `text` starts with, looked at eight at a
// time where bytes load in memory order as the least significant first:
// thousands of stored configurations are read on every load.
std::size_t plainPrefix(std::string_view text) {
    std::size_t at = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; at + sizeof(std::uint64_t) <= text.size(); at += sizeof(std::uint64_t)) {
            std::uint64_t word = 0;
            std::memcpy(&word, text.data() + at, sizeof word);
            if (const std::uint64_t stops = nonPlainBytes(word); stops != 0) {
                return at + static_cast<std::size_t>(std::countr_zero(stops)) / 8;
            }
        }
    }
    while (at < text.size() && isPlain(text[at])) {
        ++at;
    }
    return at;
}

// Reads a string of printable ASCII without escapes at `at`, which must be its
// opening quote; moves `at` past the closing quote. No value for any other
// string, which the general parser then reads.
std::optional<std::string_view> plainString(std::string_view json, std::size_t& at) {
    if (at >= json.size() || json[at] != '"') {
        return std::nullopt;
    }
    const std::size_t start = at + 1;
    const std::size_t end = start + plainPrefix(json.substr(start));
    if (end >= json.size() || json[end] != '"') {
        return std::nullopt;
    }
    at = end + 1;
    return json.substr(start, end - start);
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
        // Keys come sorted, as encode writes them: each one goes in at the
        // end. A repeated key keeps its last value, as with the general parser.
        if (values.empty() || values.rbegin()->first < *key) {
            values.emplace_hint(values.end(), *key, *value);
        } else {
            values.insert_or_assign(std::string(*key), std::string(*value));
        }
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
