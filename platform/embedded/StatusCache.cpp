// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StatusCache.h"

#include <algorithm>

namespace vxm::platform {

std::deque<StatusCache::Entry>::const_iterator StatusCache::lowerBound(std::int64_t key) const {
    return std::lower_bound(statuses_.begin(), statuses_.end(), key,
                            [](const Entry& entry, std::int64_t wanted) { return entry.key < wanted; });
}

void StatusCache::remember(std::int64_t key, CachedStatus status) {
    if (statuses_.empty() || statuses_.back().key < key) {
        statuses_.push_back({key, status});
        return;
    }
    const auto found = lowerBound(key);
    if (found != statuses_.end() && found->key == key) {
        statuses_[static_cast<std::size_t>(found - statuses_.begin())].status = status;
    } else {
        statuses_.insert(found, {key, status});
    }
}

void StatusCache::forget(std::int64_t key) {
    const auto found = lowerBound(key);
    if (found != statuses_.end() && found->key == key) {
        statuses_.erase(found);
    }
}

CachedStatus StatusCache::live(Connection& connection, std::int64_t key, std::int64_t stamp) {
    if (const CachedStatus* cached = find(key); cached != nullptr && cached->stamp == stamp) {
        return *cached;
    }
    CachedStatus current{.stamp = stamp};
    sqlite::Statement::Use row = connection.statement(selectStatus).use();
    row.bind(1, key);
    if (row.step()) {
        current.status = static_cast<VPNStatus>(row.integer(0));
        current.changes = row.integer(1);
    }
    remember(key, current);
    return current;
}

const CachedStatus* StatusCache::find(std::int64_t key) const {
    const auto found = lowerBound(key);
    return found != statuses_.end() && found->key == key ? &found->status : nullptr;
}

}  // namespace vxm::platform
