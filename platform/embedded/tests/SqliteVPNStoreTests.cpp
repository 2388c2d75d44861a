// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/SqliteVPNStore.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/linux/AsioMainQueue.h"
#include "platform/embedded/StoreFile.h"
#include "tests/Support.h"

namespace vxm::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Outcome = std::optional<Error>;

// SQL run on the file through a connection of its own, as another program would.
void runSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

bool eventually(const std::function<bool()>& condition) {
    for (int tries = 0; tries < 3000 && !condition(); ++tries) {
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

ManagerRef tunnel(VPNConfigurationStore& store, const std::string& name = "Vexomi \xE2\x80\x94 home", bool on = true) {
    ManagerRef manager = store.makeManager();
    manager->localizedDescription = name;
    manager->protocolConfiguration = TunnelProviderProtocol{"com.vexomi.client.tunnel", "198.51.100.1:51820",
                                                            ProviderConfiguration{{"privateKey", "a2V5"}}};
    manager->isEnabled = on;
    return manager;
}

// Stores run on a main queue on a thread of the test's, and every completion
// must come on it. Each store on a file stands for another process.
class SqliteVPNStoreTest : public ::testing::Test {
protected:
    void TearDown() override {  // stores are destroyed with the loop stopped, as their watches require
        queue_.stop();
        loop_.join();
    }
    SqliteVPNStore& makeStore(const std::string& path = {}) {
        return *stores_.emplace_back(std::make_unique<SqliteVPNStore>(queue_, path.empty() ? path_ : path));
    }
    template <class T>
    T await(const std::function<void(std::function<void(T)>)>& request) {
        auto done = std::make_shared<std::promise<T>>();
        request([this, done](T value) {
            EXPECT_EQ(std::this_thread::get_id(), loop_.get_id()) << "completed off the main queue";
            done->set_value(std::move(value));
        });
        std::future<T> future = done->get_future();
        return future.wait_for(10s) == std::future_status::ready ? future.get() : throw std::runtime_error("hangs");
    }
    Outcome save(const ManagerRef& m) { return await<Outcome>([&](auto done) { m->saveToPreferences(done); }); }
    Outcome reload(const ManagerRef& m) { return await<Outcome>([&](auto done) { m->loadFromPreferences(done); }); }
    Outcome remove(const ManagerRef& m) { return await<Outcome>([&](auto done) { m->removeFromPreferences(done); }); }
    Result<std::vector<ManagerRef>> loadAll(VPNConfigurationStore& store) {
        return await<Result<std::vector<ManagerRef>>>([&](auto done) { store.loadAllFromPreferences(done); });
    }
    Result<std::vector<ManagerRef>> loadActive(VPNConfigurationStore& store) {
        return await<Result<std::vector<ManagerRef>>>([&](auto done) { store.loadActiveFromPreferences(done); });
    }

    vxm::testing::TempFolder dir_;
    std::string path_ = dir_ / "state/vexomi/vpn-configurations.db";
    AsioMainQueue queue_;
    std::thread loop_{[this] { queue_.run(); }};
    std::vector<std::unique_ptr<SqliteVPNStore>> stores_;
};

TEST_F(SqliteVPNStoreTest, OperationsOnAConfigurationNeverSavedDisabledOrRemovedElsewhere) {
    const Error notSaved{"the configuration is not saved"};
    const Error gone{"the configuration is no longer in the store"};
    const struct {
        bool save, enabled, removeElsewhere;
        VPNStatus status;
        Outcome start, setStatus, reload, saveAfterRemoval;
    } cases[] = {
        // First, while nothing has opened the store: until the reload, nothing does.
        {false, true, false, VPNStatus::invalid, notSaved, notSaved, notSaved, std::nullopt},
        {true, false, false, VPNStatus::disconnected, Error{"the configuration is not enabled"}, {}, {}, gone},
        {true, true, true, VPNStatus::invalid, gone, gone, gone, gone},
    };
    SqliteVPNStore& store = makeStore();
    SqliteVPNStore& elsewhere = makeStore();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.save + 2 * c.removeElsewhere);
        ManagerRef manager = tunnel(store, "Vexomi \xE2\x80\x94 home", c.enabled);
        ASSERT_EQ(c.save ? save(manager) : std::nullopt, std::nullopt);
        ASSERT_EQ(c.removeElsewhere ? remove(loadAll(elsewhere).value().back()) : std::nullopt, std::nullopt);
        EXPECT_EQ(store.status(*manager), c.status);
        EXPECT_EQ(store.startTunnel(*manager), c.start);
        EXPECT_EQ(store.stopTunnel(*manager), std::nullopt);
        EXPECT_EQ(store.setStatus(*manager, VPNStatus::disconnected), c.setStatus);
        store.observeStatusChanges(*manager, [] {});
        EXPECT_EQ(fs::exists(dir_ / "state"), c.save) << "the store was opened before it was needed";
        EXPECT_EQ(reload(manager), c.reload);
        EXPECT_EQ(remove(manager), std::nullopt) << "not stored is as removed as can be";
        EXPECT_EQ(save(manager), c.saveAfterRemoval);
    }
    // Removed by another program, which signals nothing, while this store holds it as up: stopped all the same.
    ManagerRef up = tunnel(store);
    ASSERT_TRUE(!save(up) && !store.startTunnel(*up) && store.status(*up) == VPNStatus::connected);
    runSql(path_, "DELETE FROM configurations");
    EXPECT_EQ(store.stopTunnel(*up), std::nullopt);
}

// Steps on one configuration made through this store or another one on the
// file: after each, both read the status it set, and an observer here runs.
TEST_F(SqliteVPNStoreTest, EveryStoreOfTheFileReadsEachStatusChangeAndItsObserversHearIt) {
    // noisySet: another file of the store's folder is written first, so that the watch
    // reports that one, and the change comes before the watch is made again.
    enum Action { start, stop, set, noisySet, removal };
    const struct {
        bool elsewhere;
        Action action;
        VPNStatus status;
    } steps[] = {
        // The observer comes after the first step, before this store read it: it hears of it all the same.
        {true, start, VPNStatus::connected}, {true, set, VPNStatus::reasserting}, {false, stop, VPNStatus::disconnected},
        {true, noisySet, VPNStatus::connected},
        // A stop reaches every state that is not down, however it was last read here.
        {true, set, VPNStatus::connecting}, {false, stop, VPNStatus::disconnected},
        {false, set, VPNStatus::disconnecting}, {true, stop, VPNStatus::disconnected}, {true, removal, VPNStatus::invalid},
    };
    SqliteVPNStore& here = makeStore();
    SqliteVPNStore& elsewhere = makeStore();
    ManagerRef mine = tunnel(here);
    ASSERT_EQ(save(mine), std::nullopt);
    ManagerRef theirs = loadAll(elsewhere).value().at(0);
    // A change after the other store's load: it reads it all the same.
    ASSERT_EQ(here.setStatus(*mine, VPNStatus::disconnecting), std::nullopt);
    ASSERT_EQ(here.status(*mine), VPNStatus::disconnecting);
    EXPECT_TRUE(eventually([&] { return elsewhere.status(*theirs) == VPNStatus::disconnecting; }));
    // What a load of those that are up read serves its completion alone.
    const ManagerRef active = loadActive(elsewhere).value().at(0);
    ASSERT_EQ(here.setStatus(*mine, VPNStatus::connecting), std::nullopt);
    ASSERT_EQ(here.status(*mine), VPNStatus::connecting);
    EXPECT_TRUE(eventually([&] { return elsewhere.status(*active) == VPNStatus::connecting; }));
    std::atomic<int> runs{0};
    for (int seen = 0; const auto& step : steps) {
        SqliteVPNStore& store = step.elsewhere ? elsewhere : here;
        const ManagerRef& manager = step.elsewhere ? theirs : mine;
        // A step and the read of its own store share one main-queue task, between whose
        // start and end nothing is heard: the store that made the change reads it at once.
        const auto act = [&] {
            if (step.action == noisySet) {
                vxm::testing::writeBytes(fs::path(path_).parent_path() / "unrelated", "x");
            }
            EXPECT_EQ(step.action == start ? store.startTunnel(*manager)
                      : step.action == stop ? store.stopTunnel(*manager) : store.setStatus(*manager, step.status),
                      std::nullopt);
            EXPECT_EQ(store.status(*manager), step.status);
        };
        if (step.action == removal) {
            EXPECT_EQ(remove(manager), std::nullopt);
            EXPECT_EQ(store.status(*manager), step.status);
        } else {
            await<bool>([&](auto done) {
                queue_.async([&, done] {
                    act();
                    done(true);
                });
            });
        }
        if (&step == steps) {
            here.observeStatusChanges(*mine, [&] {
                EXPECT_EQ(std::this_thread::get_id(), loop_.get_id());
                ++runs;
            });
        }
        SCOPED_TRACE(static_cast<int>(step.status));
        EXPECT_TRUE(eventually([&] { return here.status(*mine) == step.status && runs > seen; }));
        EXPECT_TRUE(eventually([&] { return elsewhere.status(*theirs) == step.status; }));
        seen = runs;
    }
}

// Whoever deletes or replaces the store file may signal nothing: an observer
// still hears of it, and what is no longer in the file at the path is down.
TEST_F(SqliteVPNStoreTest, AnObserverHearsThatItsStoreFileWasReplacedOrDeleted) {
    for (const bool replaced : {false, true}) {
        const std::string path = dir_ / (replaced ? "replaced.db" : "deleted.db");
        ASSERT_EQ(save(tunnel(makeStore(path))), std::nullopt);
        SqliteVPNStore& here = makeStore(path);
        ManagerRef mine = loadAll(here).value().at(0);
        ASSERT_EQ(here.startTunnel(*mine), std::nullopt);
        std::atomic<int> runs{0};
        here.observeStatusChanges(*mine, [&] { ++runs; });
        for (const char* suffix : {"", "-wal", "-shm"}) {
            fs::remove(path + suffix);
        }
        if (replaced) {  // by a store with no configurations
            ASSERT_TRUE(loadAll(makeStore(path + ".new")).ok());
            runSql(path + ".new", "PRAGMA wal_checkpoint(TRUNCATE)");
            fs::rename(path + ".new", path);
        }
        EXPECT_TRUE(eventually([&] { return runs > 0; })) << path;
        EXPECT_EQ(here.status(*mine), VPNStatus::invalid) << path;
        EXPECT_FALSE(std::get<TunnelProviderProtocol>(mine->protocolConfiguration).providerConfiguration.hasValue());
    }
}

// Configurations of other kinds come back as they went in; what cannot be
// stored or written is refused with the reason, and the store stays as it was.
TEST_F(SqliteVPNStoreTest, KeepsEveryKindOfConfigurationAndReportsWhatCannotBeWritten) {
    SqliteVPNStore& store = makeStore();
    ManagerRef other = store.makeManager();
    other->protocolConfiguration = OtherProtocol{"ikev2"};
    ManagerRef none = store.makeManager();
    ManagerRef badText = tunnel(store);
    std::get<TunnelProviderProtocol>(badText->protocolConfiguration).providerConfiguration =
        ProviderConfiguration{{"privateKey", "\xFF"}};
    ASSERT_EQ(save(other), std::nullopt);
    ASSERT_EQ(save(none), std::nullopt);
    EXPECT_EQ(save(badText), Error{"the provider configuration holds text that is not valid UTF-8"});
    EXPECT_EQ(save(std::make_shared<TunnelProviderManager>(store)), Error{"the configuration is not one of this store"});
    const std::vector<ManagerRef> loaded = loadAll(makeStore()).value();
    ASSERT_EQ(loaded.size(), 2U);
    EXPECT_EQ(std::get<OtherProtocol>(loaded[0]->protocolConfiguration).kind, "ikev2");
    EXPECT_TRUE(std::holds_alternative<NoProtocol>(loaded[1]->protocolConfiguration));

    ManagerRef home = tunnel(store);
    ASSERT_EQ(save(home), std::nullopt);
    ASSERT_EQ(store.startTunnel(*home), std::nullopt);
    runSql(path_, "CREATE TRIGGER no_update BEFORE UPDATE ON configurations BEGIN SELECT RAISE(ABORT, 'refused'); END;"
                  "CREATE TRIGGER no_delete BEFORE DELETE ON configurations WHEN OLD.protocol = 'none'"
                  " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    const Error refused{"the VPN configuration store at " + path_ + " cannot be written: refused"};
    EXPECT_EQ(store.stopTunnel(*home), refused);
    EXPECT_EQ(save(home), refused);
    EXPECT_EQ(store.status(*home), VPNStatus::connected);
    // Removals requested together, the refused one between the others: it undoes neither.
    const std::vector<ManagerRef> all = loadAll(store).value();
    std::vector<std::promise<Outcome>> removals(all.size());
    queue_.async([&] {
        for (std::size_t i = 0; i < all.size(); ++i) {
            all[i]->removeFromPreferences([&removals, i](Outcome result) { removals[i].set_value(std::move(result)); });
        }
    });
    ASSERT_TRUE(all.size() == 3U && std::holds_alternative<NoProtocol>(all[1]->protocolConfiguration));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(removals[i].get_future().get(), i == 1 ? Outcome(refused) : std::nullopt) << i;
    }
    EXPECT_EQ(loadAll(makeStore()).value().size(), 1U);
}

// Whatever the umask, the store's folders are made 0700 and its files 0600.
TEST_F(SqliteVPNStoreTest, MakesFoldersAndFilesOwnerOnly) {
    for (const mode_t mask : {0000, 0277}) {
        fs::remove_all(dir_ / "state");
        const mode_t before = ::umask(mask);
        SqliteVPNStore& store = makeStore();
        ManagerRef home = tunnel(store);
        const bool saved = !save(home).has_value() && !store.startTunnel(*home).has_value();
        ::umask(before);
        ASSERT_TRUE(saved);
        for (const std::string& path : {dir_ / "state", dir_ / "state/vexomi", path_, path_ + "-wal",
                                        path_ + "-shm", path_ + "-events"}) {
            EXPECT_EQ(fs::status(path).permissions(), fs::perms(fs::is_directory(path) ? 0700 : 0600))
                << path << " " << mask;
        }
    }
}

TEST(StoreFileTest, NoPathNamesTheMissingHomeFolder) {
    try {
        openStoreFile("");
        ADD_FAILURE() << "opened";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.error.localizedDescription, "the VPN configuration store at  cannot be opened: there is no home"
                                                      " folder to keep it in; set VXM_STORE to its path");
    }
}

// Another process setting up the file holds its write lock while this one
// switches it to write-ahead logging, which SQLite reports as busy without
// waiting: the open waits it out.
TEST(StoreFileTest, OpenWaitsForAStoreThatAnotherProcessIsSettingUp) {
    const vxm::testing::TempFolder dir;
    const std::string path = dir / "store.db";
    openStoreFile(path);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA journal_mode = DELETE; BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([&] {
        std::this_thread::sleep_for(200ms);
        sqlite3_close_v2(other);
    });
    EXPECT_NO_THROW(openStoreFile(path));
    release.join();
}

}  // namespace
}  // namespace vxm::platform
