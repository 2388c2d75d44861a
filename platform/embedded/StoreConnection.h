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

// The state that every part of one SqliteVPNStore shares, and the lock that
// guards it: the connection to the store file, opened on first use, and the
// statuses last read through it. Also the change signal beside the file.
//
// The handles that the store loads read their provider configurations
// through it when first looked at: it is where they come from. Make it with
// std::make_shared.
class StoreConnection final : public std::enable_shared_from_this<StoreConnection> {
public:
    explicit StoreConnection(std::string path);

    // What configuration `key` holds now, decoded; none when it holds none,
    // holds text that cannot be decoded, is gone, or the store cannot be
    // read. Takes the lock: never call it from work that holds it.
    [[nodiscard]] std::optional<ProviderConfiguration> readProviderConfiguration(std::int64_t key);

    [[nodiscard]] const std::string& path() const { return path_; }

    // Guards the connection and the statuses. Methods named ...Locked need it held.
    std::mutex& mutex() { return mutex_; }

    // The change signal beside the file, named when the file is opened.
    StatusSignal& signal() { return signal_; }

    // The connection, opening the store file (and the signal) on first use,
    // and then erasing what earlier commits asked to be erased (see
    // erasePendingLocked). None when no file stands at the path and `create`
    // is false: there is no store, and none is made. Throws Failure.
    Connection* openLocked(bool create);

    // The stored status of `key`: as the statuses kept say while fresh (see
    // StatusCache), else read from the file. None when the configuration is not
    // stored, or no store stands at the path: reading never makes a store.
    // Throws Failure.
    std::optional<StoredStatus> liveStatusLocked(std::int64_t key);

    // Compares the file at the path with the one the connection has open.
    // When it was replaced or deleted, closes the connection, so that the
    // next read opens whatever file stands at the path now.
    void followReplacedFileLocked();

    // Asks, within the transaction running now, which deletes or replaces
    // values, for their erasure from the store's files: the request commits
    // with the change, so that whoever opens the store next erases them when
    // this process is killed before it does.
    static void requestErasureLocked(Connection& connection);

    // Erases what committed requests asked for: writes the write-ahead log
    // into the file and truncates it, which
    // with secure_delete (turned on at open, zeroing what is deleted) leaves
    // no copy of old values in the store's files, and notes them erased. One
    // that fails (readers holding old pages past the busy timeout) is left to
    // the next open or request: the commits stand.
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
