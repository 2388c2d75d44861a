#include "UnicodeText.h"

namespace vxm::tunnel {

bool canonicallyEqual(std::string_view a, std::string_view b) { return a == b; }

}  // namespace vxm::tunnel
