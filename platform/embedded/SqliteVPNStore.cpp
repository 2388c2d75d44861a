// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/SqliteVPNStore.h"

#include <algorithm>
#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include "platform/embedded/StoreConnection.h"
#include "platform/embedded/StoreObservers.h"
#include "platform/embedded/StoreQueries.h"

namespace vxm::platform {

using sqlite::Statement;
using sqlite::Transaction;

// The operations, on the state shared through StoreConnection. Each takes the
// store's lock and throws Failure, caught where its task runs.
class SqliteVPNStore::Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl(SqliteVPNStore& owner, MainQueue& queue, std::string path, SameName sameName)
        : owner_(owner),
          queue_(queue),
          sameName_(std::move(sameName)),
          store_(std::make_shared<StoreConnection>(std::move(path))),
          observers_(std::make_shared<StoreObservers>(queue, store_)) {}

    StoreConnection& store() { return *store_; }
    StoreObservers& observers() { return *observers_; }

    // Runs `work` in a main-queue task of its own, unless the store is gone by then.
    void later(std::function<void(Impl&)> work) {
        queue_.async([weak = weak_from_this(), work = std::move(work)] {
            if (const std::shared_ptr<Impl> self = weak.lock()) {
                work(*self);
            }
        });
    }

    // Every configuration, or with `activeOnly` those whose status is up
    // (which leaves what a new configuration may join as the last full load said).
    std::vector<ManagerRef> load(bool activeOnly);
    void save(SqliteManager& handle, const Columns& columns);
    void reload(TunnelProviderManager& manager, std::int64_t key);
    void requestRemoval(std::int64_t key, ErrorCompletion completion);
    // The stand-in for the packet-tunnel provider, which accepts every start at once.
    std::optional<Error> start(std::optional<std::int64_t> key);
    std::optional<Error> stop(std::int64_t key);
    std::optional<Error> change(std::optional<std::int64_t> key, Query query, VPNStatus status,
                                std::optional<Error> ifGone = Error{kGone}, bool enabledOnly = false);

private:
    struct Removal {
        std::int64_t key;
        ErrorCompletion completion;
        std::optional<Error> outcome;
    };
    // A list: each entry fits a block freed by the handles removed (a block
    // of thousands would take new memory).
    using Removals = std::list<Removal>;

    void removeRequested();
    void removeLocked(Removals& removals);
    std::optional<std::int64_t> storedSinceLoad(Connection& connection, const Columns& columns);

    SqliteVPNStore& owner_;
    MainQueue& queue_;
    const SameName sameName_;
    const std::shared_ptr<StoreConnection> store_;
    const std::shared_ptr<StoreObservers> observers_;
    // Guarded by the store's lock: the removals requested since their task
    // was queued, and the highest key of the last list loaded.
    Removals removals_;
    std::optional<std::int64_t> loadedUpTo_;
};

// Errors thrown by `work` become the value handed on.
template <class T, class Work>
T caught(Work&& work) {
    try {
        return work();
    } catch (const Failure& failure) {
        return failure.error;
    }
}

std::vector<ManagerRef> SqliteVPNStore::Impl::load(bool activeOnly) {
    const std::lock_guard lock(store_->mutex());
    Connection* connection = store_->openLocked(false);
    if (connection == nullptr) {
        loadedUpTo_ = 0;
        return {};
    }
    std::vector<ManagerRef> managers;
    std::int64_t highest = 0;
    // In a transaction, ended after the rows: read outside one, the rows
    // leave SQLite's page cache to be set up again by the next write (a
    // stop's), 90 KB more at the peak of a run on 10,000 configurations.
    Transaction transaction(connection->db(), Transaction::Kind::read);
    Statement::Use row = connection->statement(activeOnly ? selectActive : selectAll).use();
    while (row.step()) {
        auto manager = std::make_shared<SqliteManager>(owner_);
        connection->readInto(*manager, row);
        highest = std::max(highest, *manager->key);
        if (activeOnly) {  // read for their statuses; a full load's callers look at few
            store_->statusesLocked().remember(*manager->key,
                                              {static_cast<VPNStatus>(row.integer(8)), row.integer(9)});
        }
        managers.push_back(std::move(manager));
    }
    if (!activeOnly) {
        loadedUpTo_ = highest;
    }
    return managers;
}

// The configuration a new one joins (see SqliteVPNStore), if any.
std::optional<std::int64_t> SqliteVPNStore::Impl::storedSinceLoad(Connection& connection, const Columns& columns) {
    if (!loadedUpTo_ || !columns.displayName || columns.protocol != "tunnel-provider") {
        return std::nullopt;
    }
    Statement::Use row = connection.statement(storedSince).use();
    row.bind(1, *loadedUpTo_).bindOptional(2, columns.bundleIdentifier);
    while (row.step()) {
        if (sameName_(row.view(1), *columns.displayName)) {
            return row.integer(0);
        }
    }
    return std::nullopt;
}

void SqliteVPNStore::Impl::save(SqliteManager& handle, const Columns& columns) {
    const std::lock_guard lock(store_->mutex());
    Connection& connection = *store_->openLocked(true);
    Transaction transaction(connection.db(), Transaction::Kind::write);
    const std::optional<std::int64_t> key = handle.key ? handle.key : storedSinceLoad(connection, columns);
    Statement::Use row = connection.statement(key ? updateOne : insertOne).use();
    if (key) {
        row.bind(1, *key);
    }
    bindColumns(row, columns);
    row.step();
    if (key) {
        if (connection.db().changes() == 0) {
            throw Failure{{kGone}};
        }
        // The old values, a private key say, go from the files.
        connection.statement(requestErasure).use().step();
    }
    const std::int64_t stored = key ? *key : connection.db().lastInsertKey();
    transaction.commit();
    handle.key = stored;
    if (key) {
        store_->erasePendingLocked();
    }
}

void SqliteVPNStore::Impl::reload(TunnelProviderManager& manager, std::int64_t key) {
    auto fresh = std::make_shared<SqliteManager>(owner_);
    {
        const std::lock_guard lock(store_->mutex());
        Connection* connection = store_->openLocked(false);
        if (connection == nullptr) {
            throw Failure{{kGone}};
        }
        Statement::Use row = connection->statement(selectOne).use();
        if (!row.bind(1, key).step()) {
            throw Failure{{kGone}};
        }
        // Into a fresh handle: the caller's changes only on success.
        connection->readInto(*fresh, row);
    }
    manager.localizedDescription = std::move(fresh->localizedDescription);
    manager.protocolConfiguration = std::move(fresh->protocolConfiguration);
    manager.isEnabled = fresh->isEnabled;
}

void SqliteVPNStore::Impl::requestRemoval(std::int64_t key, ErrorCompletion completion) {
    const std::lock_guard lock(store_->mutex());
    removals_.push_back({.key = key, .completion = std::move(completion), .outcome = std::nullopt});
    if (removals_.size() == 1) {
        later([](Impl& impl) { impl.removeRequested(); });
    }
}

// Calls the completions unlocked: one may use the store again.
void SqliteVPNStore::Impl::removeRequested() {
    Removals removals;
    std::optional<Error> failed;
    {
        const std::lock_guard lock(store_->mutex());
        removals.swap(removals_);
        failed = caught<std::optional<Error>>([&] {
            removeLocked(removals);
            return std::nullopt;
        });
    }
    for (Removal& removal : removals) {
        removal.completion(failed ? failed : std::move(removal.outcome));
    }
}

// One erasure for them all after the commit. No store: nothing to remove.
void SqliteVPNStore::Impl::removeLocked(Removals& removals) {
    Connection* connection = store_->openLocked(false);
    if (connection == nullptr) {
        return;
    }
    bool removed = false;
    Transaction transaction(connection->db(), Transaction::Kind::write);
    for (Removal& removal : removals) {
        connection->statement(savepoint).use().step();
        try {
            connection->statement(deleteOne).use().bind(1, removal.key).step();
            // Removed by someone else meanwhile: just as removed.
            if (connection->db().changes() > 0) {
                store_->statusesLocked().forget(removal.key);
                removed = true;
            }
        } catch (const Failure& failure) {
            if (!connection->db().inTransaction()) {
                throw;  // the error ended the whole transaction (a full disk, say)
            }
            connection->statement(rollBackToSavepoint).use().step();
            removal.outcome = failure.error;
        }
        connection->statement(releaseSavepoint).use().step();
    }
    if (!removed) {
        return;
    }
    connection->statement(requestErasure).use().step();
    transaction.commit();
    store_->signal().raise();
    store_->erasePendingLocked();
}

// Runs `query` on a stored configuration in a transaction of its own and
// signals a change. `ifGone` is the outcome for one no longer stored.
std::optional<Error> SqliteVPNStore::Impl::change(std::optional<std::int64_t> key, Query query, VPNStatus status,
                                                  std::optional<Error> ifGone, bool enabledOnly) try {
    if (!key) {
        return Error{kNotSaved};
    }
    const std::lock_guard lock(store_->mutex());
    Connection* connection = store_->openLocked(false);
    if (connection == nullptr) {
        return ifGone;
    }
    Transaction transaction(connection->db(), Transaction::Kind::write);
    {
        Statement::Use row = connection->statement(selectStatus).use();
        row.bind(1, *key);
        if (!row.step()) {
            return ifGone;
        }
        if (enabledOnly && row.integer(2) == 0) {
            return Error{kNotEnabled};
        }
    }
    Statement::Use update = connection->statement(query).use();
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
} catch (const Failure& failure) {
    return failure.error;
}

// Writes only when the status read is not down, so that stopping every
// configuration of a large store writes only those that are up. A status
// that cannot be read is left to the write.
std::optional<Error> SqliteVPNStore::Impl::stop(std::int64_t key) {
    try {
        const std::lock_guard lock(store_->mutex());
        const VPNStatus current = store_->liveStatusLocked(key).value_or(StoredStatus{}).status;
        if (current == VPNStatus::disconnected || current == VPNStatus::invalid) {
            return std::nullopt;
        }
    } catch (const Failure&) {
    }
    return change(key, stopOne, VPNStatus::disconnected, /*ifGone=*/std::nullopt);
}

std::optional<Error> SqliteVPNStore::Impl::start(std::optional<std::int64_t> key) {
    if (std::optional<Error> error =
            change(key, changeStatus, VPNStatus::connecting, Error{kGone}, /*enabledOnly=*/true)) {
        return error;
    }
    return change(key, finishConnecting, VPNStatus::connected);
}

SqliteVPNStore::SqliteVPNStore(MainQueue& mainQueue, std::string path, SameName sameName)
    : impl_(std::make_shared<Impl>(*this, mainQueue, std::move(path), std::move(sameName))) {}

SqliteVPNStore::~SqliteVPNStore() = default;

const std::string& SqliteVPNStore::path() const { return impl_->store().path(); }

ManagerRef SqliteVPNStore::makeManager() { return std::make_shared<SqliteManager>(*this); }

void SqliteVPNStore::loadAllFromPreferences(LoadAllCompletion completion) { load(false, std::move(completion)); }

void SqliteVPNStore::loadActiveFromPreferences(LoadAllCompletion completion) { load(true, std::move(completion)); }

void SqliteVPNStore::load(bool activeOnly, LoadAllCompletion completion) {
    impl_->later([activeOnly, completion = std::move(completion)](Impl& impl) {
        completion(caught<Result<std::vector<ManagerRef>>>([&] { return impl.load(activeOnly); }));
        // What the load read served its completion.
        const std::lock_guard lock(impl.store().mutex());
        impl.store().statusesLocked().heard();
    });
}

void SqliteVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    // What is saved is what the handle holds now, at the request.
    auto handle = std::dynamic_pointer_cast<SqliteManager>(manager);
    auto columns = caught<Result<Columns>>([&]() -> Result<Columns> {
        return handle ? columnsOf(*handle) : throw Failure{{kNotOfThisStore}};
    });
    impl_->later([handle, columns = std::move(columns), completion = std::move(completion)](Impl& impl) {
        completion(!columns.ok() ? columns.error() : caught<std::optional<Error>>([&] {
            impl.save(*handle, columns.value());
            return std::nullopt;
        }));
    });
}

void SqliteVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    impl_->later([manager = std::move(manager), completion = std::move(completion)](Impl& impl) {
        completion(caught<std::optional<Error>>([&]() -> std::optional<Error> {
            const std::optional<std::int64_t> key = rowKeyOf(*manager);
            if (!key) {
                return Error{kNotSaved};
            }
            impl.reload(*manager, *key);
            return std::nullopt;
        }));
    });
}

void SqliteVPNStore::remove(ManagerRef manager, ErrorCompletion completion) {
    if (const std::optional<std::int64_t> key = rowKeyOf(*manager)) {
        impl_->requestRemoval(*key, std::move(completion));
        return;
    }
    // Never saved: nothing to remove, and no reason to open the store.
    impl_->later([completion = std::move(completion)](Impl&) { completion(std::nullopt); });
}

std::optional<Error> SqliteVPNStore::startTunnel(const TunnelProviderManager& manager) {
    return impl_->start(rowKeyOf(manager));
}

std::optional<Error> SqliteVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    const std::optional<std::int64_t> key = rowKeyOf(manager);
    if (!key) {
        return std::nullopt;
    }
    return impl_->stop(*key);
}

VPNStatus SqliteVPNStore::status(const TunnelProviderManager& manager) {
    const std::optional<std::int64_t> key = rowKeyOf(manager);
    if (!key) {
        return VPNStatus::invalid;
    }
    StoreConnection& store = impl_->store();
    const std::lock_guard lock(store.mutex());
    try {
        return store.liveStatusLocked(*key).value_or(StoredStatus{}).status;
    } catch (const Failure&) {
        return VPNStatus::invalid;
    }
}

void SqliteVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    if (const std::optional<std::int64_t> key = rowKeyOf(manager)) {
        impl_->observers().observe(*key, std::move(block));
    }
}

std::optional<Error> SqliteVPNStore::setStatus(const TunnelProviderManager& manager, VPNStatus status) {
    return impl_->change(rowKeyOf(manager), changeStatus, status);
}

}  // namespace vxm::platform
