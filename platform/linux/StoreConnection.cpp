#include "platform/linux/StoreConnection.h"

#include <cerrno>
#include <exception>
#include <utility>

#include <sys/stat.h>

#include "platform/linux/StoreFile.h"

namespace vxm::platform {

StoreConnection::StoreConnection(std::string path) : path_(std::move(path)) {}

Connection& StoreConnection::openLocked() {
    if (connection_) {
        return *connection_;
    }
    try {
        OpenedStoreFile file = openStoreFile(path_);
        auto connection = std::make_unique<Connection>(path_, std::move(file.db));
        // Beside the file as resolved, so that every process of the store
        // signals through one file whatever path it was given.
        signal_.open(file.path);
        connection_ = std::move(connection);
        rememberIdentityLocked();
        return *connection_;
    } catch (const std::exception& error) {
        throw Failure{{"the VPN configuration store at " + path_ + " cannot be opened: " + error.what()}};
    }
}

CachedStatus StoreConnection::liveStatusLocked(std::int64_t key) {
    struct stat identity {};
    if (!connection_ && deleted_ && ::stat(path_.c_str(), &identity) != 0 && errno == ENOENT) {
        return {.status = VPNStatus::invalid, .changes = -1, .stamp = signal_.stamp()};
    }
    Connection& connection = openLocked();
    // The stamp comes before the status is read: a change signalled after
    // it makes the next call read again.
    const std::int64_t stamp = signal_.stamp();
    return statuses_.live(connection, key, stamp);
}

void StoreConnection::rememberIdentityLocked() {
    struct stat identity {};
    if (::stat(path_.c_str(), &identity) == 0) {
        device_ = identity.st_dev;
        inode_ = identity.st_ino;
    }
    deleted_ = false;
}

bool StoreConnection::followReplacedFileLocked() {
    if (!connection_) {
        return false;
    }
    struct stat identity {};
    if (::stat(path_.c_str(), &identity) == 0) {
        if (identity.st_dev == device_ && identity.st_ino == inode_) {
            return false;
        }
    } else if (errno == ENOENT) {
        deleted_ = true;
    } else {
        return false;  // cannot tell now: looked at again later
    }
    connection_.reset();
    statuses_.clear();
    return true;
}

void StoreConnection::forgetOldValuesLocked() {
    if (!connection_) {
        return;
    }
    try {
        connection_->db().execute("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (const sqlite::DatabaseError&) {
        // Left to the next checkpoint, as said.
    }
}

}  // namespace vxm::platform
