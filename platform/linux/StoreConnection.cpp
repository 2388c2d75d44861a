#include "platform/linux/StoreConnection.h"

#include <exception>
#include <utility>

#include "platform/linux/StoreFile.h"

namespace vxm::platform {

StoreConnection::StoreConnection(std::string path) : path_(std::move(path)), signal_(path_ + "-events") {}

Connection& StoreConnection::openLocked() {
    if (connection_) {
        return *connection_;
    }
    try {
        auto connection = std::make_unique<Connection>(path_, openStoreFile(path_));
        signal_.open();
        connection_ = std::move(connection);
        return *connection_;
    } catch (const std::exception& error) {
        throw Failure{{"the VPN configuration store at " + path_ + " cannot be opened: " + error.what()}};
    }
}

CachedStatus StoreConnection::liveStatusLocked(std::int64_t key) {
    Connection& connection = openLocked();
    return statuses_.live(connection, key, signal_.stamp());
}

}  // namespace vxm::platform
