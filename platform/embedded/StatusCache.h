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
};

// The statuses this process last read. What a load read is fresh for the
// load's completion. Once the store listens for changes (see StoreObservers),
// every status read is fresh until a change is heard; before, one read alone
// is only the base an observer compares with. StoreConnection's lock guards it.
class StatusCache {
public:
    struct Entry {
        std::int64_t key;
        StoredStatus status;
        std::uint64_t heardAt;  // the changes heard before it was read
        bool kept;  // fresh until a change is heard
    };

    // What was last read of `key`, fresh or not.
    [[nodiscard]] const Entry* find(std::int64_t key) const;
    [[nodiscard]] bool fresh(const Entry& entry) const { return entry.kept && entry.heardAt == heard_; }

    void remember(std::int64_t key, StoredStatus status, bool kept = true);
    void forget(std::int64_t key);
    // A change was heard, or a load's completion ran: nothing read is fresh.
    void heard() { ++heard_; }
    void listen() {
        listening_ = true;
        heard();
    }
    [[nodiscard]] bool listening() const { return listening_; }

private:
    [[nodiscard]] std::deque<Entry>::const_iterator lowerBound(std::int64_t key) const;

    // Sorted by key; a deque costs no node per entry: a load remembers thousands.
    std::deque<Entry> statuses_;
    std::uint64_t heard_ = 0;
    bool listening_ = false;
};

}  // namespace vxm::platform
