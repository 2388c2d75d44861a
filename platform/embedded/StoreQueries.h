// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/VPNStore.h"
#include "platform/embedded/SqliteDatabase.h"

namespace vxm::platform {

// A configuration handle of SqliteVPNStore: its row key, none until saved.
class SqliteManager final : public TunnelProviderManager {
public:
    using TunnelProviderManager::TunnelProviderManager;

    std::optional<std::int64_t> key;
};

// The row key of a handle of SqliteVPNStore; none for any other.
inline std::optional<std::int64_t> rowKeyOf(const TunnelProviderManager& manager) {
    const auto* handle = dynamic_cast<const SqliteManager*>(&manager);
    return handle != nullptr ? handle->key : std::nullopt;
}

// A provider configuration as the store keeps it: one compact JSON object;
// none when a text in it is not valid UTF-8, which JSON cannot hold.
std::optional<std::string> encodeProviderConfiguration(const ProviderConfiguration& configuration);
// What encodeProviderConfiguration wrote; none when `json` is not a JSON object.
std::optional<ProviderConfiguration> decodeProviderConfiguration(std::string_view json);

inline constexpr const char* kNotSaved = "the configuration is not saved";
inline constexpr const char* kGone = "the configuration is no longer in the store";
inline constexpr const char* kNotEnabled = "the configuration is not enabled";
inline constexpr const char* kNotOfThisStore = "the configuration is not one of this store";

// Every query the store runs, prepared once per connection on first use.
enum Query : std::size_t {
    selectAll,
    selectActive,
    selectOne,
    insertOne,
    updateOne,
    deleteOne,
    selectStatus,
    changeStatus,
    finishConnecting,
    stopOne,
    storedSince,
    selectProviderConfiguration,
    requestErasure,
    erasureRequested,
    noteErased,
    savepoint,
    releaseSavepoint,
    rollBackToSavepoint,
    queryCount,
};

// A configuration's stored columns, bound as ?2 to ?8 of insertOne and updateOne.
struct Columns {
    std::optional<std::string> displayName;
    std::string protocol;
    std::optional<std::string> otherKind;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> serverAddress;
    std::optional<std::string> providerConfiguration;
    bool enabled = false;
};

// The handle's columns. Reads a provider configuration not read yet, so call
// it without the store's lock. Throws Failure, never quoting the value.
Columns columnsOf(const TunnelProviderManager& manager);

void bindColumns(sqlite::Statement::Use& use, const Columns& columns);

// The open store file with its statements; StoreConnection's lock guards it.
class Connection {
public:
    // Reads the provider configuration of `key` (see LazyProviderConfiguration).
    using ReadProviderConfiguration = std::function<std::optional<ProviderConfiguration>(std::int64_t key)>;

    Connection(std::unique_ptr<sqlite::Database> db, ReadProviderConfiguration read);

    sqlite::Statement& statement(Query query);
    [[nodiscard]] sqlite::Database& db() const { return *db_; }

    // Sets the handle's properties from a row of selectAll or selectOne; its
    // provider configuration is read when first looked at.
    void readInto(SqliteManager& manager, sqlite::Statement::Use& row) const;

private:
    std::unique_ptr<sqlite::Database> db_;
    // Shared by the handles: a store may load thousands.
    const std::shared_ptr<const ReadProviderConfiguration> read_;
    std::array<std::unique_ptr<sqlite::Statement>, queryCount> statements_;
};

}  // namespace vxm::platform
