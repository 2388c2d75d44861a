// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace vxm::tunnel {

// Whether two UTF-8 texts are canonically equivalent: equal once both are in
// Unicode normalization form D, as a display name typed with a precomposed
// "é" equals one typed as "e" and a combining acute accent. No case folding,
// no trimming. Invalid UTF-8 compares byte for byte.
bool canonicallyEqual(std::string_view a, std::string_view b);

}  // namespace vxm::tunnel
