// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>

#include "platform/VPNStore.h"

namespace vxm::platform {

// A configuration handle of SqliteVPNStore: the key of the row that stores
// it, none until its first save. The store alone reads and sets the key.
class SqliteManager final : public TunnelProviderManager {
public:
    using TunnelProviderManager::TunnelProviderManager;

    std::optional<std::int64_t> key;
};

// The row key of a handle of SqliteVPNStore; none for one never saved, and
// for a handle of any other kind.
inline std::optional<std::int64_t> rowKeyOf(const TunnelProviderManager& manager) {
    const auto* handle = dynamic_cast<const SqliteManager*>(&manager);
    return handle != nullptr ? handle->key : std::nullopt;
}

}  // namespace vxm::platform
