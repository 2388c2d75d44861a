// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/StoreFile.h"

#include <array>
#include <chrono>
#include <cerrno>
#include <cstdlib>
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

// `path` with its folder resolved through the links in it to an absolute
// path; the file name is kept as it is, so that a link there is found out
// when the file is opened.
std::string resolveFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (resolved == nullptr) {
        throw StoreOpenError("cannot find the folder " + folder + ": " + describe(errno));
    }
    std::string result(resolved);
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc)
    if (result.back() != '/') {
        result += '/';
    }
    return result + (slash == std::string::npos ? path : path.substr(slash + 1));
}

constexpr int kNoFollowFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens `path` with `flags`, never following a symbolic link at it or
// waiting for a FIFO's other end; sets `created` when this call made the
// file. Fails as open does, with errno set.
int openUnfollowed(const std::string& path, int flags, bool& created) {
    created = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if ((flags & O_CREAT) != 0) {
            // O_EXCL fails for a link too, which the open below refuses.
            const int fd = ::open(path.c_str(), flags | O_EXCL | kNoFollowFlags, 0600);
            if (fd >= 0) {
                created = true;
                return fd;
            }
            if (errno != EEXIST) {
                return -1;
            }
        }
        const int fd = ::open(path.c_str(), (flags & ~O_CREAT) | kNoFollowFlags);
        if (fd >= 0 || errno != ENOENT || (flags & O_CREAT) == 0) {
            return fd;
        }
        // Removed between the two opens: make it.
    }
    return -1;
}

[[noreturn]] void refuse(int fd, const std::string& reason) {
    ::close(fd);
    throw StoreOpenError(reason);
}

struct stat statusOf(int fd, const std::string& path) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        refuse(fd, path + ": " + describe(error));
    }
    return status;
}

std::string otherOwner(const struct stat& status) {
    return "belongs to another user (uid " + std::to_string(status.st_uid) + ")";
}

// Whoever else may read the file must not read what goes in next: one the
// open made gets 0600 whatever the umask, and group and other bits go from
// one that stood there (a store restored from a backup as 0644, say).
void makePrivate(int fd, const struct stat& status, bool created, const std::string& path) {
    const mode_t mode = created ? 0600 : status.st_mode & 0700;
    if (mode != (status.st_mode & 07777) && ::fchmod(fd, mode) != 0) {
        const int error = errno;
        refuse(fd, "cannot make " + path + " private: " + describe(error));
    }
}

enum class FileKind { empty, ours };

// Reads the header without SQLite, which could write to a file it opens for
// writing (rolling back another program's journal, checkpointing its WAL).
FileKind inspectHeader(int fd) {
    std::array<unsigned char, 100> header{};
    const ssize_t got = ::pread(fd, header.data(), header.size(), 0);
    if (got < 0) {
        const int error = errno;
        refuse(fd, describe(error));
    }
    if (got == 0) {
        return FileKind::empty;
    }
    constexpr std::string_view kMagic("SQLite format 3\0", 16);
    if (got < static_cast<ssize_t>(header.size()) || std::memcmp(header.data(), kMagic.data(), kMagic.size()) != 0) {
        refuse(fd, std::string(kNotOurs));
    }
    const std::uint32_t applicationId = (std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16) |
                                        (std::uint32_t{header[70]} << 8) | std::uint32_t{header[71]};
    if (applicationId != kStoreApplicationId) {
        refuse(fd, std::string(kNotOurs));
    }
    return FileKind::ours;
}

// Opens the store file, making it when nothing stands at the path, and finds
// out what it is before anything is written. Only a regular file can be a
// store: a FIFO would block the open for ever, and SQLite would take a device
// such as /dev/null for an empty database and make its journal beside it. A
// file of another user is not ours to put secrets in. A second name (hard
// link) would get a write-ahead log of its own, and changes made through one
// name would be lost to the other.
int openMainFile(const std::string& path, FileKind& kind) {
    bool created = false;
    const int fd = openUnfollowed(path, O_RDONLY | O_CREAT, created);
    if (fd < 0) {
        throw StoreOpenError(errno == ELOOP ? "it is a symbolic link; set VXM_STORE to the file it points to"
                                            : describe(errno));
    }
    const struct stat status = statusOf(fd, path);
    if (!S_ISREG(status.st_mode)) {
        refuse(fd, S_ISDIR(status.st_mode) ? describe(EISDIR) : std::string(kNotOurs));
    }
    if (status.st_uid != ::geteuid()) {
        refuse(fd, "it " + otherOwner(status) + "; set VXM_STORE to a store of your own");
    }
    if (status.st_nlink > 1) {
        refuse(fd, "it has " + std::to_string(status.st_nlink) +
                       " hard links; remove all but one, as changes made through one name are lost to the others");
    }
    kind = inspectHeader(fd);
    makePrivate(fd, status, created, path);
    return fd;
}

// The files beside the store where they exist, before SQLite writes a byte:
// its write-ahead log and shared memory (it makes missing ones with the mode
// of the store file) and the counter of StatusSignal.
void checkFilesBeside(const std::string& path) {
    for (const char* suffix : {"-wal", "-shm", "-events"}) {
        const int fd = openFileBesideStore(path + suffix, O_RDONLY);
        if (fd >= 0) {
            ::close(fd);
        }
    }
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
    auto db =
        std::make_unique<sqlite::Database>(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW);
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
    // Pages freed by a change are overwritten with zeros, so that a replaced
    // or removed private key does not stay in a free page of the file. A run
    // reads each row once, so a page cache of 256 KiB (SQLite's default is
    // 2 MiB) costs it no reads and keeps large stores' runs small.
    db->execute(
        "PRAGMA synchronous = NORMAL; PRAGMA wal_autocheckpoint = 64; PRAGMA secure_delete = ON;"
        " PRAGMA cache_size = -256");
    return db;
}

}  // namespace

int openFileBesideStore(const std::string& path, int flags) {
    bool created = false;
    const int fd = openUnfollowed(path, flags, created);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT && (flags & O_CREAT) == 0) {
            return -1;
        }
        if (error == ELOOP) {
            throw StoreOpenError(path + " is a symbolic link; remove it");
        }
        // A folder opened for writing, a socket.
        if (error == EISDIR || error == ENXIO) {
            throw StoreOpenError(path + " is not a regular file; remove it");
        }
        throw StoreOpenError(path + ": " + describe(error));
    }
    const struct stat status = statusOf(fd, path);
    if (!S_ISREG(status.st_mode)) {
        refuse(fd, path + " is not a regular file; remove it");
    }
    if (status.st_uid != ::geteuid()) {
        refuse(fd, path + " " + otherOwner(status) + "; remove it");
    }
    makePrivate(fd, status, created, path);
    return fd;
}

OpenedStoreFile openStoreFile(const std::string& path) {
    if (path.empty()) {
        throw StoreOpenError("there is no home folder to keep it in; set VXM_STORE to its path");
    }
    if (const std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
        createFolders(path.substr(0, slash));
    }
    OpenedStoreFile opened{.db = nullptr, .path = resolveFolder(path)};
    FileKind kind = FileKind::empty;
    // Every descriptor of the file is closed before SQLite opens it: closing
    // one drops the locks SQLite's own hold.
    struct stat checked {};
    const int fd = openMainFile(opened.path, kind);
    ::fstat(fd, &checked);
    ::close(fd);
    checkFilesBeside(opened.path);
    // While a new file is being set up by several processes at once, SQLite
    // may report it busy without waiting (switching the journal mode takes
    // the file whole): try again until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMilliseconds);
    for (;;) {
        try {
            opened.db = openWithSqlite(opened.path, kind);
            break;
        } catch (const sqlite::DatabaseError& error) {
            if ((error.code() & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                throw StoreOpenError(error.what());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // SQLite opened the path again: it must have found the file checked
    // above, and a -wal or -shm that someone else made meanwhile is refused
    // before anything goes into it (looked at by path, not opened, for the
    // reason above).
    struct stat found {};
    if (::stat(opened.path.c_str(), &found) != 0 || checked.st_dev != found.st_dev || checked.st_ino != found.st_ino) {
        throw StoreOpenError("it was replaced while it was being opened");
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string besides = opened.path + suffix;
        if (::lstat(besides.c_str(), &found) == 0 && (!S_ISREG(found.st_mode) || found.st_uid != ::geteuid())) {
            throw StoreOpenError(besides + (S_ISREG(found.st_mode) ? " " + otherOwner(found) : std::string(" is not a regular file")) + "; remove it");
        }
    }
    return opened;
}

}  // namespace vxm::platform
