// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StandInProvider.h"

#include <utility>

namespace vxm::platform {

StandInProvider::StandInProvider(std::shared_ptr<StoreConnection> store) : store_(std::move(store)) {}

std::optional<Error> StandInProvider::setStatus(std::optional<std::int64_t> key, VPNStatus status) {
    return change(key, changeStatus, status);
}

// Runs `query` (changeStatus, finishConnecting or stopOne) on a stored
// configuration in a transaction of its own, and signals a change. What
// becomes of one no longer in the store is `ifGone`.
std::optional<Error> StandInProvider::change(std::optional<std::int64_t> key, Query query, VPNStatus status,
                                             std::optional<Error> ifGone) {
    if (!key) {
        return Error{kNotSaved};
    }
    const std::lock_guard lock(store_->mutex());
    return store_->guard(Access::write, [&]() -> std::optional<Error> {
        Connection* connection = store_->openLocked(false);
        if (connection == nullptr) {
            return ifGone;
        }
        sqlite::Transaction transaction(connection->db(), sqlite::Transaction::Kind::write);
        {
            sqlite::Statement::Use row = connection->statement(selectStatus).use();
            row.bind(1, *key);
            if (!row.step()) {
                return ifGone;
            }
        }
        sqlite::Statement::Use update = connection->statement(query).use();
        update.bind(1, *key);
        if (query == changeStatus) {
            update.bind(2, static_cast<std::int64_t>(status));
        }
        update.step();
        const bool changed = connection->db().changes() > 0;
        transaction.commit();
        if (changed) {
            store_->statusesLocked().forget(*key);
            store_->signal().raise();
        }
        return std::nullopt;
    });
}

// Brings the tunnel down unless its status, as last read with no change
// signalled since, is already down: stopping every configuration of a large
// store then writes only those that are up. A status that cannot be read is
// left to the write, which finds out for itself.
std::optional<Error> StandInProvider::stop(std::int64_t key) {
    {
        const std::lock_guard lock(store_->mutex());
        bool down = false;
        store_->guard(Access::read, [&]() -> std::optional<Error> {
            const VPNStatus current = store_->liveStatusLocked(key).value_or(StoredStatus{}).status;
            down = current == VPNStatus::disconnected || current == VPNStatus::invalid;
            return std::nullopt;
        });
        if (down) {
            return std::nullopt;
        }
    }
    return change(key, stopOne, VPNStatus::disconnected, /*ifGone=*/std::nullopt);
}

std::optional<Error> StandInProvider::start(std::optional<std::int64_t> key) {
    if (!key) {
        return Error{kNotSaved};
    }
    {
        const std::lock_guard lock(store_->mutex());
        std::optional<Error> refused = store_->guard(Access::read, [&]() -> std::optional<Error> {
            Connection* connection = store_->openLocked(false);
            if (connection == nullptr) {
                return Error{kGone};
            }
            sqlite::Statement::Use row = connection->statement(selectStatus).use();
            row.bind(1, *key);
            if (!row.step()) {
                return Error{kGone};
            }
            if (row.integer(2) == 0) {
                return Error{kNotEnabled};
            }
            return std::nullopt;
        });
        if (refused) {
            return refused;
        }
    }
    if (std::optional<Error> error = change(key, changeStatus, VPNStatus::connecting)) {
        return error;
    }
    // The stand-in provider accepts every start at once.
    return change(key, finishConnecting, VPNStatus::connected);
}

}  // namespace vxm::platform
