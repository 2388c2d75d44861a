// Feeds arbitrary bytes to the document decoder. Besides not crashing, a
// document that decodes must survive being written out and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    auto decoded = vxm::tunnel::decodeTunnelConfig(document);
    if (!decoded.ok()) {
        if (decoded.error().localizedDescription.empty()) {
            std::abort();
        }
        return 0;
    }
    auto again = vxm::tunnel::decodeTunnelConfig(vxm::tunnel::encodeTunnelConfig(decoded.value()));
    if (!again.ok() || !(again.value() == decoded.value())) {
        std::abort();
    }
    return 0;
}
