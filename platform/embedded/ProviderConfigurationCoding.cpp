// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/ProviderConfigurationCoding.h"

#include <utility>

namespace vxm::platform {

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
