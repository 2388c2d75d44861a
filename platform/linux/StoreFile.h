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

// Opens the store file at `path` for reading and writing. Creates what is
// missing owner-only whatever the umask: the folders (0700), the file (0600,
// which SQLite's -wal and -shm files copy) and the tables. Before anything is
// written, the file's header must show a store of this program or no bytes at
// all; any other file is left exactly as it is and StoreOpenError thrown.
// Leaves the file in WAL mode with a busy timeout on the connection.
std::unique_ptr<sqlite::Database> openStoreFile(const std::string& path);

}  // namespace vxm::platform
