// SPDX-License-Identifier: Apache-2.0
#include "platform/embedded/SqliteDatabase.h"

#include <system_error>
#include <utility>

#include <sqlite3.h>

namespace vxm::platform::sqlite {

namespace {

// The error of the failed system call behind SQLite's last error, or 0. The
// connection keeps it only for errors raised inside a statement; one raised
// while committing is kept by the file that failed, the database file or
// its write-ahead log.
int systemErrorBehind(sqlite3* db) {
    if (const int error = sqlite3_system_errno(db); error != 0) {
        return error;
    }
    int error = 0;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &error) == SQLITE_OK && error != 0) {
        return error;
    }
    sqlite3_file* log = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) == SQLITE_OK && log != nullptr &&
        log->pMethods != nullptr && log->pMethods->xFileControl(log, SQLITE_FCNTL_LAST_ERRNO, &error) == SQLITE_OK) {
        return error;
    }
    return 0;
}

// SQLite's message, with the system's reason when a file operation failed:
// "disk I/O error" alone does not tell a file-size limit from a missing
// permission or a failing disk.
std::string describe(sqlite3* db) {
    std::string message = sqlite3_errmsg(db);
    const int primary = sqlite3_extended_errcode(db) & 0xff;
    if (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) {
        if (const int error = systemErrorBehind(db); error != 0) {
            message += " (" + std::generic_category().message(error) + ")";
        }
    }
    return message;
}

}  // namespace

Database::Database(std::string name, const std::string& path, int flags) : name_(std::move(name)) {
    const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK) {
        const std::string message = db_ != nullptr ? describe(db_) : sqlite3_errstr(code);
        sqlite3_close_v2(db_);
        throw Failure{{name_ + " cannot be opened: " + message}};
    }
    sqlite3_extended_result_codes(db_, 1);
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(true);
    }
}

std::int64_t Database::queryInteger(const char* sql) {
    Statement statement(*this, sql);
    Statement::Use use = statement.use();
    return use.step() ? use.integer(0) : 0;
}

std::int64_t Database::changes() const { return sqlite3_changes64(db_); }

std::int64_t Database::lastInsertKey() const { return sqlite3_last_insert_rowid(db_); }

bool Database::truncateLog() {
    const int code = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    if (code != SQLITE_OK && (code & 0xff) != SQLITE_BUSY) {
        fail(true);
    }
    return code == SQLITE_OK;
}

bool Database::inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

void Database::fail(bool writes) const {
    const int code = sqlite3_extended_errcode(db_);
    throw Failure{.error = {name_ + (writes ? " cannot be written: " : " cannot be read: ") + describe(db_)},
                  .busy = (code & 0xff) == SQLITE_BUSY};
}

Statement::Statement(Database& database, std::string_view sql) : database_(database) {
    if (sqlite3_prepare_v3(database.handle(), sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &statement_, nullptr) != SQLITE_OK) {
        database.fail(false);
    }
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement::Use::~Use() {
    sqlite3_reset(statement_.statement_);
    sqlite3_clear_bindings(statement_.statement_);
}

void Statement::Use::check(int code) {
    if (code != SQLITE_OK) {
        statement_.database_.fail(sqlite3_stmt_readonly(statement_.statement_) == 0);
    }
}

Statement::Use& Statement::Use::bind(int index, std::int64_t value) {
    check(sqlite3_bind_int64(statement_.statement_, index, value));
    return *this;
}

Statement::Use& Statement::Use::bind(int index, std::string_view text) {
    check(sqlite3_bind_text64(statement_.statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
    return *this;
}

Statement::Use& Statement::Use::bindOptional(int index, const std::optional<std::string>& text) {
    if (!text) {
        check(sqlite3_bind_null(statement_.statement_, index));
        return *this;
    }
    return bind(index, std::string_view(*text));
}

bool Statement::Use::step() {
    const int code = sqlite3_step(statement_.statement_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code != SQLITE_DONE) {
        statement_.database_.fail(sqlite3_stmt_readonly(statement_.statement_) == 0);
    }
    return false;
}

bool Statement::Use::isNull(int column) const {
    return sqlite3_column_type(statement_.statement_, column) == SQLITE_NULL;
}

std::int64_t Statement::Use::integer(int column) const { return sqlite3_column_int64(statement_.statement_, column); }

std::string Statement::Use::text(int column) const { return std::string(view(column)); }

std::string_view Statement::Use::view(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_.statement_, column));
    const int size = sqlite3_column_bytes(statement_.statement_, column);
    return bytes == nullptr ? std::string_view() : std::string_view(bytes, static_cast<std::size_t>(size));
}

std::optional<std::string> Statement::Use::optionalText(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return text(column);
}

Transaction::Transaction(Database& database, Kind kind) : database_(database) {
    database.execute(kind == Kind::write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (open_) {
        sqlite3_exec(database_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    database_.execute("COMMIT");
    open_ = false;
}

}  // namespace vxm::platform::sqlite
