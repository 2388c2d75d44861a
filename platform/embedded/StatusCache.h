// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <deque>

#include "platform/VPNStore.h"

namespace vxm::platform {

// A stored configuration's status, and how many times it changed.
struct StoredStatus {
    VPNStatus status = VPNStatus::invalid;
    std::int64_t changes = 0;

    bool operator==(const StoredStatus&) const = default;
};

// The statuses this process last read, each fresh until a change is heard
// (see StoreObservers). Not safe for use by two threads at once:
// StoreConnection's lock guards it.
class StatusCache {
public:
    struct Entry {
        std::int64_t key;
        StoredStatus status;
        std::uint64_t heardAt;  // the changes heard before it was read
    };

    // What was last read of `key`, fresh or not, if anything.
    [[nodiscard]] const Entry* find(std::int64_t key) const;
    [[nodiscard]] bool fresh(const Entry& entry) const { return entry.heardAt == heard_; }

    void remember(std::int64_t key, StoredStatus status);
    void forget(std::int64_t key);
    // A change was heard: nothing read before is fresh.
    void heard() { ++heard_; }

private:
    [[nodiscard]] std::deque<Entry>::const_iterator lowerBound(std::int64_t key) const;

    // Sorted by key, as a load remembers its rows; a deque, which grows
    // without moving what it holds and costs no node per entry: a load
    // remembers thousands.
    std::deque<Entry> statuses_;
    std::uint64_t heard_ = 0;
};

}  // namespace vxm::platform
