#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/VPNStore.h"
#include "platform/linux/SqliteDatabase.h"

namespace vxm::platform {

// Stops the store operation at hand with an error for its caller. Thrown and
// caught inside the store only (StoreConnection::guard turns it into a value).
struct Failure {
    Error error;
};

inline constexpr const char* kNotSaved = "the configuration is not saved";
inline constexpr const char* kGone = "the configuration is no longer in the store";
inline constexpr const char* kNotEnabled = "the configuration is not enabled";

// Every query the store runs, prepared once per connection on first use.
enum Query : std::size_t {
    selectAll,
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

// A configuration's stored columns, bound as ?2 to ?9 of insertOne and updateOne.
struct Columns {
    std::optional<std::string> displayName;
    std::string protocol;
    std::optional<std::string> otherKind;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> serverAddress;
    std::optional<std::string> providerConfiguration;
    // The stored configuration whose provider configuration is copied
    // instead: as it is stored, never decoded, even when damaged.
    std::optional<std::int64_t> providerConfigurationOf;
    bool enabled = false;
};

// The columns that store the handle's properties. A provider configuration
// that still stands for one of `store`'s own is copied within the store,
// never read through `store` here. Throws Failure for a value that cannot be
// stored; the error never quotes it.
Columns columnsOf(const TunnelProviderManager& manager, const ProviderConfigurationSource& store);

void bindColumns(sqlite::Statement::Use& use, const Columns& columns);

// The open store file with its statements. Not safe for use by two
// threads at once: StoreConnection's lock guards it.
class Connection {
public:
    // `source` is where the provider configurations of the rows read are
    // read from when first looked at: the store this connection belongs to.
    Connection(std::unique_ptr<sqlite::Database> db, std::weak_ptr<ProviderConfigurationSource> source);

    sqlite::Statement& statement(Query query);
    [[nodiscard]] sqlite::Database& db() const { return *db_; }

    // Sets the handle's properties from a row of selectAll or selectOne. Its
    // provider configuration is not read yet: a damaged one reads as none.
    void readInto(TunnelProviderManager& manager, sqlite::Statement::Use& row) const;

private:
    std::unique_ptr<sqlite::Database> db_;
    const std::weak_ptr<ProviderConfigurationSource> source_;
    std::array<std::unique_ptr<sqlite::Statement>, queryCount> statements_;
};

}  // namespace vxm::platform
