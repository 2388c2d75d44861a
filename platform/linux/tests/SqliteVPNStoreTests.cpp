#include "platform/linux/SqliteVPNStore.h"

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

#include "platform/linux/StoreFile.h"
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
    for (auto deadline = std::chrono::steady_clock::now() + 3s; !condition(); std::this_thread::sleep_for(1ms)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

ManagerRef tunnel(VPNConfigurationStore& store, const std::string& name = "Vexomi \xE2\x80\x94 home", bool on = true) {
    ManagerRef manager = store.makeManager();
    manager->localizedDescription = name;
    manager->protocolConfiguration = TunnelProviderProtocol{"com.vexomi.client.tunnel", "198.51.100.1:51820",
                                                            ProviderConfiguration{{"privateKey", "a2V5"}}};
    manager->isEnabled = on;
    return manager;
}

// Stores run on a main queue on a thread of the test's; each store on a file
// stands for another process. Every completion must come on that thread.
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

    vxm::testing::TempFolder dir_;
    std::string path_ = dir_ / "state/vexomi/vpn-configurations.db";
    AsioMainQueue queue_;
    std::thread loop_{[this] { queue_.run(); }};
    std::vector<std::unique_ptr<SqliteVPNStore>> stores_;
};

TEST_F(SqliteVPNStoreTest, KeepsEveryPropertyInTheOrderOfFirstSave) {
    SqliteVPNStore& store = makeStore();
    ManagerRef other = store.makeManager();
    other->protocolConfiguration = OtherProtocol{"ikev2"};
    ManagerRef full = tunnel(store, "Vexomi \xE2\x80\x94 h\xC3\xB6me");
    std::get<TunnelProviderProtocol>(full->protocolConfiguration).providerConfiguration =
        ProviderConfiguration{{"mtu", 1420}, {"none", nullptr}, {"nested", {{"a", {1.5, "\xE2\x80\x94\"\n"}}}}};
    const std::vector<ManagerRef> saved = {other, full, store.makeManager()};
    for (const ManagerRef& manager : saved) {
        ASSERT_EQ(save(manager), std::nullopt);
    }
    std::vector<ManagerRef> loaded = loadAll(makeStore()).value();
    ASSERT_EQ(loaded.size(), saved.size());
    for (std::size_t i = 0; i < saved.size(); ++i) {
        EXPECT_TRUE(loaded[i]->storeKey == saved[i]->storeKey && loaded[i]->isEnabled == saved[i]->isEnabled &&
                    loaded[i]->localizedDescription == saved[i]->localizedDescription &&
                    loaded[i]->protocolConfiguration == saved[i]->protocolConfiguration) << i;
    }
    // A value that cannot be stored is refused, and not quoted: it may be a key.
    std::get<TunnelProviderProtocol>(full->protocolConfiguration).providerConfiguration =
        ProviderConfiguration{{"privateKey", "secret\xFF"}};
    EXPECT_EQ(save(full), Error{"the provider configuration holds text that is not valid UTF-8"});
}

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
}

// Steps on one configuration made through this store or another one on the
// file: after each, both read the status it set, and an observer here runs.
TEST_F(SqliteVPNStoreTest, EveryStoreOfTheFileReadsStatusesLiveAndItsObserversHearEachChange) {
    enum Action { start, stop, set, removal };
    const struct {
        bool elsewhere;
        Action action;
        VPNStatus status;
    } steps[] = {
        // The observer comes after the first step but before this store read it: it hears of it all the same.
        {true, start, VPNStatus::connected},  {true, set, VPNStatus::reasserting}, {false, stop, VPNStatus::disconnected},
        // A stop reaches every state that is not down, however it was last read here.
        {true, set, VPNStatus::connecting},   {false, stop, VPNStatus::disconnected},
        {false, set, VPNStatus::disconnecting}, {true, stop, VPNStatus::disconnected},
        {true, removal, VPNStatus::invalid},
    };
    SqliteVPNStore& here = makeStore();
    SqliteVPNStore& elsewhere = makeStore();
    ManagerRef mine = tunnel(here);
    ASSERT_EQ(save(mine), std::nullopt);
    ManagerRef theirs = loadAll(elsewhere).value().at(0);
    ASSERT_EQ(here.status(*mine), VPNStatus::disconnected);
    std::atomic<int> runs{0};
    for (int seen = 0; const auto& step : steps) {
        SqliteVPNStore& store = step.elsewhere ? elsewhere : here;
        const ManagerRef& manager = step.elsewhere ? theirs : mine;
        EXPECT_EQ(step.action == start  ? store.startTunnel(*manager)
                  : step.action == stop ? store.stopTunnel(*manager)
                  : step.action == set  ? store.setStatus(*manager, step.status)
                                        : remove(manager),
                  std::nullopt);
        if (&step == steps) {
            here.observeStatusChanges(*mine, [&] {
                EXPECT_EQ(std::this_thread::get_id(), loop_.get_id());
                ++runs;
            });
        }
        EXPECT_EQ(here.status(*mine), step.status) << static_cast<int>(step.status);
        EXPECT_EQ(elsewhere.status(*theirs), step.status) << static_cast<int>(step.status);
        EXPECT_TRUE(eventually([&] { return runs > seen; })) << static_cast<int>(step.status);
        seen = runs;
    }
}

// A write that fails is reported, and undone: the store works on.
TEST_F(SqliteVPNStoreTest, AWriteThatFailsIsReportedAndTheStoreWorksOn) {
    SqliteVPNStore& store = makeStore();
    ManagerRef home = tunnel(store);
    ASSERT_EQ(save(home), std::nullopt);
    ASSERT_EQ(store.startTunnel(*home), std::nullopt);
    runSql(path_, "CREATE TRIGGER held BEFORE UPDATE OF status ON configurations BEGIN SELECT RAISE(ABORT, 'held');"
                  " END; CREATE TRIGGER kept BEFORE DELETE ON configurations BEGIN SELECT RAISE(ABORT, 'kept'); END");
    const std::string failed = "the VPN configuration store at " + path_ + " cannot be written: ";
    EXPECT_EQ(store.stopTunnel(*home), Error{failed + "held"});
    EXPECT_EQ(remove(home), Error{failed + "kept"});
    runSql(path_, "DROP TRIGGER held; DROP TRIGGER kept");
    EXPECT_EQ(store.stopTunnel(*home), std::nullopt);
    EXPECT_EQ(store.status(*home), VPNStatus::disconnected);
    EXPECT_EQ(remove(home), std::nullopt);
    EXPECT_TRUE(loadAll(store).value().empty());
}

// Whoever deletes or replaces the store file may signal nothing: an observer
// still hears of it, and what is no longer in the file at the path is down.
TEST_F(SqliteVPNStoreTest, AnObserverHearsThatItsStoreFileWasReplacedOrDeleted) {
    for (const bool replaced : {false, true}) {
        const std::string path = dir_ / (replaced ? "replaced.db" : "deleted.db");
        SqliteVPNStore& there = makeStore(path);
        ASSERT_EQ(save(tunnel(there)), std::nullopt);
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

// Whatever the umask, and whatever modes files restored from a backup have,
// the store's folders are 0700 and its files 0600 once it is opened.
TEST_F(SqliteVPNStoreTest, MakesFoldersAndFilesOwnerOnly) {
    const std::vector<std::string> paths = {dir_ / "state", dir_ / "state/vexomi", path_, path_ + "-wal",
                                            path_ + "-shm", path_ + "-events"};
    for (const mode_t mask : {0000, 0277, 0022}) {
        if (mask != 0022) {
            fs::remove_all(dir_ / "state");
        }
        for (std::size_t file = 2; mask == 0022 && file < paths.size(); ++file) {  // restored as 0644
            fs::permissions(paths[file], fs::perms(0644));
        }
        const mode_t before = ::umask(mask);
        SqliteVPNStore& store = makeStore();
        ManagerRef home = tunnel(store);
        const bool saved = !save(home).has_value() && !store.startTunnel(*home).has_value();
        ::umask(before);
        ASSERT_TRUE(saved);
        for (const std::string& path : paths) {
            EXPECT_EQ(fs::status(path).permissions(), fs::perms(fs::is_directory(path) ? 0700 : 0600)) << path << " " << mask;
        }
    }
}

// What stands at the path and is not a store of ours, or cannot be made one,
// fails every operation with the reason, and is left exactly as it was.
TEST_F(SqliteVPNStoreTest, FailsOnEveryOperationAndLeavesWhatIsNotOursAsItWas) {
    const struct {
        std::function<void()> make;
        std::string reason;
    } cases[] = {
        {[&] { runSql(path_, "CREATE TABLE notes (text TEXT)"); }, "the file there is not a Vexomi VPN configuration store"},
        {[&] { runSql(path_, "PRAGMA application_id = 1448627539; PRAGMA user_version = 2"); },
         "it was written by a newer version of Vexomi"},
        {[&] { fs::remove_all(dir_ / "state"), vxm::testing::writeBytes(dir_ / "state", "a file"); },
         "cannot create the folder " + (dir_ / "state") + ": Not a directory"},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir_ / "state");
        fs::create_directories(dir_ / "state/vexomi");
        c.make();
        const std::string before = vxm::testing::readBytes(path_);
        SqliteVPNStore& store = makeStore();
        const Error expected{"the VPN configuration store at " + path_ + " cannot be opened: " + c.reason};
        EXPECT_EQ(loadAll(store).error(), expected);
        ManagerRef manager = tunnel(store);
        EXPECT_EQ(save(manager), expected);
        manager->storeKey = 1;
        EXPECT_EQ(store.startTunnel(*manager), expected);
        EXPECT_EQ(vxm::testing::readBytes(path_), before);
        EXPECT_FALSE(fs::exists(path_ + "-wal") || fs::exists(path_ + "-events"));
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
