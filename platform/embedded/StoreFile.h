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

// The open store file and its path with the folder resolved (absolute, no
// link), at which every process finds the files beside it.
struct OpenedStoreFile {
    std::unique_ptr<sqlite::Database> db;
    std::string path;
};

// Opens the store file at `path` for reading and writing, making what is
// missing owner-only (folders 0700, file 0600, tables) whatever the umask.
// Before anything is written, checks that the folder is this user's and
// writable by no one else, that the file is a regular file with one name
// whose header shows a store of this program or no bytes, and that the files
// beside it are regular files this user may read and write; otherwise throws
// Failure ("the VPN configuration store at <path> cannot be opened: …"),
// naming what stands in the way. Then makes the files private, brings an
// older store to this version, and leaves it in WAL mode with a busy timeout
// and secure_delete.
OpenedStoreFile openStoreFile(const std::string& path);

// Whether something stands at the store path (or it cannot be looked at).
bool storeFileExists(const std::string& path);

// Opens the regular file beside the store at `path` with open(2) `flags`,
// never following a link or blocking on a FIFO, and makes it private (0600
// when new). The descriptor (close-on-exec); -1 when the file is missing and
// O_CREAT not given. Throws Failure naming the path otherwise.
int openFileBesideStore(const std::string& path, int flags);

}  // namespace vxm::platform
