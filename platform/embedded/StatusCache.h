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
// load's completion: commands that read every status do so there. Once the
// store listens for changes (see StoreObservers), every status read is
// fresh until a change is heard; before, one read alone is only the base
// that an observer compares with. Not safe for use by two threads at once:
// StoreConnection's lock guards it.
class StatusCache {
public:
    struct Entry {
        std::int64_t key;
        StoredStatus status;
        std::uint64_t heardAt;  // the changes heard before it was read
        bool kept;  // fresh until a change is heard
    };

    // What was last read of `key`, fresh or not, if anything.
    [[nodiscard]] const Entry* find(std::int64_t key) const;
    [[nodiscard]] bool fresh(const Entry& entry) const { return entry.kept && entry.heardAt == heard_; }

    void remember(std::int64_t key, StoredStatus status, bool kept = true);
    void forget(std::int64_t key);
    // A change was heard, or a load's completion has run: nothing read
    // before is fresh.
    void heard() { ++heard_; }
    // From now on the store hears of every change: what is read is kept.
    void listen() {
        listening_ = true;
        heard();
    }
    [[nodiscard]] bool listening() const { return listening_; }

private:
    [[nodiscard]] std::deque<Entry>::const_iterator lowerBound(std::int64_t key) const;

    // Sorted by key, as a load remembers its rows; a deque, which grows
    // without moving what it holds and costs no node per entry: a load
    // remembers thousands.
    std::deque<Entry> statuses_;
    std::uint64_t heard_ = 0;
    bool listening_ = false;
};

}  // namespace vxm::platform
