// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the document decoder. Besides not crashing, a
// failure's description quotes nothing of the document, which holds a private
// key: it is printable ASCII and quotes only the keys the decoder looks for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = vxm::tunnel::decodeTunnelConfig(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string description = decoded.ok() ? "-" : decoded.error().localizedDescription;
    for (const std::string key : {"siteName", "privateKey", "address", "serverPubkey", "endpoint", "allowedIPs"}) {
        if (const auto at = description.find('"' + key + '"'); at != std::string::npos) {
            description.erase(at, key.size() + 2);
        }
    }
    const auto quoted = [](char c) { return c < ' ' || c > '~' || c == '"'; };
    if (description.empty() || std::any_of(description.begin(), description.end(), quoted)) {
        std::abort();
    }
    return 0;
}
