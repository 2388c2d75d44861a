// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/SqliteVPNStore.h"

#include <algorithm>
#include <list>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/embedded/OperationQueue.h"
#include "platform/embedded/SqliteManager.h"
#include "platform/embedded/StandInProvider.h"
#include "platform/embedded/StoreConnection.h"
#include "platform/embedded/StoreObservers.h"
#include "platform/embedded/StoreQueries.h"

namespace vxm::platform {

using sqlite::Statement;

// The parts of the store, each doing one job on the state they share through
// StoreConnection; the operations with a completion are composed here.
class SqliteVPNStore::Impl {
public:
    Impl(SqliteVPNStore& owner, MainQueue& queue, std::string path, SameName sameName)
        : owner_(owner),
          sameName_(std::move(sameName)),
          store_(std::make_shared<StoreConnection>(std::move(path))),
          operations_(std::make_shared<OperationQueue>(queue, store_)),
          observers_(std::make_shared<StoreObservers>(queue, store_)),
          provider_(store_) {}

    StoreConnection& store() { return *store_; }
    OperationQueue& operations() { return *operations_; }
    StoreObservers& observers() { return *observers_; }
    StandInProvider& provider() { return provider_; }

    // Work of the queued operations, run with the store locked.
    std::vector<ManagerRef> loadAll(Connection& connection);
    // The removals requested one after another share one operation, which
    // runs each within a savepoint of its own.
    struct Removal {
        std::int64_t key;
        ErrorCompletion completion;
    };
    // A list: each entry takes a small block of its own, as the handles
    // freed while removals are requested leave (a block of thousands would
    // take new memory).
    using Removals = std::list<Removal>;
    // The removals of the operation queued last for them. Guarded by the store's lock.
    Removals& waitingRemovals() { return *removals_; }
    // A new operation for the removals requested from now on.
    Operation removalsOperation();

    // What a load finds when no store stands at the path: nothing. Run with the store locked.
    std::vector<ManagerRef> loadNothing();
    std::optional<std::int64_t> storedSinceLoad(Connection& connection, const Columns& columns);
    void noteRemoved(Connection& connection, std::int64_t key);

private:
    SqliteVPNStore& owner_;
    const SameName sameName_;
    const std::shared_ptr<StoreConnection> store_;
    const std::shared_ptr<OperationQueue> operations_;
    const std::shared_ptr<StoreObservers> observers_;
    StandInProvider provider_;
    std::shared_ptr<Removals> removals_;
    // The highest key of the last list loaded; keys only grow, so a higher
    // one was stored after that load. Guarded by the store's lock.
    std::optional<std::int64_t> loadedUpTo_;
};

std::vector<ManagerRef> SqliteVPNStore::Impl::loadAll(Connection& connection) {
    std::vector<ManagerRef> managers;
    std::int64_t highest = 0;
    Statement::Use row = connection.statement(selectAll).use();
    while (row.step()) {
        auto manager = std::make_shared<SqliteManager>(owner_);
        connection.readInto(*manager, row);
        highest = std::max(highest, *manager->key);
        store_->statusesLocked().remember(*manager->key,
                                          {static_cast<VPNStatus>(row.integer(8)), row.integer(9)});
        managers.push_back(std::move(manager));
    }
    loadedUpTo_ = highest;
    return managers;
}

std::vector<ManagerRef> SqliteVPNStore::Impl::loadNothing() {
    loadedUpTo_ = 0;
    return {};
}

// A tunnel-provider configuration of the same display name (as sameName_
// compares) and provider that someone stored after this store last loaded the list: a new configuration
// of that name is saved into it rather than beside it, so that processes
// that each found no configuration for a site and made one end with one.
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

void SqliteVPNStore::Impl::noteRemoved(Connection& connection, std::int64_t key) {
    store_->statusesLocked().forget(key);
    operations_->signalAfterCommitLocked();
    operations_->eraseAfterCommitLocked(connection);
}

Operation SqliteVPNStore::Impl::removalsOperation() {
    auto removals = std::make_shared<Removals>();
    removals_ = removals;
    return {
        .access = Access::write,
        .ownSavepoints = true,
        .work = [this, removals](Connection* connection) -> std::function<void()> {
            // The failures by position; most often none.
            auto failures = std::make_shared<std::vector<std::pair<std::size_t, Error>>>();
            std::size_t index = 0;
            for (auto removal = removals->begin(); connection != nullptr && removal != removals->end(); ++removal) {
                const std::int64_t key = removal->key;
                std::optional<Error> failed = store_->aloneLocked(*connection, [&] {
                    connection->statement(deleteOne).use().bind(1, key).step();
                    // Removed by someone else meanwhile: just as removed.
                    if (connection->db().changes() > 0) {
                        noteRemoved(*connection, key);
                    }
                });
                if (failed) {
                    failures->emplace_back(index, *std::move(failed));
                }
                ++index;
            }
            return [removals, failures] {
                auto failure = failures->begin();
                std::size_t index = 0;
                for (Removal& removal : *removals) {
                    std::optional<Error> outcome;
                    if (failure != failures->end() && failure->first == index++) {
                        outcome = (failure++)->second;
                    }
                    removal.completion(std::move(outcome));
                }
            };
        },
        .fail =
            [removals](const Error& error) {
                for (Removal& removal : *removals) {
                    removal.completion(error);
                }
            },
    };
}

// ---- the store ----

SqliteVPNStore::SqliteVPNStore(MainQueue& mainQueue, std::string path, SameName sameName)
    : impl_(std::make_unique<Impl>(*this, mainQueue, std::move(path), std::move(sameName))) {}

SqliteVPNStore::~SqliteVPNStore() = default;

const std::string& SqliteVPNStore::path() const { return impl_->store().path(); }

ManagerRef SqliteVPNStore::makeManager() { return std::make_shared<SqliteManager>(*this); }

void SqliteVPNStore::loadAllFromPreferences(LoadAllCompletion completion) {
    auto done = std::make_shared<LoadAllCompletion>(std::move(completion));
    Impl& impl = *impl_;
    impl.operations().enqueue({.work = [&impl, done](Connection* connection) -> std::function<void()> {
                                   return [&impl, done, managers = connection != nullptr ? impl.loadAll(*connection)
                                                                                         : impl.loadNothing()]() mutable {
                                       (*done)(std::move(managers));
                                       // What the load read served its completion.
                                       const std::lock_guard lock(impl.store().mutex());
                                       impl.store().statusesLocked().heard();
                                   };
                               },
                               .fail = [done](const Error& error) { (*done)(error); }});
}

void SqliteVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    auto done = std::make_shared<ErrorCompletion>(std::move(completion));
    Impl& impl = *impl_;
    // What is saved is what the handle holds now, at the request.
    std::optional<Columns> columns;
    std::optional<Error> unsaveable;
    auto handle = std::dynamic_pointer_cast<SqliteManager>(manager);
    try {
        columns = columnsOf(*manager);
    } catch (const Failure& stopped) {
        unsaveable = stopped.error;
    }
    if (!handle) {
        unsaveable = Error{kNotOfThisStore};
    }
    impl.operations().enqueue({.access = Access::write,
                               .needs = unsaveable ? Needs::nothing : Needs::store,
                               .work = [&impl, handle, columns = std::move(columns), unsaveable,
                                        done](Connection* store) -> std::function<void()> {
                                   if (unsaveable) {
                                       return [done, unsaveable] { (*done)(unsaveable); };
                                   }
                                   Connection& connection = *store;
                                   const std::optional<std::int64_t> key =
                                       handle->key ? handle->key : impl.storedSinceLoad(connection, *columns);
                                   Statement::Use row = connection.statement(key ? updateOne : insertOne).use();
                                   if (key) {
                                       row.bind(1, *key);
                                   }
                                   bindColumns(row, *columns);
                                   row.step();
                                   if (key && connection.db().changes() == 0) {
                                       return [done] { (*done)(Error{kGone}); };
                                   }
                                   if (key) {
                                       // The old values, a private key say, go from the files.
                                       impl.operations().eraseAfterCommitLocked(connection);
                                   }
                                   const std::int64_t stored = key ? *key : connection.db().lastInsertKey();
                                   return [handle, stored, done] {
                                       handle->key = stored;
                                       (*done)(std::nullopt);
                                   };
                               },
                               .fail = [done](const Error& error) { (*done)(error); }});
}

void SqliteVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    auto done = std::make_shared<ErrorCompletion>(std::move(completion));
    Impl& impl = *impl_;
    const std::optional<std::int64_t> key = rowKeyOf(*manager);
    impl.operations().enqueue({.needs = key ? Needs::existingStore : Needs::nothing,
                               .work = [manager, key, done](Connection* connection) -> std::function<void()> {
                                   if (!key) {
                                       return [done] { (*done)(Error{kNotSaved}); };
                                   }
                                   if (connection == nullptr) {
                                       return [done] { (*done)(Error{kGone}); };
                                   }
                                   Statement::Use row = connection->statement(selectOne).use();
                                   row.bind(1, *key);
                                   if (!row.step()) {
                                       return [done] { (*done)(Error{kGone}); };
                                   }
                                   // Read into a fresh handle: the caller's changes only on success.
                                   auto fresh = std::make_shared<SqliteManager>(manager->store());
                                   connection->readInto(*fresh, row);
                                   return [manager, fresh, done] {
                                       manager->localizedDescription = std::move(fresh->localizedDescription);
                                       manager->protocolConfiguration = std::move(fresh->protocolConfiguration);
                                       manager->isEnabled = fresh->isEnabled;
                                       (*done)(std::nullopt);
                                   };
                               },
                               .fail = [done](const Error& error) { (*done)(error); }});
}

void SqliteVPNStore::remove(ManagerRef manager, ErrorCompletion completion) {
    Impl& impl = *impl_;
    const std::optional<std::int64_t> key = rowKeyOf(*manager);
    if (!key) {
        // Never saved: nothing to remove, and no reason to open the store.
        auto done = std::make_shared<ErrorCompletion>(std::move(completion));
        impl.operations().enqueue({.needs = Needs::nothing, .work = [done](Connection*) -> std::function<void()> {
                                       return [done] { (*done)(std::nullopt); };
                                   }});
        return;
    }
    impl.operations().enqueueInSeries(
        &impl, [&] { impl.waitingRemovals().push_back({*key, std::move(completion)}); },
        [&] { return impl.removalsOperation(); });
}

std::optional<Error> SqliteVPNStore::startTunnel(const TunnelProviderManager& manager) {
    return impl_->provider().start(rowKeyOf(manager));
}

std::optional<Error> SqliteVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    const std::optional<std::int64_t> key = rowKeyOf(manager);
    if (!key) {
        return std::nullopt;
    }
    return impl_->provider().stop(*key);
}

VPNStatus SqliteVPNStore::status(const TunnelProviderManager& manager) {
    const std::optional<std::int64_t> key = rowKeyOf(manager);
    if (!key) {
        return VPNStatus::invalid;
    }
    StoreConnection& store = impl_->store();
    const std::lock_guard lock(store.mutex());
    VPNStatus status = VPNStatus::invalid;
    store.guard(Access::read, [&]() -> std::optional<Error> {
        status = store.liveStatusLocked(*key).value_or(StoredStatus{}).status;
        return std::nullopt;
    });
    return status;
}

void SqliteVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    if (const std::optional<std::int64_t> key = rowKeyOf(manager)) {
        impl_->observers().observe(*key, std::move(block));
    }
}

std::optional<Error> SqliteVPNStore::setStatus(const TunnelProviderManager& manager, VPNStatus status) {
    return impl_->provider().setStatus(rowKeyOf(manager), status);
}

}  // namespace vxm::platform
