#include "platform/linux/SqliteVPNStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/ProviderConfigurationCoding.h"
#include "platform/linux/SqliteDatabase.h"
#include "platform/linux/StatusSignal.h"
#include "platform/linux/StoreFile.h"

namespace vxm::platform {

namespace {

using sqlite::Statement;
using sqlite::Transaction;

constexpr const char* kNotSaved = "the configuration is not saved";
constexpr const char* kGone = "the configuration is no longer in the store";
constexpr const char* kNotEnabled = "the configuration is not enabled";

// Stops the operation at hand with an error for its caller. Thrown and caught
// inside this file only.
struct Failure {
    Error error;
};

enum Query : std::size_t {
    selectAll,
    selectOne,
    insertOne,
    updateOne,
    deleteOne,
    selectStatus,
    changeStatus,
    finishConnecting,
    stopOne,
    storedSince,
    queryCount,
};

constexpr std::array<const char*, queryCount> kQueries = {
    "SELECT key, display_name, protocol, other_protocol_kind, provider_bundle_identifier, server_address,"
    " provider_configuration, enabled, status, status_changes FROM configurations ORDER BY key",
    "SELECT key, display_name, protocol, other_protocol_kind, provider_bundle_identifier, server_address,"
    " provider_configuration, enabled, status, status_changes FROM configurations WHERE key = ?1",
    "INSERT INTO configurations (display_name, protocol, other_protocol_kind, provider_bundle_identifier,"
    " server_address, provider_configuration, enabled) VALUES (?2, ?3, ?4, ?5, ?6, ?7, ?8)",
    "UPDATE configurations SET display_name = ?2, protocol = ?3, other_protocol_kind = ?4,"
    " provider_bundle_identifier = ?5, server_address = ?6, provider_configuration = ?7, enabled = ?8"
    " WHERE key = ?1",
    "DELETE FROM configurations WHERE key = ?1",
    "SELECT status, status_changes, enabled FROM configurations WHERE key = ?1",
    "UPDATE configurations SET status = ?2, status_changes = status_changes + 1 WHERE key = ?1 AND status <> ?2",
    "UPDATE configurations SET status = 3, status_changes = status_changes + 1 WHERE key = ?1 AND status = 2",
    "UPDATE configurations SET status = 1, status_changes = status_changes + 1"
    " WHERE key = ?1 AND status IN (2, 3, 4, 5)",
    "SELECT key FROM configurations WHERE key > ?1 AND display_name = ?2 AND protocol = 'tunnel-provider'"
    " AND provider_bundle_identifier IS ?3 ORDER BY key LIMIT 1",
};

// The open store file with its statements, each prepared on first use.
struct Connection {
    std::unique_ptr<sqlite::Database> db;
    std::array<std::unique_ptr<Statement>, queryCount> statements;

    Statement& statement(Query query) {
        if (!statements[query]) {
            statements[query] = std::make_unique<Statement>(*db, kQueries[query]);
        }
        return *statements[query];
    }
};

// A configuration's stored columns, bound as ?2 to ?8 of insertOne and updateOne.
struct Columns {
    std::optional<std::string> displayName;
    std::string protocol;
    std::optional<std::string> otherKind;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> serverAddress;
    std::optional<std::string> providerConfiguration;
    bool enabled = false;
};

Columns columnsOf(const TunnelProviderManager& manager) {
    Columns columns;
    columns.displayName = manager.localizedDescription;
    columns.enabled = manager.isEnabled;
    if (const auto* other = std::get_if<OtherProtocol>(&manager.protocolConfiguration)) {
        columns.protocol = "other";
        columns.otherKind = other->kind;
    } else if (const auto* provider = std::get_if<TunnelProviderProtocol>(&manager.protocolConfiguration)) {
        columns.protocol = "tunnel-provider";
        columns.bundleIdentifier = provider->providerBundleIdentifier;
        columns.serverAddress = provider->serverAddress;
        if (provider->providerConfiguration) {
            columns.providerConfiguration = encodeProviderConfiguration(*provider->providerConfiguration);
            if (!columns.providerConfiguration) {
                // Never quote the value: it may be a private key.
                throw Failure{{"the provider configuration holds text that is not valid UTF-8"}};
            }
        }
    } else {
        columns.protocol = "none";
    }
    return columns;
}

void bindColumns(Statement::Use& use, const Columns& columns) {
    use.bindOptional(2, columns.displayName)
        .bind(3, columns.protocol)
        .bindOptional(4, columns.otherKind)
        .bindOptional(5, columns.bundleIdentifier)
        .bindOptional(6, columns.serverAddress)
        .bindOptional(7, columns.providerConfiguration)
        .bind(8, std::int64_t{columns.enabled ? 1 : 0});
}

// The change count of a status that could not be read: unlike any other.
constexpr std::int64_t kChangesUnknown = -2;

struct CachedStatus {
    VPNStatus status = VPNStatus::invalid;
    // Counts the changes of the stored status; -1 once the configuration is gone.
    std::int64_t changes = -1;
    // The signal's stamp, taken before the status was read.
    std::int64_t stamp = 0;
};

struct Observer {
    std::int64_t key;
    std::int64_t lastSeenChanges;
    std::shared_ptr<std::function<void()>> block;
};

// An operation waiting for the main-queue task that runs it.
struct Pending {
    bool writes = false;
    bool isRemoval = false;
    // Runs inside the transaction with the store locked. Returns what to do
    // once the transaction has committed: update the handle, call the completion.
    std::function<std::function<void()>(Connection&)> work;
    // Calls the completion with the error that stopped the transaction.
    std::function<void(const Error&)> fail;
};

}  // namespace

class SqliteVPNStore::Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl(SqliteVPNStore& owner, AsioMainQueue& queue, std::string path)
        : owner_(owner), queue_(queue), path_(std::move(path)), signal_(path_ + "-events") {}

    [[nodiscard]] const std::string& path() const { return path_; }

    void enqueue(Pending pending);
    VPNStatus status(std::int64_t key);
    std::optional<Error> setStatus(std::optional<std::int64_t> key, Query query, VPNStatus status);
    std::optional<Error> startTunnel(std::optional<std::int64_t> key);
    std::optional<Error> stopTunnel(std::int64_t key);
    void observe(std::int64_t key, std::function<void()> block);

    // Work of the queued operations, run with the store locked.
    std::vector<ManagerRef> loadAll(Connection& connection);
    std::optional<std::int64_t> storedSinceLoad(Connection& connection, const Columns& columns);
    void readInto(TunnelProviderManager& manager, Statement::Use& row);
    void noteRemoved(std::int64_t key);

    Error readError(const std::string& reason) const {
        return {"the VPN configuration store at " + path_ + " cannot be read: " + reason};
    }
    Error writeError(const std::string& reason) const {
        return {"the VPN configuration store at " + path_ + " cannot be written: " + reason};
    }

private:
    Connection& openLocked();
    CachedStatus liveStatusLocked(std::int64_t key);
    void watchLocked();
    void pollSignal();
    void flush();
    void runGroup(std::vector<Pending>& batch, std::size_t begin, std::size_t end);
    void checkObservers();

    SqliteVPNStore& owner_;
    AsioMainQueue& queue_;
    const std::string path_;
    StatusSignal signal_;

    std::mutex mutex_;  // guards everything below
    std::unique_ptr<Connection> connection_;
    std::unordered_map<std::int64_t, CachedStatus> statuses_;
    std::vector<Observer> observers_;
    // The highest key of the last list loaded; keys only grow, so a higher
    // one was stored after that load.
    std::optional<std::int64_t> loadedUpTo_;
    bool watching_ = false;
    bool signalAfterCommit_ = false;
    std::vector<Pending> pending_;
    bool flushQueued_ = false;
};

Connection& SqliteVPNStore::Impl::openLocked() {
    if (connection_) {
        return *connection_;
    }
    try {
        auto connection = std::make_unique<Connection>();
        connection->db = openStoreFile(path_);
        signal_.open();
        connection_ = std::move(connection);
        return *connection_;
    } catch (const std::exception& error) {
        throw Failure{{"the VPN configuration store at " + path_ + " cannot be opened: " + error.what()}};
    }
}

// ---- queued operations ----

void SqliteVPNStore::Impl::enqueue(Pending pending) {
    const std::lock_guard lock(mutex_);
    pending_.push_back(std::move(pending));
    if (!flushQueued_) {
        flushQueued_ = true;
        queue_.async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->flush();
            }
        });
    }
}

void SqliteVPNStore::Impl::flush() {
    std::vector<Pending> batch;
    {
        const std::lock_guard lock(mutex_);
        batch.swap(pending_);
        flushQueued_ = false;
    }
    for (std::size_t begin = 0; begin < batch.size();) {
        std::size_t end = begin + 1;
        while (batch[begin].isRemoval && end < batch.size() && batch[end].isRemoval) {
            ++end;
        }
        runGroup(batch, begin, end);
        begin = end;
    }
}

// Runs batch[begin, end) in one transaction, then calls their completions
// with the store unlocked, as a completion may well use the store again.
void SqliteVPNStore::Impl::runGroup(std::vector<Pending>& batch, std::size_t begin, std::size_t end) {
    const bool writes = std::any_of(batch.begin() + static_cast<std::ptrdiff_t>(begin),
                                    batch.begin() + static_cast<std::ptrdiff_t>(end),
                                    [](const Pending& pending) { return pending.writes; });
    std::vector<std::function<void()>> finishes;
    std::optional<Error> failure;
    {
        const std::lock_guard lock(mutex_);
        try {
            Connection& connection = openLocked();
            signalAfterCommit_ = false;
            Transaction transaction(*connection.db, writes ? Transaction::Kind::write : Transaction::Kind::read);
            for (std::size_t index = begin; index < end; ++index) {
                finishes.push_back(batch[index].work(connection));
            }
            transaction.commit();
            if (signalAfterCommit_) {
                signal_.raise();
            }
        } catch (const Failure& stopped) {
            failure = stopped.error;
        } catch (const sqlite::DatabaseError& error) {
            failure = writes ? writeError(error.what()) : readError(error.what());
        }
    }
    if (failure) {
        for (std::size_t index = begin; index < end; ++index) {
            batch[index].fail(*failure);
        }
        return;
    }
    for (const std::function<void()>& finish : finishes) {
        finish();
    }
}

std::vector<ManagerRef> SqliteVPNStore::Impl::loadAll(Connection& connection) {
    // The stamp comes before the rows are read (the transaction takes its
    // snapshot at the first read), so a change signalled after it makes
    // status() read again.
    const std::int64_t stamp = signal_.stamp();
    std::vector<ManagerRef> managers;
    std::int64_t highest = 0;
    Statement::Use row = connection.statement(selectAll).use();
    while (row.step()) {
        ManagerRef manager = owner_.makeManager();
        readInto(*manager, row);
        highest = std::max(highest, *manager->storeKey);
        statuses_[*manager->storeKey] = {static_cast<VPNStatus>(row.integer(8)), row.integer(9), stamp};
        managers.push_back(std::move(manager));
    }
    loadedUpTo_ = highest;
    return managers;
}

// A tunnel-provider configuration of the same display name and provider that
// someone stored after this store last loaded the list: a new configuration
// of that name is saved into it rather than beside it, so that processes
// that each found no configuration for a site and made one end with one.
std::optional<std::int64_t> SqliteVPNStore::Impl::storedSinceLoad(Connection& connection, const Columns& columns) {
    if (!loadedUpTo_ || !columns.displayName || columns.protocol != "tunnel-provider") {
        return std::nullopt;
    }
    Statement::Use row = connection.statement(storedSince).use();
    row.bind(1, *loadedUpTo_).bind(2, std::string_view(*columns.displayName)).bindOptional(3, columns.bundleIdentifier);
    if (!row.step()) {
        return std::nullopt;
    }
    return row.integer(0);
}

// Sets the handle's properties from a row of selectAll or selectOne.
void SqliteVPNStore::Impl::readInto(TunnelProviderManager& manager, Statement::Use& row) {
    const std::int64_t key = row.integer(0);
    manager.storeKey = key;
    manager.localizedDescription = row.optionalText(1);
    manager.isEnabled = row.integer(7) != 0;
    const std::string_view protocol = row.view(2);
    if (protocol == "other") {
        manager.protocolConfiguration = OtherProtocol{row.text(3)};
        return;
    }
    if (protocol != "tunnel-provider") {
        manager.protocolConfiguration = NoProtocol{};
        return;
    }
    TunnelProviderProtocol provider{.providerBundleIdentifier = row.optionalText(4),
                                    .serverAddress = row.text(5),
                                    .providerConfiguration = std::nullopt};
    if (!row.isNull(6)) {
        provider.providerConfiguration = decodeProviderConfiguration(row.view(6));
        if (!provider.providerConfiguration) {
            throw Failure{{"the VPN configuration store at " + path_ + " holds a damaged configuration (number " +
                           std::to_string(key) + ")"}};
        }
    }
    manager.protocolConfiguration = std::move(provider);
}

void SqliteVPNStore::Impl::noteRemoved(std::int64_t key) {
    statuses_.erase(key);
    signalAfterCommit_ = true;
}

// ---- status ----

// The stored status of `key`, read again only when a change was signalled
// since it was last read. Throws sqlite::DatabaseError.
CachedStatus SqliteVPNStore::Impl::liveStatusLocked(std::int64_t key) {
    const std::int64_t stamp = signal_.stamp();
    if (auto cached = statuses_.find(key); cached != statuses_.end() && cached->second.stamp == stamp) {
        return cached->second;
    }
    CachedStatus current{.stamp = stamp};
    Statement::Use row = connection_->statement(selectStatus).use();
    row.bind(1, key);
    if (row.step()) {
        current.status = static_cast<VPNStatus>(row.integer(0));
        current.changes = row.integer(1);
    }
    statuses_[key] = current;
    return current;
}

VPNStatus SqliteVPNStore::Impl::status(std::int64_t key) {
    const std::lock_guard lock(mutex_);
    try {
        openLocked();
        return liveStatusLocked(key).status;
    } catch (const Failure&) {
        return VPNStatus::invalid;
    } catch (const sqlite::DatabaseError&) {
        return VPNStatus::invalid;
    }
}

// Runs `query` (changeStatus, finishConnecting or stopOne) on a stored
// configuration in a transaction of its own, and signals a change.
std::optional<Error> SqliteVPNStore::Impl::setStatus(std::optional<std::int64_t> key, Query query,
                                                     VPNStatus status) {
    if (!key) {
        return Error{kNotSaved};
    }
    const std::lock_guard lock(mutex_);
    try {
        Connection& connection = openLocked();
        Transaction transaction(*connection.db, Transaction::Kind::write);
        {
            Statement::Use row = connection.statement(selectStatus).use();
            row.bind(1, *key);
            if (!row.step()) {
                return Error{kGone};
            }
        }
        Statement::Use change = connection.statement(query).use();
        change.bind(1, *key);
        if (query == changeStatus) {
            change.bind(2, static_cast<std::int64_t>(status));
        }
        change.step();
        const bool changed = connection.db->changes() > 0;
        transaction.commit();
        if (changed) {
            statuses_.erase(*key);
            signal_.raise();
        }
        return std::nullopt;
    } catch (const Failure& stopped) {
        return stopped.error;
    } catch (const sqlite::DatabaseError& error) {
        return writeError(error.what());
    }
}

// Brings the tunnel down unless its status, as last read with no change
// signalled since, is already down: stopping every configuration of a large
// store then writes only those that are up. A status that cannot be read is
// left to the write, which finds out for itself.
std::optional<Error> SqliteVPNStore::Impl::stopTunnel(std::int64_t key) {
    {
        const std::lock_guard lock(mutex_);
        try {
            openLocked();
            const VPNStatus current = liveStatusLocked(key).status;
            if (current == VPNStatus::disconnected || current == VPNStatus::invalid) {
                return std::nullopt;
            }
        } catch (const Failure&) {
            // Cannot be opened: the write below reports why.
        } catch (const sqlite::DatabaseError&) {
            // Cannot be read now: the write below tries for itself.
        }
    }
    std::optional<Error> error = setStatus(key, stopOne, VPNStatus::disconnected);
    // Removed meanwhile: it has no tunnel left to stop.
    if (error && error->localizedDescription == kGone) {
        return std::nullopt;
    }
    return error;
}

std::optional<Error> SqliteVPNStore::Impl::startTunnel(std::optional<std::int64_t> key) {
    if (!key) {
        return Error{kNotSaved};
    }
    {
        const std::lock_guard lock(mutex_);
        try {
            Statement::Use row = openLocked().statement(selectStatus).use();
            row.bind(1, *key);
            if (!row.step()) {
                return Error{kGone};
            }
            if (row.integer(2) == 0) {
                return Error{kNotEnabled};
            }
        } catch (const Failure& stopped) {
            return stopped.error;
        } catch (const sqlite::DatabaseError& error) {
            return readError(error.what());
        }
    }
    if (std::optional<Error> error = setStatus(key, changeStatus, VPNStatus::connecting)) {
        return error;
    }
    // The stand-in provider accepts every start at once.
    return setStatus(key, finishConnecting, VPNStatus::connected);
}

// ---- observers ----

void SqliteVPNStore::Impl::watchLocked() {
    if (watching_) {
        return;
    }
    watching_ = true;
    try {
        signal_.watch(queue_, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->checkObservers();
            }
        });
    } catch (const std::system_error&) {
        // Without inotify (the user's limit of instances reached, say) the
        // observers must still hear of changes: look a few times a second.
        pollSignal();
    }
}

void SqliteVPNStore::Impl::pollSignal() {
    queue_.asyncAfter(std::chrono::milliseconds(250), [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->checkObservers();
            self->pollSignal();
        }
    });
}

void SqliteVPNStore::Impl::observe(std::int64_t key, std::function<void()> block) {
    bool checkNow = false;
    {
        const std::lock_guard lock(mutex_);
        try {
            openLocked();
        } catch (const Failure&) {
            return;  // nothing stored can be observed
        }
        watchLocked();
        // What this process last read is the base: a change after that read
        // and before the watch began must still run the block.
        std::int64_t lastSeen = kChangesUnknown;
        try {
            auto cached = statuses_.find(key);
            lastSeen = cached != statuses_.end() ? cached->second.changes : liveStatusLocked(key).changes;
            checkNow = liveStatusLocked(key).changes != lastSeen;
        } catch (const sqlite::DatabaseError&) {
            checkNow = true;
        }
        observers_.push_back({key, lastSeen, std::make_shared<std::function<void()>>(std::move(block))});
    }
    if (checkNow) {
        queue_.async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->checkObservers();
            }
        });
    }
}

void SqliteVPNStore::Impl::checkObservers() {
    std::vector<std::shared_ptr<std::function<void()>>> due;
    {
        const std::lock_guard lock(mutex_);
        for (Observer& observer : observers_) {
            try {
                const std::int64_t changes = liveStatusLocked(observer.key).changes;
                if (changes != observer.lastSeenChanges) {
                    observer.lastSeenChanges = changes;
                    due.push_back(observer.block);
                }
            } catch (const sqlite::DatabaseError&) {
                // Unreadable for now: looked at again at the next signal.
            }
        }
    }
    for (const auto& block : due) {
        (*block)();
    }
}

// ---- the store ----

SqliteVPNStore::SqliteVPNStore(AsioMainQueue& mainQueue, std::string path)
    : impl_(std::make_shared<Impl>(*this, mainQueue, std::move(path))) {}

SqliteVPNStore::~SqliteVPNStore() = default;

const std::string& SqliteVPNStore::path() const { return impl_->path(); }

void SqliteVPNStore::loadAllFromPreferences(LoadAllCompletion completion) {
    auto done = std::make_shared<LoadAllCompletion>(std::move(completion));
    Impl& impl = *impl_;
    impl.enqueue({.work = [&impl, done](Connection& connection) -> std::function<void()> {
                      return [done, managers = impl.loadAll(connection)]() mutable { (*done)(std::move(managers)); };
                  },
                  .fail = [done](const Error& error) { (*done)(error); }});
}

void SqliteVPNStore::save(ManagerRef manager, ErrorCompletion completion) {
    auto done = std::make_shared<ErrorCompletion>(std::move(completion));
    Impl& impl = *impl_;
    // What is saved is what the handle holds now, at the request.
    std::optional<Columns> columns;
    std::optional<Error> unsaveable;
    try {
        columns = columnsOf(*manager);
    } catch (const Failure& stopped) {
        unsaveable = stopped.error;
    }
    impl.enqueue({.writes = true,
                  .work = [&impl, manager, columns = std::move(columns), unsaveable, done](
                              Connection& connection) -> std::function<void()> {
                      if (unsaveable) {
                          return [done, unsaveable] { (*done)(unsaveable); };
                      }
                      const std::optional<std::int64_t> key =
                          manager->storeKey ? manager->storeKey : impl.storedSinceLoad(connection, *columns);
                      Statement::Use row = connection.statement(key ? updateOne : insertOne).use();
                      if (key) {
                          row.bind(1, *key);
                      }
                      bindColumns(row, *columns);
                      row.step();
                      if (key && connection.db->changes() == 0) {
                          return [done] { (*done)(Error{kGone}); };
                      }
                      const std::int64_t stored = key ? *key : connection.db->lastInsertKey();
                      return [manager, stored, done] {
                          manager->storeKey = stored;
                          (*done)(std::nullopt);
                      };
                  },
                  .fail = [done](const Error& error) { (*done)(error); }});
}

void SqliteVPNStore::reload(ManagerRef manager, ErrorCompletion completion) {
    auto done = std::make_shared<ErrorCompletion>(std::move(completion));
    Impl& impl = *impl_;
    impl.enqueue({.work = [&impl, manager, done](Connection& connection) -> std::function<void()> {
                      if (!manager->storeKey) {
                          return [done] { (*done)(Error{kNotSaved}); };
                      }
                      Statement::Use row = connection.statement(selectOne).use();
                      row.bind(1, *manager->storeKey);
                      if (!row.step()) {
                          return [done] { (*done)(Error{kGone}); };
                      }
                      // Read into a fresh handle: the caller's changes only on success.
                      auto fresh = std::make_shared<TunnelProviderManager>(manager->store());
                      impl.readInto(*fresh, row);
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
    auto done = std::make_shared<ErrorCompletion>(std::move(completion));
    Impl& impl = *impl_;
    const std::optional<std::int64_t> key = manager->storeKey;
    impl.enqueue({.writes = true,
                  .isRemoval = true,
                  .work = [&impl, key, done](Connection& connection) -> std::function<void()> {
                      // One that is not stored (never saved, or removed
                      // meanwhile) is as removed as it can be.
                      if (!key) {
                          return [done] { (*done)(std::nullopt); };
                      }
                      connection.statement(deleteOne).use().bind(1, *key).step();
                      if (connection.db->changes() == 0) {
                          return [done] { (*done)(std::nullopt); };
                      }
                      impl.noteRemoved(*key);
                      return [done] { (*done)(std::nullopt); };
                  },
                  .fail = [done](const Error& error) { (*done)(error); }});
}

std::optional<Error> SqliteVPNStore::startTunnel(const TunnelProviderManager& manager) {
    return impl_->startTunnel(manager.storeKey);
}

std::optional<Error> SqliteVPNStore::stopTunnel(const TunnelProviderManager& manager) {
    if (!manager.storeKey) {
        return std::nullopt;
    }
    return impl_->stopTunnel(*manager.storeKey);
}

VPNStatus SqliteVPNStore::status(const TunnelProviderManager& manager) {
    return manager.storeKey ? impl_->status(*manager.storeKey) : VPNStatus::invalid;
}

void SqliteVPNStore::observeStatusChanges(const TunnelProviderManager& manager, std::function<void()> block) {
    if (manager.storeKey) {
        impl_->observe(*manager.storeKey, std::move(block));
    }
}

std::optional<Error> SqliteVPNStore::setStatus(const TunnelProviderManager& manager, VPNStatus status) {
    return impl_->setStatus(manager.storeKey, changeStatus, status);
}

}  // namespace vxm::platform
