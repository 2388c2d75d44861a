// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/VPNStore.h"

namespace vxm::platform {

// The provider configuration as the store keeps it: one compact JSON object.
// No value when a text in it is not valid UTF-8, which JSON cannot hold.
std::optional<std::string> encodeProviderConfiguration(const ProviderConfiguration& configuration);

// Reads back what encodeProviderConfiguration wrote; no value when `json` is
// not a JSON object. The store decodes a configuration's text only when its
// values are first looked at.
std::optional<ProviderConfiguration> decodeProviderConfiguration(std::string_view json);

}  // namespace vxm::platform
