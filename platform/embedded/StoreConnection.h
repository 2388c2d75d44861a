// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <sys/types.h>

#include "platform/Error.h"
#include "platform/embedded/SqliteDatabase.h"
#include "platform/embedded/StatusCache.h"
#include "platform/embedded/StatusSignal.h"
#include "platform/embedded/StoreQueries.h"

namespace vxm::platform {

// What every part of one SqliteVPNStore shares, and the lock that guards it:
// the connection to the store file, opened on first use, the statuses last
// read through it, and the change signal beside the file. Loaded handles read
// their provider configurations through it. Make it with std::make_shared.
class StoreConnection final : public std::enable_shared_from_this<StoreConnection> {
public:
    explicit StoreConnection(std::string path);

    // What configuration `key` holds now, decoded; none when it holds none,
    // holds text that cannot be decoded, is gone, or the store cannot be
    // read. Takes the lock: never call it from work that holds it.
    [[nodiscard]] std::optional<ProviderConfiguration> readProviderConfiguration(std::int64_t key);

    [[nodiscard]] const std::string& path() const { return path_; }

    // Methods named ...Locked need it held.
    std::mutex& mutex() { return mutex_; }

    StatusSignal& signal() { return signal_; }

    // The connection, opening the store file (and the signal) on first use,
    // then erasing what earlier commits asked to be (see erasePendingLocked).
    // None when no file stands at the path and `create` is false. Throws Failure.
    Connection* openLocked(bool create);

    // The stored status of `key`: from the cache while fresh, else read from
    // the file. None when not stored, or no store stands at the path (reading
    // never makes one). Throws Failure.
    std::optional<StoredStatus> liveStatusLocked(std::int64_t key);

    // Closes the connection when the file at the path was replaced or
    // deleted, so that the next read opens whatever stands there now.
    void followReplacedFileLocked();

    // Erases what committed requests asked for (a transaction that deletes
    // or replaces values runs requestErasure, so that whoever opens the store
    // next erases them when this process is killed first): truncates the
    // write-ahead log into the file, which with secure_delete leaves no copy
    // of old values, and notes them erased. One that fails (readers holding
    // old pages past the busy timeout) is left to the next open or request.
    void erasePendingLocked();

    StatusCache& statusesLocked() { return statuses_; }

private:
    const std::string path_;
    StatusSignal signal_;

    std::mutex mutex_;  // guards everything below
    std::unique_ptr<Connection> connection_;
    // The device and inode of the file the connection has open.
    dev_t device_ = 0;
    ino_t inode_ = 0;
    StatusCache statuses_;
};

}  // namespace vxm::platform
