// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/embedded/SqliteDatabase.h"

namespace vxm::platform {

// Marks a SQLite file as a store of this program (PRAGMA application_id).
inline constexpr std::uint32_t kStoreApplicationId = 0x56584D53;  // "VXMS"
inline constexpr std::int64_t kStoreSchemaVersion = 2;

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
// written: the store's folder must belong to this process's user and be
// writable by no one else, so that no other user can put a file where SQLite
// or StatusSignal looks for one; the file must be a regular file (not a
// symbolic link) of this user with one name, whose header shows a store of
// this program or no bytes at all; and the files beside it, where they exist,
// regular files of this user that it may read and write. Otherwise nothing is
// changed and Failure thrown ("the VPN configuration store at <path> cannot
// be opened: …"), naming what stands in the way in words a person can act on. Then
// group and other permission bits are cleared from the files. Brings a store
// of an earlier version to this one. Leaves the file in WAL mode with a busy
// timeout on the connection, and freed pages overwritten with zeros
// (secure_delete).
OpenedStoreFile openStoreFile(const std::string& path);

// Whether something stands at the store path (or the path cannot be looked
// at): when not, there is no store, and a command that only reads finds it
// empty without making one.
bool storeFileExists(const std::string& path);

// Opens a file beside the store at `path` with open(2) `flags` (O_RDONLY or
// O_RDWR, O_CREAT allowed), never following a symbolic link or blocking on a
// FIFO; it must be a regular file (openStoreFile has checked the folder and
// who owns what stands in it). Clears group and other permission bits (a
// file it creates is 0600 whatever the umask). Returns the descriptor
// (close-on-exec), or -1 when the file is missing and O_CREAT not given.
// Throws Failure naming the path otherwise.
int openFileBesideStore(const std::string& path, int flags);

}  // namespace vxm::platform
