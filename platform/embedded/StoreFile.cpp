// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreFile.h"

#include <array>
#include <chrono>
#include <cerrno>
#include <cstdlib>
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
)sql";
static_assert(kStoreApplicationId == 1448627539U);

// What version 2 added to version 1: the count of the commits that deleted or
// replaced values, and the count of them whose old values were erased from
// the files (see StoreConnection::erasePendingLocked).
constexpr const char* kVersion2 = R"sql(
CREATE TABLE erasures (requested INTEGER NOT NULL, done INTEGER NOT NULL);
INSERT INTO erasures VALUES (0, 0);
PRAGMA user_version = 2;
)sql";
static_assert(kStoreSchemaVersion == 2);

constexpr std::string_view kNotOurs = "the file there is not a Vexomi VPN configuration store";
constexpr std::string_view kNewer = "it was written by a newer version of Vexomi";

std::string describe(int error) { return std::generic_category().message(error); }

// What each step of an opening throws: "<the store> cannot be opened: <reason>".
[[noreturn]] void refuse(const std::string& store, const std::string& reason) {
    throw Failure{{store + " cannot be opened: " + reason}};
}

[[noreturn]] void refuse(int fd, const std::string& store, const std::string& reason) {
    ::close(fd);
    refuse(store, reason);
}

// Creates each missing folder of `folder` owner-only. What stands in the way
// (a file) is found out when the store file is opened.
void createFolders(const std::string& store, const std::string& folder) {
    if (struct stat status {}; ::stat(folder.c_str(), &status) == 0) {
        return;
    }
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string prefix = folder.substr(0, end);
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            // mkdir's mode is narrowed by the umask; set it whole.
            ::chmod(prefix.c_str(), 0700);
        } else if (errno != EEXIST) {
            refuse(store, "cannot create the folder " + prefix + ": " + describe(errno));
        }
        if (end == std::string::npos) {
            return;
        }
    }
}

// `path` with its folder resolved through the links in it to an absolute
// path; the file name is kept as it is, so that a link there is found out
// when the file is opened.
std::string resolveFolder(const std::string& store, const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (resolved == nullptr) {
        refuse(store, "cannot find the folder " + folder + ": " + describe(errno));
    }
    std::string result(resolved);
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc)
    if (result.back() != '/') {
        result += '/';
    }
    return result + (slash == std::string::npos ? path : path.substr(slash + 1));
}

constexpr int kNoFollowFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Whoever else may read the file must not read what goes in next: an empty
// one (the open may just have made it) gets 0600 whatever the umask, and
// group and other bits go from one that stood there (a store restored from a
// backup as 0644, say).
void makePrivate(int fd, const struct stat& status, const std::string& store, const std::string& path) {
    const mode_t mode = status.st_size == 0 ? 0600 : status.st_mode & 0700;
    if (mode != (status.st_mode & 07777) && ::fchmod(fd, mode) != 0) {
        const int error = errno;
        refuse(fd, store, "cannot make " + path + " private: " + describe(error));
    }
}

enum class FileKind { empty, ours };

// Reads the header without SQLite, which could write to a file it opens for
// writing (rolling back another program's journal, checkpointing its WAL).
// Only a store of ours has our application id at offset 68; its version is
// at offset 60.
FileKind inspectHeader(int fd, const std::string& store) {
    std::array<unsigned char, 72> header{};
    const ssize_t got = ::pread(fd, header.data(), header.size(), 0);
    if (got < 0) {
        const int error = errno;
        refuse(fd, store, describe(error));
    }
    if (got == 0) {
        return FileKind::empty;
    }
    const auto field = [&header](std::size_t at) {
        return (std::uint32_t{header[at]} << 24) | (std::uint32_t{header[at + 1]} << 16) |
               (std::uint32_t{header[at + 2]} << 8) | std::uint32_t{header[at + 3]};
    };
    if (got < static_cast<ssize_t>(header.size()) || field(68) != kStoreApplicationId) {
        refuse(fd, store, std::string(kNotOurs));
    }
    if (field(60) > kStoreSchemaVersion) {
        refuse(fd, store, std::string(kNewer));
    }
    return FileKind::ours;
}

// Opens the store file, making it when nothing stands at the path, and finds
// out what it is before anything is written. Only a regular file can be a
// store: a FIFO would block the open for ever, and SQLite would take a device
// such as /dev/null for an empty database and make its journal beside it. A
// second name (hard link) would get a write-ahead log of its own, and changes
// made through one name would be lost to the other.
FileKind checkMainFile(const std::string& store, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | kNoFollowFlags, 0600);
    if (fd < 0) {
        refuse(store, errno == ELOOP ? "it is a symbolic link; set VXM_STORE to the file it points to"
                                     : describe(errno));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        refuse(fd, store, std::string(kNotOurs));
    }
    if (status.st_nlink > 1) {
        refuse(fd, store, "it has " + std::to_string(status.st_nlink) +
                       " hard links; remove all but one, as changes made through one name are lost to the others");
    }
    const FileKind kind = inspectHeader(fd, store);
    makePrivate(fd, status, store, path);
    // Closed before SQLite opens the file: closing a descriptor of it drops
    // the locks SQLite's own hold.
    ::close(fd);
    return kind;
}

// The folder of the store (resolved) must be this user's and writable by no
// one else: SQLite makes and opens files beside the store by name (its
// write-ahead log, shared memory and rollback journal), and whoever may add a
// file to the folder could put one of those in its way, to read what goes in
// or to have it played back into the store. So only this user (and root) can
// have put the store file or any file beside it there. Its identity, to find
// out that it was replaced meanwhile.
struct stat checkFolder(const std::string& store, const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        refuse(store, "cannot find the folder " + folder + ": " + describe(errno));
    }
    const std::string ownFolder = "; set VXM_STORE to a store in a folder of your own that no one else may write";
    if (status.st_uid != ::geteuid()) {
        refuse(store, "its folder " + folder + " belongs to another user (uid " + std::to_string(status.st_uid) + ")" +
                          ownFolder);
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        refuse(store, "other users may write its folder " + folder + ownFolder + ", or make this one so (chmod go-w " +
                          folder + ")");
    }
    return status;
}

// The files SQLite and StatusSignal keep beside the store, where they exist,
// before SQLite opens them: one that SQLite cannot use would be reported as a
// bare "disk I/O error". Those that others may read are made private.
void checkFilesBeside(const std::string& store, const std::string& path) {
    for (const char* suffix : {"-wal", "-shm", "-journal", "-events"}) {
        const std::string beside = path + suffix;
        struct stat status {};
        if (::lstat(beside.c_str(), &status) != 0) {
            continue;
        }
        if (!S_ISREG(status.st_mode)) {
            refuse(store, beside + " is not a regular file; remove it");
        }
        // A file that went meanwhile (a rollback journal, while another
        // process sets up a new store) is as fine as one never there.
        if (::faccessat(AT_FDCWD, beside.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
            if (errno == ENOENT) {
                continue;
            }
            std::string reason = beside + " cannot be read and written by you (" + describe(errno);
            reason += "); make it so (chmod u+rw " + beside + ")";
            refuse(store, reason);
        }
        if ((status.st_mode & 077) != 0 && ::chmod(beside.c_str(), status.st_mode & 0700) != 0 && errno != ENOENT) {
            refuse(store, "cannot make " + beside + " private: " + describe(errno));
        }
    }
}

bool isCurrentStore(sqlite::Database& db) {
    return db.queryInteger("PRAGMA application_id") == kStoreApplicationId &&
           db.queryInteger("PRAGMA user_version") == kStoreSchemaVersion;
}

// Makes the tables in a file that was empty (only this user can have written
// it since, as only this user may write the folder), or brings a store of
// version 1 to the current version, under the write lock, as other processes
// may be opening the same file at the same time.
void createTablesIfEmpty(sqlite::Database& db) {
    sqlite::Transaction transaction(db, sqlite::Transaction::Kind::write);
    if (isCurrentStore(db)) {
        return;
    }
    if (db.queryInteger("PRAGMA user_version") != 1) {
        db.execute(kSchema);
    }
    db.execute(kVersion2);
    transaction.commit();
}

// Opens the file, known to be ours or empty, with SQLite; makes the tables
// and switches it to WAL mode when that is still to be done.
std::unique_ptr<sqlite::Database> openWithSqlite(const std::string& store, const std::string& path, FileKind kind) {
    auto db = std::make_unique<sqlite::Database>(store, path,
                                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW);
    sqlite3_busy_timeout(db->handle(), kBusyTimeoutMilliseconds);
    if (kind == FileKind::empty || !isCurrentStore(*db)) {
        createTablesIfEmpty(*db);
    }
    // In WAL mode a commit survives the process being killed right after;
    // only a power loss may take the latest commits back.
    // The log stays short without a checkpoint setting of its own: every
    // commit that replaces or removes a key folds it into the file and
    // truncates it (see StoreConnection::erasePendingLocked).
    // Pages freed by a change are overwritten with zeros, so that a replaced
    // or removed private key does not stay in a free page of the file. A run
    // reads each row once, so a page cache of 128 KiB (SQLite's default is
    // 2 MiB) costs it no reads and keeps large stores' runs small.
    db->execute(
        "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA secure_delete = ON;"
        " PRAGMA cache_size = -128");
    return db;
}

}  // namespace

int openFileBesideStore(const std::string& path, int flags) {
    const std::string notRegular = path + " is not a regular file; remove it";
    const int fd = ::open(path.c_str(), flags | kNoFollowFlags, 0600);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT && (flags & O_CREAT) == 0) {
            return -1;
        }
        // A symbolic link, a folder opened for writing, a socket.
        throw Failure{
            {error == ELOOP || error == EISDIR || error == ENXIO ? notRegular : path + ": " + describe(error)}};
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw Failure{{notRegular}};
    }
    makePrivate(fd, status, path, path);
    return fd;
}

OpenedStoreFile openStoreFile(const std::string& path) {
    const std::string store = "the VPN configuration store at " + path;
    if (path.empty()) {
        refuse(store, "there is no home folder to keep it in; set VXM_STORE to its path");
    }
    if (const std::size_t end = path.rfind('/'); end != std::string::npos && end > 0) {
        createFolders(store, path.substr(0, end));
    }
    OpenedStoreFile opened{.db = nullptr, .path = resolveFolder(store, path)};
    const std::size_t slash = opened.path.rfind('/');
    const std::string folder = slash == 0 ? "/" : opened.path.substr(0, slash);
    const struct stat checked = checkFolder(store, folder);
    const FileKind kind = checkMainFile(store, opened.path);
    checkFilesBeside(store, opened.path);
    // While a new file is being set up by several processes at once, SQLite
    // may report it busy without waiting (switching the journal mode takes
    // the file whole): try again until the busy timeout has passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMilliseconds);
    for (;;) {
        try {
            opened.db = openWithSqlite(store, opened.path, kind);
            break;
        } catch (const Failure& failure) {
            if (!failure.busy || std::chrono::steady_clock::now() > deadline) {
                throw;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // A folder above it that others may write lets them put another folder
    // in place of this one while it was being opened.
    struct stat found {};
    if (::stat(folder.c_str(), &found) != 0 || checked.st_dev != found.st_dev || checked.st_ino != found.st_ino) {
        refuse(store, "its folder " + folder + " was replaced while it was being opened");
    }
    return opened;
}

bool storeFileExists(const std::string& path) {
    struct stat status {};
    return !path.empty() && (::lstat(path.c_str(), &status) == 0 || errno != ENOENT);
}

}  // namespace vxm::platform
