// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/StatusCache.h"

namespace vxm::platform {

CachedStatus StatusCache::live(Connection& connection, std::int64_t key, std::int64_t stamp) {
    if (auto cached = statuses_.find(key); cached != statuses_.end() && cached->second.stamp == stamp) {
        return cached->second;
    }
    CachedStatus current{.stamp = stamp};
    sqlite::Statement::Use row = connection.statement(selectStatus).use();
    row.bind(1, key);
    if (row.step()) {
        current.status = static_cast<VPNStatus>(row.integer(0));
        current.changes = row.integer(1);
    }
    statuses_[key] = current;
    return current;
}

const CachedStatus* StatusCache::find(std::int64_t key) const {
    const auto cached = statuses_.find(key);
    return cached != statuses_.end() ? &cached->second : nullptr;
}

}  // namespace vxm::platform
