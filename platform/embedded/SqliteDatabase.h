// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vxm::platform {

// What stops a store operation: the error for its caller, in its final words.
// The store's one exception: thrown inside it, caught at its public entry
// points, which hand the error on as a value.
struct Failure {
    Error error;
    // SQLite found the file locked by another connection.
    bool busy = false;
};

}  // namespace vxm::platform

namespace vxm::platform::sqlite {

// One open SQLite connection, for one thread at a time. Every failed call
// throws Failure: "<name> cannot be written: <SQLite's message>" for a call
// that writes, else "cannot be read" ("cannot be opened" for the opening).
class Database {
public:
    // `name` says what it is in errors.
    Database(std::string name, const std::string& path, int flags);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void execute(const char* sql);
    // The first column of the first row of a query such as a PRAGMA.
    std::int64_t queryInteger(const char* sql);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    [[nodiscard]] std::int64_t changes() const;
    [[nodiscard]] std::int64_t lastInsertKey() const;
    // Throws the failure of the last call; `writes` when that call writes.
    [[noreturn]] void fail(bool writes) const;
    // Writes the whole write-ahead log into the file and truncates it. False
    // when readers or a writer kept it past the busy timeout.
    bool truncateLog();
    // False once an error such as a full disk rolled the transaction back.
    [[nodiscard]] bool inTransaction() const;

    [[nodiscard]] sqlite3* handle() const { return db_; }

private:
    std::string name_;
    sqlite3* db_ = nullptr;
};

// A statement prepared once and used many times.
class Statement {
public:
    Statement(Database& database, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // One execution, which resets the statement at its end so that no read
    // transaction stays open.
    class Use {
    public:
        explicit Use(Statement& statement) : statement_(statement) {}
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

        Use& bind(int index, std::int64_t value);
        Use& bind(int index, std::string_view text);
        Use& bindOptional(int index, const std::optional<std::string>& text);
        // True when a row is ready.
        bool step();
        [[nodiscard]] bool isNull(int column) const;
        [[nodiscard]] std::int64_t integer(int column) const;
        [[nodiscard]] std::string text(int column) const;
        // Valid until the next step or the end of the use.
        [[nodiscard]] std::string_view view(int column) const;
        [[nodiscard]] std::optional<std::string> optionalText(int column) const;

    private:
        void check(int code);
        Statement& statement_;
    };

    Use use() { return Use(*this); }

private:
    Database& database_;
    sqlite3_stmt* statement_ = nullptr;
};

// A transaction that rolls back unless committed. A writing transaction takes
// the write lock at once (BEGIN IMMEDIATE), so it never has to upgrade a read
// lock, which is what makes SQLite report a busy database at once.
class Transaction {
public:
    enum class Kind { read, write };

    Transaction(Database& database, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Database& database_;
    bool open_ = true;
};

}  // namespace vxm::platform::sqlite
