// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/StoreQueries.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

namespace vxm::platform {

namespace {

using sqlite::Statement;

// A stored provider configuration is read when first looked at, not with its
// row: the rows say only whether there is one.
constexpr std::array<const char*, queryCount> kQueries = {
    "SELECT key, display_name, protocol, other_protocol_kind, provider_bundle_identifier, server_address,"
    " provider_configuration IS NOT NULL, enabled, status, status_changes FROM configurations ORDER BY key",
    "SELECT key, display_name, protocol, other_protocol_kind, provider_bundle_identifier, server_address,"
    " provider_configuration IS NOT NULL, enabled, status, status_changes FROM configurations"
    " WHERE status IN (2, 3, 4, 5) ORDER BY key",
    "SELECT key, display_name, protocol, other_protocol_kind, provider_bundle_identifier, server_address,"
    " provider_configuration IS NOT NULL, enabled, status, status_changes FROM configurations WHERE key = ?1",
    "INSERT INTO configurations (display_name, protocol, other_protocol_kind, provider_bundle_identifier,"
    " server_address, provider_configuration, enabled) VALUES (?2, ?3, ?4, ?5, ?6, ?7, ?8)",
    "UPDATE configurations SET display_name = ?2, protocol = ?3, other_protocol_kind = ?4,"
    " provider_bundle_identifier = ?5, server_address = ?6, provider_configuration = ?7, enabled = ?8 WHERE key = ?1",
    "DELETE FROM configurations WHERE key = ?1",
    "SELECT status, status_changes, enabled FROM configurations WHERE key = ?1",
    "UPDATE configurations SET status = ?2, status_changes = status_changes + 1 WHERE key = ?1 AND status <> ?2",
    "UPDATE configurations SET status = 3, status_changes = status_changes + 1 WHERE key = ?1 AND status = 2",
    "UPDATE configurations SET status = 1, status_changes = status_changes + 1"
    " WHERE key = ?1 AND status IN (2, 3, 4, 5)",
    "SELECT key, display_name FROM configurations WHERE key > ?1 AND display_name IS NOT NULL"
    " AND protocol = 'tunnel-provider' AND provider_bundle_identifier IS ?2 ORDER BY key",
    "SELECT provider_configuration FROM configurations WHERE key = ?1",
    "UPDATE erasures SET requested = requested + 1",
    "SELECT requested FROM erasures WHERE requested > done",
    "UPDATE erasures SET done = ?1 WHERE done < ?1",
    "SAVEPOINT operation",
    "RELEASE operation",
    "ROLLBACK TO operation",
};

}  // namespace

std::optional<std::string> encodeProviderConfiguration(const ProviderConfiguration& configuration) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, value] : configuration) {
        object[key] = value;
    }
    try {
        return object.dump();
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;
    }
}

std::optional<ProviderConfiguration> decodeProviderConfiguration(std::string_view json) {
    nlohmann::json object = nlohmann::json::parse(json, nullptr, false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    ProviderConfiguration values;
    for (auto item = object.begin(); item != object.end(); ++item) {
        values.emplace_hint(values.end(), item.key(), std::move(item.value()));
    }
    return values;
}

Columns columnsOf(const TunnelProviderManager& manager) {
    Columns columns;
    columns.displayName = manager.localizedDescription;
    columns.enabled = manager.isEnabled;
    if (const auto* other = std::get_if<OtherProtocol>(&manager.protocolConfiguration)) {
        columns.protocol = "other";
        columns.otherKind = other->kind;
    } else if (const auto* provider = std::get_if<TunnelProviderProtocol>(&manager.protocolConfiguration)) {
        columns.protocol = "tunnel-provider";
        columns.bundleIdentifier = provider->providerBundleIdentifier;
        columns.serverAddress = provider->serverAddress;
        if (const ProviderConfiguration* values = provider->providerConfiguration.get()) {
            columns.providerConfiguration = encodeProviderConfiguration(*values);
            if (!columns.providerConfiguration) {
                // Never quote the value: it may be a private key.
                throw Failure{{"the provider configuration holds text that is not valid UTF-8"}};
            }
        }
    } else {
        columns.protocol = "none";
    }
    return columns;
}

void bindColumns(Statement::Use& use, const Columns& columns) {
    use.bindOptional(2, columns.displayName)
        .bind(3, columns.protocol)
        .bindOptional(4, columns.otherKind)
        .bindOptional(5, columns.bundleIdentifier)
        .bindOptional(6, columns.serverAddress)
        .bindOptional(7, columns.providerConfiguration)
        .bind(8, std::int64_t{columns.enabled ? 1 : 0});
}

Connection::Connection(std::unique_ptr<sqlite::Database> db, ReadProviderConfiguration read)
    : db_(std::move(db)), read_(std::make_shared<const ReadProviderConfiguration>(std::move(read))) {}

Statement& Connection::statement(Query query) {
    if (!statements_[query]) {
        statements_[query] = std::make_unique<Statement>(*db_, kQueries[query]);
    }
    return *statements_[query];
}

void Connection::readInto(SqliteManager& manager, Statement::Use& row) const {
    const std::int64_t key = row.integer(0);
    manager.key = key;
    manager.localizedDescription = row.optionalText(1);
    manager.isEnabled = row.integer(7) != 0;
    const std::string_view protocol = row.view(2);
    if (protocol == "other") {
        manager.protocolConfiguration = OtherProtocol{row.text(3)};
        return;
    }
    if (protocol != "tunnel-provider") {
        manager.protocolConfiguration = NoProtocol{};
        return;
    }
    TunnelProviderProtocol provider{.providerBundleIdentifier = row.optionalText(4),
                                    .serverAddress = row.text(5),
                                    .providerConfiguration = std::nullopt};
    if (row.integer(6) != 0) {
        provider.providerConfiguration = LazyProviderConfiguration::stored([read = read_, key] { return (*read)(key); });
    }
    manager.protocolConfiguration = std::move(provider);
}

}  // namespace vxm::platform
