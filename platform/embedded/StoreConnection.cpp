// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreConnection.h"

#include <cerrno>
#include <utility>

#include <sys/stat.h>

#include "platform/embedded/StoreFile.h"

namespace vxm::platform {

StoreConnection::StoreConnection(std::string path) : path_(std::move(path)) {}

Connection* StoreConnection::openLocked(bool create) {
    if (connection_) {
        return connection_.get();
    }
    if (!create && !storeFileExists(path_)) {
        return nullptr;
    }
    OpenedStoreFile file = openStoreFile(path_);
    // Through a weak reference: a handle may outlive the store, and then reads none.
    auto connection = std::make_unique<Connection>(
        std::move(file.db), [weak = weak_from_this()](std::int64_t key) -> std::optional<ProviderConfiguration> {
            const std::shared_ptr<StoreConnection> self = weak.lock();
            return self ? self->readProviderConfiguration(key) : std::nullopt;
        });
    // Beside the file as resolved, so that every process of the store
    // signals through one file whatever path it was given.
    signal_.open(file.path);
    connection_ = std::move(connection);
    if (struct stat identity {}; ::stat(path_.c_str(), &identity) == 0) {
        device_ = identity.st_dev;
        inode_ = identity.st_ino;
    }
    erasePendingLocked();
    return connection_.get();
}

std::optional<StoredStatus> StoreConnection::liveStatusLocked(std::int64_t key) {
    Connection* connection = openLocked(false);
    if (connection == nullptr) {
        return std::nullopt;
    }
    if (const StatusCache::Entry* cached = statuses_.find(key); cached != nullptr && statuses_.fresh(*cached)) {
        return cached->status;
    }
    sqlite::Statement::Use row = connection->statement(selectStatus).use();
    row.bind(1, key);
    if (!row.step()) {
        return std::nullopt;
    }
    const StoredStatus current{static_cast<VPNStatus>(row.integer(0)), row.integer(1)};
    statuses_.remember(key, current, statuses_.listening());
    return current;
}

std::optional<ProviderConfiguration> StoreConnection::readProviderConfiguration(std::int64_t key) {
    const std::lock_guard lock(mutex_);
    try {
        Connection* connection = openLocked(false);
        if (connection == nullptr) {
            return std::nullopt;
        }
        sqlite::Statement::Use row = connection->statement(selectProviderConfiguration).use();
        row.bind(1, key);
        if (row.step() && !row.isNull(0)) {
            return decodeProviderConfiguration(row.view(0));
        }
    } catch (const Failure&) {
    }
    return std::nullopt;
}

void StoreConnection::followReplacedFileLocked() {
    if (!connection_) {
        return;
    }
    struct stat identity {};
    if (::stat(path_.c_str(), &identity) == 0 ? identity.st_dev == device_ && identity.st_ino == inode_
                                               : errno != ENOENT) {
        return;  // the same file, or cannot tell now: looked at again later
    }
    connection_.reset();
}

void StoreConnection::erasePendingLocked() {
    if (!connection_) {
        return;
    }
    try {
        std::int64_t requested = 0;
        {
            sqlite::Statement::Use row = connection_->statement(erasureRequested).use();
            if (!row.step()) {
                return;
            }
            requested = row.integer(0);
        }
        if (!connection_->db().truncateLog()) {
            return;
        }
        // Requests committed after the count was read keep it lower than
        // theirs: they are erased again.
        sqlite::Transaction transaction(connection_->db(), sqlite::Transaction::Kind::write);
        connection_->statement(noteErased).use().bind(1, requested).step();
        transaction.commit();
    } catch (const Failure&) {
    }
}

}  // namespace vxm::platform
