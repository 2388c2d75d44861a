// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>

#include "platform/VPNStore.h"
#include "platform/embedded/StoreQueries.h"

namespace vxm::platform {

// The change count of a status that could not be read: unlike any other.
inline constexpr std::int64_t kChangesUnknown = -2;

struct CachedStatus {
    VPNStatus status = VPNStatus::invalid;
    // Counts the changes of the stored status; -1 once the configuration is gone.
    std::int64_t changes = -1;
    // The signal's stamp, taken before the status was read.
    std::int64_t stamp = 0;
};

// The statuses this process last read, each with the stamp of the change
// signal at the time: a status is read again only once a change has been
// signalled since. Not safe for use by two threads at once: StoreConnection's
// lock guards it.
class StatusCache {
public:
    // The stored status of `key`, from the cache while `stamp` (the signal's
    // stamp now) is the one it was read at, else read through `connection`.
    // Throws sqlite::DatabaseError.
    CachedStatus live(Connection& connection, std::int64_t key, std::int64_t stamp);

    // What was last read of `key`, if anything.
    [[nodiscard]] const CachedStatus* find(std::int64_t key) const;

    void remember(std::int64_t key, CachedStatus status);
    void forget(std::int64_t key);
    void clear() { statuses_.clear(); }

private:
    struct Entry {
        std::int64_t key;
        CachedStatus status;
    };
    [[nodiscard]] std::deque<Entry>::const_iterator lowerBound(std::int64_t key) const;

    // Sorted by key, as a load remembers its rows; a deque, which grows
    // without moving what it holds and costs no node per entry: a load
    // remembers thousands.
    std::deque<Entry> statuses_;
};

}  // namespace vxm::platform
