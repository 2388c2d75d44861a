// Feeds arbitrary bytes to the document decoder. Besides not crashing, a
// failure's description must quote nothing of the document, which holds a
// private key: it is printable ASCII, and quotes only the keys it expects.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = vxm::tunnel::decodeTunnelConfig(std::string_view(reinterpret_cast<const char*>(data), size));
    if (decoded.ok()) {
        return 0;
    }
    std::string description = decoded.error().localizedDescription;
    if (description.empty()) {
        std::abort();
    }
    for (const char* key : {"siteName", "privateKey", "address", "serverPubkey", "endpoint", "allowedIPs"}) {
        const std::string quoted = "\"" + std::string(key) + "\"";
        if (const auto at = description.find(quoted); at != std::string::npos) {
            description.erase(at, quoted.size());
        }
    }
    for (const char c : description) {
        if (c < ' ' || c > '~' || c == '"') {
            std::abort();
        }
    }
    return 0;
}
