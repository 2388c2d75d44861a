// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"
#include "platform/Process.h"

namespace vxm::tunnel {

// The tunnel configuration document that `start` reads: six text fields,
// opaque to the tool, handed to the packet-tunnel provider.
struct TunnelConfig {
    std::optional<std::string> siteName;
    std::string privateKey;
    std::string address;
    std::string serverPubkey;
    std::string endpoint;
    std::string allowedIPs;

    bool operator==(const TunnelConfig&) const = default;
};

// A decoding failure. Its description names the kind, the key, and the line
// and column of malformed text; it never quotes the document, which holds a
// private key.
struct DecodingError {
    std::string localizedDescription;
};

// Documents longer than this are refused unread: no real one comes near it.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 20;

// Decodes a whole document. Keys match exactly; unknown keys are ignored;
// "siteName" may be absent or null; the five others must be strings.
platform::Result<TunnelConfig, DecodingError> decodeTunnelConfig(std::string_view document);

// The one record a run of the tool prints.
struct HelperResponse {
    bool ok = false;
    std::optional<std::string> name;
    std::optional<std::string> vpnIP;
    std::optional<std::string> error;
    std::optional<bool> connected;

    bool operator==(const HelperResponse&) const = default;
};

// Compact JSON, members in the order ok, name, vpnIP, error, connected, absent
// ones left out. Bytes that are not UTF-8 come out as U+FFFD, so a response
// always has a form. No line feed.
std::string encodeHelperResponse(const HelperResponse& response);

// Writes the response and a line feed to standard output, in one write.
// False when the whole line did not reach standard output.
[[nodiscard]] bool printResponse(platform::Process& process, const HelperResponse& response);

}  // namespace vxm::tunnel
