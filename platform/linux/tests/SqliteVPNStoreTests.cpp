#include "platform/linux/SqliteVPNStore.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/linux/StatusSignal.h"
#include "platform/linux/tests/TestSupport.h"

namespace vxm::platform {
namespace {

using namespace std::chrono_literals;
using support::awaitValue;
using support::readBytes;
using support::RunningQueue;
using support::TempDir;
using support::writeBytes;

std::optional<Error> saveNow(const ManagerRef& manager) {
    std::promise<std::optional<Error>> done;
    manager->saveToPreferences([&done](std::optional<Error> error) { done.set_value(std::move(error)); });
    return awaitValue(done.get_future());
}

std::optional<Error> reloadNow(const ManagerRef& manager) {
    std::promise<std::optional<Error>> done;
    manager->loadFromPreferences([&done](std::optional<Error> error) { done.set_value(std::move(error)); });
    return awaitValue(done.get_future());
}

std::optional<Error> removeNow(const ManagerRef& manager) {
    std::promise<std::optional<Error>> done;
    manager->removeFromPreferences([&done](std::optional<Error> error) { done.set_value(std::move(error)); });
    return awaitValue(done.get_future());
}

Result<std::vector<ManagerRef>> loadAllNow(VPNConfigurationStore& store) {
    std::promise<Result<std::vector<ManagerRef>>> done;
    store.loadAllFromPreferences([&done](Result<std::vector<ManagerRef>> result) { done.set_value(std::move(result)); });
    return awaitValue(done.get_future());
}

ManagerRef tunnel(VPNConfigurationStore& store, const std::string& name, bool enabled = true) {
    ManagerRef manager = store.makeManager();
    manager->localizedDescription = name;
    manager->protocolConfiguration = TunnelProviderProtocol{
        "com.vexomi.client.tunnel", "198.51.100.1:51820",
        ProviderConfiguration{{"privateKey", "cHJpdmF0ZQ=="}, {"address", "10.0.0.2/32"}}};
    manager->isEnabled = enabled;
    return manager;
}

void expectSameConfiguration(const TunnelProviderManager& loaded, const TunnelProviderManager& saved) {
    EXPECT_EQ(loaded.storeKey, saved.storeKey);
    EXPECT_EQ(loaded.localizedDescription, saved.localizedDescription);
    EXPECT_EQ(loaded.protocolConfiguration, saved.protocolConfiguration);
    EXPECT_EQ(loaded.isEnabled, saved.isEnabled);
}

// The count of status changes signalled through the file beside the store,
// which holds it as its Gray code.
std::uint64_t signalCount(const std::string& storePath) {
    const std::string bytes = readBytes(storePath + "-events");
    std::uint64_t count = 0;
    std::memcpy(&count, bytes.data(), std::min(bytes.size(), sizeof count));
    for (int shift = 1; shift < 64; shift <<= 1) {
        count ^= count >> shift;
    }
    return count;
}

// Runs SQL on the store file through a connection of its own, as another
// program (or the owner at a shell) would.
void runSql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The first column of the first row that `sql` yields on the store file, as
// text ("NULL" for none).
std::string querySql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string first;
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "NULL";
            return 0;
        },
        &first, nullptr);
    sqlite3_close(db);
    return first;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class SqliteVPNStoreTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Stores are destroyed with the loop stopped, as their watches require.
        running_.stop();
    }

    // Another store on the same file, as another process has.
    SqliteVPNStore& makeStore(const std::string& path = {}) {
        stores_.push_back(std::make_unique<SqliteVPNStore>(running_.queue, path.empty() ? path_ : path));
        return *stores_.back();
    }

    TempDir dir_;
    std::string path_ = dir_ / "state/vexomi/vpn-configurations.db";
    RunningQueue running_;
    std::vector<std::unique_ptr<SqliteVPNStore>> stores_;
};

TEST_F(SqliteVPNStoreTest, KeepsEveryPropertyInTheOrderOfFirstSave) {
    SqliteVPNStore& store = makeStore();
    ManagerRef other = store.makeManager();
    other->localizedDescription = "Office";
    other->protocolConfiguration = OtherProtocol{"ikev2"};
    other->isEnabled = true;
    ManagerRef full = store.makeManager();
    full->localizedDescription = "Vexomi \xE2\x80\x94 h\xC3\xB6me";
    full->protocolConfiguration = TunnelProviderProtocol{
        "com.vexomi.client.tunnel", "198.51.100.1:51820",
        ProviderConfiguration{{"privateKey", "k"},
                              {"mtu", 1420},
                              {"offset", -3},
                              {"ratio", 0.25},
                              {"on", true},
                              {"nothing", nullptr},
                              {"list", nlohmann::json::array({1, "two"})},
                              {"nested", {{"a", {{"b", "c"}}}}}}};
    ManagerRef bare = store.makeManager();
    ManagerRef emptyProvider = store.makeManager();
    emptyProvider->protocolConfiguration = TunnelProviderProtocol{};

    for (const ManagerRef& manager : {other, full, bare, emptyProvider}) {
        ASSERT_EQ(saveNow(manager), std::nullopt);
        ASSERT_TRUE(manager->storeKey.has_value());
    }
    // A later save updates in place and keeps the configuration's place.
    other->localizedDescription = "Office (renamed)";
    ASSERT_EQ(saveNow(other), std::nullopt);

    // Another program damaged one: it loads with none, and keeps its text.
    const std::string damaged = R"({"address":"10.0.0.2)";
    runSql(path_, ("UPDATE configurations SET provider_configuration = '" + damaged + "' WHERE key = " +
                   std::to_string(*emptyProvider->storeKey))
                      .c_str());

    Result<std::vector<ManagerRef>> loaded = loadAllNow(makeStore());
    ASSERT_TRUE(loaded.ok()) << loaded.error().localizedDescription;
    ASSERT_EQ(loaded.value().size(), 4U);
    expectSameConfiguration(*loaded.value()[0], *other);
    expectSameConfiguration(*loaded.value()[1], *full);
    expectSameConfiguration(*loaded.value()[2], *bare);
    expectSameConfiguration(*loaded.value()[3], *emptyProvider);
    const auto& values = *std::get<TunnelProviderProtocol>(loaded.value()[1]->protocolConfiguration).providerConfiguration.get();
    EXPECT_TRUE(values.at("mtu").is_number_integer());
    EXPECT_TRUE(values.at("nothing").is_null());
    ASSERT_EQ(saveNow(loaded.value()[3]), std::nullopt);
    EXPECT_EQ(querySql(path_, "SELECT provider_configuration FROM configurations WHERE key = " +
                                  std::to_string(*emptyProvider->storeKey)),
              damaged);
}

TEST_F(SqliteVPNStoreTest, ReloadRefreshesEveryPropertyAndFailsForWhatIsNotStored) {
    SqliteVPNStore& store = makeStore();
    ManagerRef unsaved = tunnel(store, "Vexomi \xE2\x80\x94 new");
    EXPECT_EQ(reloadNow(unsaved), Error{"the configuration is not saved"});
    EXPECT_EQ(removeNow(unsaved), std::nullopt) << "not stored: as removed as it can be";

    ManagerRef mine = tunnel(store, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(mine), std::nullopt);
    // Another process changes it; a reload here sees every change.
    ManagerRef theirs = loadAllNow(makeStore()).value().at(0);
    theirs->localizedDescription = std::nullopt;
    theirs->protocolConfiguration = OtherProtocol{"l2tp"};
    theirs->isEnabled = false;
    ASSERT_EQ(saveNow(theirs), std::nullopt);
    ASSERT_EQ(reloadNow(mine), std::nullopt);
    expectSameConfiguration(*mine, *theirs);

    ASSERT_EQ(removeNow(theirs), std::nullopt);
    const Error gone{"the configuration is no longer in the store"};
    EXPECT_EQ(removeNow(theirs), std::nullopt) << "removed meanwhile: as removed as it can be";
    EXPECT_EQ(store.stopTunnel(*mine), std::nullopt);
    EXPECT_EQ(reloadNow(mine), gone);
    EXPECT_EQ(saveNow(mine), gone);
    EXPECT_TRUE(loadAllNow(store).value().empty());
}

TEST_F(SqliteVPNStoreTest, StartAndStopMoveTheStatusThatEveryStoreReadsLive) {
    SqliteVPNStore& store = makeStore();
    ManagerRef unsaved = tunnel(store, "Vexomi \xE2\x80\x94 new");
    EXPECT_EQ(store.startTunnel(*unsaved), Error{"the configuration is not saved"});
    EXPECT_EQ(store.stopTunnel(*unsaved), std::nullopt);
    EXPECT_EQ(store.status(*unsaved), VPNStatus::invalid);

    ManagerRef disabled = tunnel(store, "Vexomi \xE2\x80\x94 off", false);
    ASSERT_EQ(saveNow(disabled), std::nullopt);
    EXPECT_EQ(store.startTunnel(*disabled), Error{"the configuration is not enabled"});
    EXPECT_EQ(store.status(*disabled), VPNStatus::disconnected);

    ManagerRef home = tunnel(store, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(home), std::nullopt);
    SqliteVPNStore& elsewhere = makeStore();
    ManagerRef homeElsewhere = loadAllNow(elsewhere).value().at(1);
    EXPECT_EQ(elsewhere.status(*homeElsewhere), VPNStatus::disconnected);

    EXPECT_EQ(store.startTunnel(*home), std::nullopt);
    EXPECT_EQ(store.status(*home), VPNStatus::connected);
    EXPECT_EQ(elsewhere.status(*homeElsewhere), VPNStatus::connected);
    ASSERT_EQ(elsewhere.setStatus(*homeElsewhere, VPNStatus::reasserting), std::nullopt);
    EXPECT_EQ(store.status(*home), VPNStatus::reasserting);
    EXPECT_EQ(store.stopTunnel(*home), std::nullopt);
    EXPECT_EQ(elsewhere.status(*homeElsewhere), VPNStatus::disconnected);

    ASSERT_EQ(removeNow(home), std::nullopt);
    EXPECT_EQ(elsewhere.status(*homeElsewhere), VPNStatus::invalid);
    EXPECT_EQ(elsewhere.stopTunnel(*homeElsewhere), std::nullopt);
    EXPECT_EQ(elsewhere.setStatus(*homeElsewhere, VPNStatus::connected),
              Error{"the configuration is no longer in the store"});
}

// A stop writes nothing for a configuration last read as down; one that
// another process brought up since, or moved to any other state that is not
// down, must still go down.
TEST_F(SqliteVPNStoreTest, StopReachesATunnelBroughtUpElsewhereSinceTheLastRead) {
    SqliteVPNStore& store = makeStore();
    ManagerRef home = tunnel(store, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(home), std::nullopt);
    SqliteVPNStore& elsewhere = makeStore();
    for (const VPNStatus up : {VPNStatus::connected, VPNStatus::connecting, VPNStatus::reasserting,
                               VPNStatus::disconnecting}) {
        ManagerRef loaded = loadAllNow(store).value().at(0);
        ASSERT_EQ(store.status(*loaded), VPNStatus::disconnected);
        ManagerRef theirs = loadAllNow(elsewhere).value().at(0);
        ASSERT_EQ(elsewhere.setStatus(*theirs, up), std::nullopt);
        EXPECT_EQ(store.stopTunnel(*loaded), std::nullopt);
        EXPECT_EQ(elsewhere.status(*theirs), VPNStatus::disconnected) << static_cast<int>(up);
    }

    // A stop whose write fails says so; one of a tunnel that is down still
    // writes nothing, so nothing fails.
    runSql(path_, "CREATE TRIGGER held BEFORE UPDATE OF status ON configurations"
                  " WHEN new.status = 1 BEGIN SELECT RAISE(ABORT, 'held by a trigger'); END");
    ManagerRef theirs = loadAllNow(elsewhere).value().at(0);
    ASSERT_EQ(elsewhere.setStatus(*theirs, VPNStatus::connected), std::nullopt);
    ManagerRef up = loadAllNow(store).value().at(0);
    EXPECT_EQ(store.stopTunnel(*up),
              Error{"the VPN configuration store at " + path_ + " cannot be written: held by a trigger"});
    runSql(path_, "DROP TRIGGER held");
    ASSERT_EQ(store.stopTunnel(*up), std::nullopt);
    runSql(path_, "CREATE TRIGGER held BEFORE UPDATE ON configurations BEGIN SELECT RAISE(ABORT, 'held'); END");
    EXPECT_EQ(store.stopTunnel(*up), std::nullopt);
}

// Every run of the tool reads back the whole write-ahead log when it opens
// the store, so the log is folded into the file long before SQLite's usual
// thousand pages.
TEST_F(SqliteVPNStoreTest, ManyCommitsKeepTheWriteAheadLogShort) {
    SqliteVPNStore& store = makeStore();
    ManagerRef home = tunnel(store, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(home), std::nullopt);
    for (int change = 0; change < 300; ++change) {
        ASSERT_EQ(store.setStatus(*home, change % 2 == 0 ? VPNStatus::connected : VPNStatus::disconnected),
                  std::nullopt);
    }
    constexpr std::uintmax_t kPageWithHeader = 4096 + 24;
    EXPECT_LT(std::filesystem::file_size(path_ + "-wal"), 100 * kPageWithHeader);
    EXPECT_EQ(store.status(*home), VPNStatus::disconnected);
}

TEST_F(SqliteVPNStoreTest, CompletesOnTheMainQueueAfterTheRequestHasReturned) {
    SqliteVPNStore& store = makeStore();
    ManagerRef home = tunnel(store, "Vexomi \xE2\x80\x94 home");
    std::promise<std::pair<std::thread::id, bool>> done;
    running_.queue.async([&] {
        auto returned = std::make_shared<bool>(false);
        home->saveToPreferences([&done, returned](const std::optional<Error>&) {
            done.set_value({std::this_thread::get_id(), *returned});
        });
        *returned = true;
        // The completion runs in a later main-queue task, after this one.
        running_.queue.async([] {});
    });
    const auto [thread, afterReturn] = awaitValue(done.get_future());
    EXPECT_EQ(thread, running_.threadId());
    EXPECT_TRUE(afterReturn);

    // Requested from another thread, it completes on the main queue all the same.
    std::promise<std::thread::id> loaded;
    store.loadAllFromPreferences([&](const Result<std::vector<ManagerRef>>&) { loaded.set_value(std::this_thread::get_id()); });
    EXPECT_EQ(awaitValue(loaded.get_future()), running_.threadId());
}

// Removals requested back to back each commit on their own: one that fails
// undoes none of the others, and each completion reports its own result.
TEST_F(SqliteVPNStoreTest, EachRemovalCommitsOnItsOwnAndReportsItsOwnResult) {
    SqliteVPNStore& store = makeStore();
    std::vector<ManagerRef> managers;
    for (int i = 0; i < 3; ++i) {
        managers.push_back(tunnel(store, "Vexomi \xE2\x80\x94 site " + std::to_string(i)));
        ASSERT_EQ(saveNow(managers.back()), std::nullopt);
    }
    runSql(path_, "CREATE TRIGGER kept BEFORE DELETE ON configurations WHEN old.display_name LIKE '%site 1'"
                  " BEGIN SELECT RAISE(ABORT, 'kept by a trigger'); END");
    const std::uint64_t signalsBefore = signalCount(path_);
    std::promise<std::vector<std::optional<Error>>> done;
    running_.queue.async([&] {
        auto results = std::make_shared<std::vector<std::optional<Error>>>(managers.size());
        auto left = std::make_shared<std::size_t>(managers.size());
        for (std::size_t i = 0; i < managers.size(); ++i) {
            managers[i]->removeFromPreferences([&, results, left, i](std::optional<Error> error) {
                (*results)[i] = std::move(error);
                if (--*left == 0) {
                    done.set_value(*results);
                }
            });
        }
    });
    const std::optional<Error> kept =
        Error{"the VPN configuration store at " + path_ + " cannot be written: kept by a trigger"};
    EXPECT_EQ(awaitValue(done.get_future()), (std::vector<std::optional<Error>>{std::nullopt, kept, std::nullopt}));
    // Each commit is signalled.
    EXPECT_EQ(signalCount(path_), signalsBefore + 2);
    std::vector<ManagerRef> left = loadAllNow(store).value();
    ASSERT_EQ(left.size(), 1U);
    EXPECT_EQ(left[0]->storeKey, managers[1]->storeKey);
}

TEST_F(SqliteVPNStoreTest, NeverTouchesTheFileSystemBeforeAnOperationNeedsTheStore) {
    SqliteVPNStore& store = makeStore();
    ManagerRef unsaved = tunnel(store, "Vexomi \xE2\x80\x94 new");
    EXPECT_EQ(store.status(*unsaved), VPNStatus::invalid);
    store.stopTunnel(*unsaved);
    EXPECT_TRUE(store.startTunnel(*unsaved).has_value());
    store.observeStatusChanges(*unsaved, [] {});
    EXPECT_FALSE(std::filesystem::exists(dir_ / "state"));
}

TEST_F(SqliteVPNStoreTest, MakesFoldersAndFilesOwnerOnlyWhateverTheUmask) {
    const mode_t umaskBefore = ::umask(0);
    SqliteVPNStore& store = makeStore();
    ManagerRef home = tunnel(store, "Vexomi \xE2\x80\x94 home");
    const std::optional<Error> saved = saveNow(home);
    const std::optional<Error> started = store.startTunnel(*home);
    ::umask(umaskBefore);
    ASSERT_EQ(saved, std::nullopt);
    ASSERT_EQ(started, std::nullopt);
    auto modeOf = [](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
        return status.st_mode & 07777;
    };
    EXPECT_EQ(modeOf(dir_ / "state"), 0700U);
    EXPECT_EQ(modeOf(dir_ / "state/vexomi"), 0700U);
    for (const char* suffix : {"", "-wal", "-shm", "-events"}) {
        EXPECT_EQ(modeOf(path_ + suffix), 0600U) << suffix;
    }
}

TEST_F(SqliteVPNStoreTest, FailsOnEveryOperationAndLeavesAFileThatIsNotOursAsItWas) {
    auto makeForeignDatabase = [](const std::string& path, const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    std::filesystem::create_directories(dir_ / "state/vexomi");
    const std::vector<std::function<void()>> makeFile = {
        [&] { writeBytes(path_, std::string(5000, '\x7f') + "corrupt"); },
        [&] { writeBytes(path_, "{}"); },
        [&] { makeForeignDatabase(path_, "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('mine');"); },
        // Another program's database with no tables yet is not ours to fill.
        [&] { makeForeignDatabase(path_, "PRAGMA user_version = 7;"); },
    };
    for (const auto& make : makeFile) {
        std::filesystem::remove(path_);
        make();
        const std::string before = readBytes(path_);
        SqliteVPNStore& store = makeStore();
        const Error expected{"the VPN configuration store at " + path_ +
                             " cannot be opened: the file there is not a Vexomi VPN configuration store"};
        Result<std::vector<ManagerRef>> loaded = loadAllNow(store);
        ASSERT_FALSE(loaded.ok());
        EXPECT_EQ(loaded.error(), expected);
        ManagerRef manager = tunnel(store, "Vexomi \xE2\x80\x94 home");
        EXPECT_EQ(saveNow(manager), expected);
        manager->storeKey = 1;
        EXPECT_EQ(store.startTunnel(*manager), expected);
        EXPECT_EQ(store.status(*manager), VPNStatus::invalid);
        EXPECT_EQ(readBytes(path_), before);
        for (const char* suffix : {"-wal", "-shm", "-journal", "-events"}) {
            EXPECT_FALSE(std::filesystem::exists(path_ + suffix)) << suffix;
        }
    }
}

TEST_F(SqliteVPNStoreTest, SaysWhyAStoreCannotBeMade) {
    writeBytes(dir_ / "state", "a file where the folder should be");
    Result<std::vector<ManagerRef>> loaded = loadAllNow(makeStore());
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error().localizedDescription,
              "the VPN configuration store at " + path_ + " cannot be opened: cannot create the folder " +
                  (dir_ / "state") + ": Not a directory");

    // A value that cannot be stored is not quoted in the error.
    SqliteVPNStore& store = makeStore(dir_ / "other.db");
    ManagerRef manager = tunnel(store, "Vexomi \xE2\x80\x94 home");
    std::get<TunnelProviderProtocol>(manager->protocolConfiguration).providerConfiguration =
        ProviderConfiguration{{"privateKey", "secret\xFF"}};
    const std::optional<Error> error = saveNow(manager);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription.find("secret"), std::string::npos) << error->localizedDescription;
}

TEST_F(SqliteVPNStoreTest, ObserversHearStatusChangesMadeByAnyStoreOfTheFile) {
    SqliteVPNStore& here = makeStore();
    SqliteVPNStore& there = makeStore();
    ASSERT_EQ(saveNow(tunnel(there, "Vexomi \xE2\x80\x94 home")), std::nullopt);
    ASSERT_EQ(saveNow(tunnel(there, "Vexomi \xE2\x80\x94 work")), std::nullopt);
    std::vector<ManagerRef> mine = loadAllNow(here).value();
    std::vector<ManagerRef> theirs = loadAllNow(there).value();

    std::atomic<int> runs{0};
    std::atomic<bool> offMainQueue{false};
    mine[0]->connection().observeStatusChanges([&] {
        offMainQueue = offMainQueue || std::this_thread::get_id() != running_.threadId();
        ++runs;
    });
    // Another configuration's change does not run the block.
    ASSERT_EQ(there.startTunnel(*theirs[1]), std::nullopt);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(runs, 0);

    int seen = 0;
    const std::vector<std::function<void()>> changes = {
        [&] { ASSERT_EQ(there.startTunnel(*theirs[0]), std::nullopt); },
        [&] { there.stopTunnel(*theirs[0]); },
        [&] { here.stopTunnel(*mine[1]); here.startTunnel(*mine[0]); },  // made in the observing store
        [&] { ASSERT_EQ(removeNow(theirs[0]), std::nullopt); },
    };
    for (const auto& change : changes) {
        change();
        EXPECT_TRUE(eventually([&] { return runs > seen; })) << "change " << seen;
        seen = runs;
    }
    EXPECT_FALSE(offMainQueue);
}

TEST_F(SqliteVPNStoreTest, AnObserverHearsAChangeMadeBetweenItsLastReadAndItsRegistration) {
    SqliteVPNStore& here = makeStore();
    SqliteVPNStore& there = makeStore();
    ManagerRef theirs = tunnel(there, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(theirs), std::nullopt);
    ASSERT_EQ(there.startTunnel(*theirs), std::nullopt);
    ManagerRef mine = loadAllNow(here).value().at(0);
    ASSERT_EQ(here.status(*mine), VPNStatus::connected);

    there.stopTunnel(*theirs);
    std::atomic<int> runs{0};
    here.observeStatusChanges(*mine, [&] { ++runs; });
    EXPECT_TRUE(eventually([&] { return runs > 0; }));
}

// Whoever deletes or replaces the store file may signal nothing: an observer
// still hears of it, and what is no longer in the file at the path is down.
TEST_F(SqliteVPNStoreTest, AnObserverHearsThatItsStoreFileWasReplacedOrDeleted) {
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> cases = {
        {"deleted", [](const std::string& path) {
             for (const char* suffix : {"", "-wal", "-shm"}) {
                 std::filesystem::remove(path + suffix);
             }
         }},
        {"replaced", [this](const std::string& path) {
             const std::string other = path + ".new";
             // A store with no configurations: the one observed is gone.
             ASSERT_TRUE(loadAllNow(makeStore(other)).ok());
             runSql(other, "PRAGMA wal_checkpoint(TRUNCATE)");
             for (const char* suffix : {"-wal", "-shm"}) {
                 std::filesystem::remove(path + suffix);
             }
             std::filesystem::rename(other, path);
         }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        const std::string path = dir_ / (std::string(what) + ".db");
        SqliteVPNStore& there = makeStore(path);
        ManagerRef theirs = tunnel(there, "Vexomi \xE2\x80\x94 home");
        ASSERT_EQ(saveNow(theirs), std::nullopt);
        ASSERT_EQ(there.startTunnel(*theirs), std::nullopt);
        SqliteVPNStore& here = makeStore(path);
        ManagerRef mine = loadAllNow(here).value().at(0);
        ASSERT_EQ(here.status(*mine), VPNStatus::connected);
        std::atomic<int> runs{0};
        here.observeStatusChanges(*mine, [&] { ++runs; });

        change(path);
        EXPECT_TRUE(eventually([&] { return runs > 0; }));
        EXPECT_EQ(here.status(*mine), VPNStatus::invalid);
        EXPECT_FALSE(std::get<TunnelProviderProtocol>(mine->protocolConfiguration).providerConfiguration.hasValue());
        EXPECT_EQ(std::filesystem::exists(path), std::string(what) == "replaced");
    }
}

// After a save that replaced a private key, or a removal, neither the store
// file nor its write-ahead log holds a copy of the old key.
TEST_F(SqliteVPNStoreTest, NoCopyOfAReplacedOrRemovedKeyStaysInTheStoreFiles) {
    SqliteVPNStore& store = makeStore();
    // Another store on the file, with the list loaded, as a concurrent run has.
    ASSERT_TRUE(loadAllNow(makeStore()).ok());
    auto withKey = [&](const std::string& key) {
        ManagerRef manager = tunnel(store, "Vexomi \xE2\x80\x94 home");
        std::get<TunnelProviderProtocol>(manager->protocolConfiguration).providerConfiguration =
            ProviderConfiguration{{"privateKey", key}, {"address", "10.0.0.2/32"}};
        return manager;
    };
    auto heldInFiles = [&](const std::string& key) {
        return readBytes(path_).find(key) != std::string::npos ||
               readBytes(path_ + "-wal").find(key) != std::string::npos;
    };
    const std::string first = "Zmlyc3Qta2V5LXRoYXQtaXMtcmVwbGFjZWQ=";
    const std::string second = "c2Vjb25kLWtleS10aGF0LWlzLXJlbW92ZWQ=";
    ManagerRef home = withKey(first);
    ASSERT_EQ(saveNow(home), std::nullopt);
    ASSERT_EQ(saveNow(withKey("padding")), std::nullopt);  // a neighbour on the same page
    ASSERT_TRUE(heldInFiles(first));

    ManagerRef replaced = withKey(second);
    replaced->storeKey = home->storeKey;
    ASSERT_EQ(saveNow(replaced), std::nullopt);
    EXPECT_FALSE(heldInFiles(first));
    ASSERT_TRUE(heldInFiles(second));

    ASSERT_EQ(removeNow(replaced), std::nullopt);
    EXPECT_FALSE(heldInFiles(second));
    EXPECT_EQ(loadAllNow(store).value().size(), 1U);
}

TEST_F(SqliteVPNStoreTest, ManyWritersAtOnceOnANewFileAllSucceed) {
    constexpr int kWriters = 4;
    constexpr int kSavesEach = 25;
    std::vector<std::unique_ptr<RunningQueue>> loops;
    std::vector<std::unique_ptr<SqliteVPNStore>> stores;
    for (int i = 0; i < kWriters; ++i) {
        loops.push_back(std::make_unique<RunningQueue>());
        stores.push_back(std::make_unique<SqliteVPNStore>(loops.back()->queue, path_));
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    writers.reserve(kWriters);
    for (int i = 0; i < kWriters; ++i) {
        writers.emplace_back([&, i] {
            for (int n = 0; n < kSavesEach; ++n) {
                ManagerRef manager = tunnel(*stores[static_cast<std::size_t>(i)],
                                            "Vexomi \xE2\x80\x94 " + std::to_string(i) + "-" + std::to_string(n));
                std::optional<Error> error = saveNow(manager);
                if (!error) {
                    error = manager->connection().startVPNTunnel();
                }
                if (error) {
                    ++failures;
                    ADD_FAILURE() << error->localizedDescription;
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(loadAllNow(makeStore()).value().size(), static_cast<std::size_t>(kWriters * kSavesEach));
    for (auto& loop : loops) {
        loop->stop();
    }
}

TEST_F(SqliteVPNStoreTest, ANewConfigurationSavedAfterAnotherStoredOneOfTheSameNameJoinsIt) {
    SqliteVPNStore& here = makeStore();
    SqliteVPNStore& there = makeStore();
    // Both look for the site and find nothing, then both make it.
    ASSERT_TRUE(loadAllNow(here).value().empty());
    ASSERT_TRUE(loadAllNow(there).value().empty());
    ManagerRef theirs = tunnel(there, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(theirs), std::nullopt);
    ManagerRef mine = tunnel(here, "Vexomi \xE2\x80\x94 home");
    std::get<TunnelProviderProtocol>(mine->protocolConfiguration).serverAddress = "203.0.113.9:51820";
    ASSERT_EQ(saveNow(mine), std::nullopt);
    EXPECT_EQ(mine->storeKey, theirs->storeKey);
    std::vector<ManagerRef> stored = loadAllNow(makeStore()).value();
    ASSERT_EQ(stored.size(), 1U);
    expectSameConfiguration(*stored[0], *mine);

    // One stored before the load, or of another provider, is a configuration
    // of its own: that is for whoever looks it up by name to find.
    ASSERT_EQ(loadAllNow(here).value().size(), 1U);
    ManagerRef again = tunnel(here, "Vexomi \xE2\x80\x94 home");
    ASSERT_EQ(saveNow(again), std::nullopt);
    ManagerRef foreign = tunnel(there, "Vexomi \xE2\x80\x94 office");
    ASSERT_EQ(saveNow(foreign), std::nullopt);
    ManagerRef other = tunnel(here, "Vexomi \xE2\x80\x94 office");
    std::get<TunnelProviderProtocol>(other->protocolConfiguration).providerBundleIdentifier = "org.example.tunnel";
    ASSERT_EQ(saveNow(other), std::nullopt);
    EXPECT_EQ(loadAllNow(makeStore()).value().size(), 4U);
}

// The counter file beside the store, truncated, replaced by a copy of its
// bytes or removed by someone: each counts as a change to a reader that looks
// again without a watch (as one does that polls), which then hears of the
// next signal of another process, wherever that one finds the file.
TEST(StatusSignalTest, FollowsItsFileThroughTruncationReplacementAndRemoval) {
    TempDir dir;
    const std::string store = dir / "store.db";
    const std::string events = store + "-events";
    StatusSignal here;
    StatusSignal there;
    here.open(store);
    there.open(store);
    const std::vector<std::pair<const char*, std::function<void()>>> tamperings = {
        {"truncated", [&] { std::filesystem::resize_file(events, 0); }},
        {"replaced",
         [&] {
             writeBytes(dir / "copy", readBytes(events));
             std::filesystem::rename(dir / "copy", events);
         }},
        {"removed", [&] { std::filesystem::remove(events); }},
    };
    for (const auto& [what, tamper] : tamperings) {
        there.raise();
        const std::int64_t before = here.stamp();
        tamper();
        std::this_thread::sleep_for(20ms);
        EXPECT_NE(here.stamp(), before) << what;
        there.raise();
        std::int64_t after = here.stamp();
        EXPECT_TRUE(eventually([&] {
            const std::int64_t previous = std::exchange(after, here.stamp());
            return previous == after;
        })) << what;
        there.raise();
        EXPECT_TRUE(eventually([&] { return here.stamp() != after; })) << what << ": the next signal is lost";
    }
}

}  // namespace
}  // namespace vxm::platform
