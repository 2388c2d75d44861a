// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StatusCache.h"

#include <algorithm>

namespace vxm::platform {

std::deque<StatusCache::Entry>::const_iterator StatusCache::lowerBound(std::int64_t key) const {
    return std::lower_bound(statuses_.begin(), statuses_.end(), key,
                            [](const Entry& entry, std::int64_t wanted) { return entry.key < wanted; });
}

void StatusCache::remember(std::int64_t key, StoredStatus status, bool kept) {
    const auto found = lowerBound(key);
    const Entry entry{key, status, heard_, kept};
    if (found != statuses_.end() && found->key == key) {
        statuses_[static_cast<std::size_t>(found - statuses_.begin())] = entry;
    } else {
        statuses_.insert(found, entry);  // at the end, as a load's rows come
    }
}

void StatusCache::forget(std::int64_t key) {
    const auto found = lowerBound(key);
    if (found != statuses_.end() && found->key == key) {
        statuses_.erase(found);
    }
}

const StatusCache::Entry* StatusCache::find(std::int64_t key) const {
    const auto found = lowerBound(key);
    return found != statuses_.end() && found->key == key ? &*found : nullptr;
}

}  // namespace vxm::platform
