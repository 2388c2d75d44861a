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
// not a JSON object. Objects whose values are all plain text, the common case,
// are read without building a JSON tree first: loading thousands of
// configurations spends most of its time here.
std::optional<ProviderConfiguration> decodeProviderConfiguration(std::string_view json);

}  // namespace vxm::platform
