#include "platform/linux/StoreFile.h"

#include <array>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vxm::platform {

namespace {

constexpr int kBusyTimeoutMilliseconds = 10000;

constexpr const char* kSchema = R"sql(
CREATE TABLE configurations (
    key INTEGER PRIMARY KEY AUTOINCREMENT,
    display_name TEXT,
    protocol TEXT NOT NULL CHECK (protocol IN ('none', 'tunnel-provider', 'other')),
    other_protocol_kind TEXT,
    provider_bundle_identifier TEXT,
    server_address TEXT,
    provider_configuration TEXT,
    enabled INTEGER NOT NULL DEFAULT 0,
    status INTEGER NOT NULL DEFAULT 1,
    status_changes INTEGER NOT NULL DEFAULT 0
);
PRAGMA application_id = 1448627539;
PRAGMA user_version = 1;
)sql";
static_assert(kStoreApplicationId == 1448627539U);
static_assert(kStoreSchemaVersion == 1);

constexpr std::string_view kNotOurs = "the file there is not a Vexomi VPN configuration store";
constexpr std::string_view kNewer = "it was written by a newer version of Vexomi";

std::string describe(int error) { return std::generic_category().message(error); }

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Creates each missing folder of `folder` owner-only.
void createFolders(const std::string& folder) {
    if (isFolder(folder)) {
        return;
    }
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string prefix = folder.substr(0, end);
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            // mkdir's mode is narrowed by the umask; set it whole.
            ::chmod(prefix.c_str(), 0700);
        } else if (errno != EEXIST) {
            throw StoreOpenError("cannot create the folder " + prefix + ": " + describe(errno));
        } else if (!isFolder(prefix)) {
            throw StoreOpenError("cannot create the folder " + prefix + ": " + describe(ENOTDIR));
        }
        if (end == std::string::npos) {
            return;
        }
    }
}

// Creates the file owner-only if nothing stands at the path. SQLite creates
// its -wal and -shm files with the mode of the database file.
void createFileIfMissing(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        return;
    }
    if (fd < 0) {
        throw StoreOpenError(describe(errno));
    }
    ::fchmod(fd, 0600);
    ::close(fd);
}

enum class FileKind { empty, ours };

// Reads the header without SQLite, which could write to a file it opens for
// writing (rolling back another program's journal, checkpointing its WAL).
// Only a regular file can be a store: a FIFO would block the open for ever,
// and SQLite would take a device such as /dev/null for an empty database and
// make its journal beside it.
FileKind inspectHeader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        throw StoreOpenError(describe(errno));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const bool folder = S_ISDIR(status.st_mode);
        ::close(fd);
        throw StoreOpenError(folder ? describe(EISDIR) : std::string(kNotOurs));
    }
    std::array<unsigned char, 100> header{};
    const ssize_t got = ::read(fd, header.data(), header.size());
    const int readError = errno;
    ::close(fd);
    if (got < 0) {
        throw StoreOpenError(describe(readError));
    }
    if (got == 0) {
        return FileKind::empty;
    }
    constexpr std::string_view kMagic("SQLite format 3\0", 16);
    if (got < static_cast<ssize_t>(header.size()) || std::memcmp(header.data(), kMagic.data(), kMagic.size()) != 0) {
        throw StoreOpenError(std::string(kNotOurs));
    }
    const std::uint32_t applicationId = (std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16) |
                                        (std::uint32_t{header[70]} << 8) | std::uint32_t{header[71]};
    if (applicationId != kStoreApplicationId) {
        throw StoreOpenError(std::string(kNotOurs));
    }
    return FileKind::ours;
}

bool isCurrentStore(sqlite::Database& db) {
    const std::int64_t applicationId = db.queryInteger("PRAGMA application_id");
    const std::int64_t version = db.queryInteger("PRAGMA user_version");
    if (applicationId == kStoreApplicationId && version > kStoreSchemaVersion) {
        throw StoreOpenError(std::string(kNewer));
    }
    return applicationId == kStoreApplicationId && version == kStoreSchemaVersion;
}

// Makes the tables in a file that holds none, under the write lock, as other
// processes may be opening the same new file at the same time.
void createTablesIfEmpty(sqlite::Database& db) {
    sqlite::Transaction transaction(db, sqlite::Transaction::Kind::write);
    if (isCurrentStore(db)) {
        return;
    }
    const std::int64_t applicationId = db.queryInteger("PRAGMA application_id");
    if ((applicationId != 0 && applicationId != kStoreApplicationId) ||
        db.queryInteger("SELECT count(*) FROM sqlite_schema") != 0) {
        throw StoreOpenError(std::string(kNotOurs));
    }
    db.execute(kSchema);
    transaction.commit();
}

// Opens the file, known to be ours or empty, with SQLite; makes the tables
// and switches it to WAL mode when that is still to be done.
std::unique_ptr<sqlite::Database> openWithSqlite(const std::string& path, FileKind kind) {
    auto db = std::make_unique<sqlite::Database>(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    sqlite3_busy_timeout(db->handle(), kBusyTimeoutMilliseconds);
    if (kind == FileKind::empty || !isCurrentStore(*db)) {
        createTablesIfEmpty(*db);
    }
    if (db->queryText("PRAGMA journal_mode") != "wal" && db->queryText("PRAGMA journal_mode = WAL") != "wal") {
        throw StoreOpenError("it cannot be switched to write-ahead logging");
    }
    // In WAL mode a commit survives the process being killed right after;
    // only a power loss may take the latest commits back.
    // A process that opens the store while no other has it open, as every run
    // of the tool does, first reads the whole write-ahead log back: folding
    // the log into the file every 64 pages (SQLite's default is 1000) keeps
    // that read short, for two syncs in the run whose commit passes the mark.
    db->execute("PRAGMA synchronous = NORMAL; PRAGMA wal_autocheckpoint = 64");
    return db;
}

}  // namespace

std::unique_ptr<sqlite::Database> openStoreFile(const std::string& path) {
    if (path.empty()) {
        throw StoreOpenError("there is no home folder to keep it in; set VXM_STORE to its path");
    }
    if (const std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
        createFolders(path.substr(0, slash));
    }
    createFileIfMissing(path);
    const FileKind kind = inspectHeader(path);
    // While a new file is being set up by several processes at once, SQLite
    // may report it busy without waiting (switching the journal mode takes
    // the file whole): try again until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMilliseconds);
    for (;;) {
        try {
            return openWithSqlite(path, kind);
        } catch (const sqlite::DatabaseError& error) {
            if ((error.code() & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                throw StoreOpenError(error.what());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace vxm::platform
