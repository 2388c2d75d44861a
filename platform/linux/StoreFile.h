// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/linux/SqliteDatabase.h"

namespace vxm::platform {

// Why a store file could not be opened, in words a person can act on.
class StoreOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Marks a SQLite file as a store of this program (PRAGMA application_id).
inline constexpr std::uint32_t kStoreApplicationId = 0x56584D53;  // "VXMS"
inline constexpr std::int64_t kStoreSchemaVersion = 1;

// The open store file and the path it was opened at: `path` with its folder
// resolved (no symbolic link, no "." or ".." in it, absolute), so that every
// process that reaches one store by any way names it alike, and so finds the
// files beside it (SQLite's -wal and -shm, the -events of StatusSignal) at
// the same paths.
struct OpenedStoreFile {
    std::unique_ptr<sqlite::Database> db;
    std::string path;
};

// Opens the store file at `path` for reading and writing. Creates what is
// missing owner-only whatever the umask: the folders (0700), the file (0600,
// which SQLite's -wal and -shm files copy) and the tables. Before anything is
// written, the file must be a regular file (not a symbolic link) of this
// process's user with one name, whose header shows a store of this program or
// no bytes at all, and its -wal and -shm, where they exist, regular files of
// this user; any other file is left exactly as it is and StoreOpenError
// thrown. Then group and other permission bits are cleared from all three.
// Leaves the file in WAL mode with a busy timeout on the connection, and
// freed pages overwritten with zeros (secure_delete).
OpenedStoreFile openStoreFile(const std::string& path);

// Opens a file beside the store at `path` with open(2) `flags` (O_RDONLY or
// O_RDWR, O_CREAT allowed), never following a symbolic link or blocking on a
// FIFO. Before anything is written to it, it must be a regular file of this
// process's user; then group and other permission bits are cleared (a file
// it creates is 0600 whatever the umask). Returns the descriptor
// (close-on-exec), or -1 when the file is missing and O_CREAT not given.
// Throws StoreOpenError naming the path otherwise.
int openFileBesideStore(const std::string& path, int flags);

}  // namespace vxm::platform
