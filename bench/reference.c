// SPDX-License-Identifier: Apache-2.0
/* reference <store> [remove]
 *
 * The floor of any status: opens the store file with SQLite, reads every
 * configuration row with all of its columns, and prints how many there were.
 * With "remove", the floor of a removal of everything: then deletes the rows
 * read one by one, by key, in one transaction. Built the plain way
 * (libsqlite3 linked dynamically, default settings). */

#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    const int removing = argc == 3 && strcmp(argv[2], "remove") == 0;
    if (argc != 2 && !removing) {
        fputs("Usage: reference <store> [remove]\n", stderr);
        return 2;
    }
    sqlite3* db = NULL;
    if (sqlite3_open_v2(argv[1], &db, removing ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, NULL) != SQLITE_OK ||
        (removing && sqlite3_exec(db, "BEGIN IMMEDIATE", NULL, NULL, NULL) != SQLITE_OK)) {
        fprintf(stderr, "reference: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_stmt* rows = NULL;
    if (sqlite3_prepare_v2(db,
                           "SELECT key, display_name, protocol, other_protocol_kind, provider_bundle_identifier,"
                           " server_address, provider_configuration, enabled, status, status_changes"
                           " FROM configurations ORDER BY key",
                           -1, &rows, NULL) != SQLITE_OK) {
        fprintf(stderr, "reference: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_stmt* removal = NULL;
    if (removing && sqlite3_prepare_v2(db, "DELETE FROM configurations WHERE key = ?1", -1, &removal, NULL) != SQLITE_OK) {
        fprintf(stderr, "reference: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    long count = 0;
    size_t bytes = 0;
    sqlite3_int64* keys = NULL;
    int step;
    while ((step = sqlite3_step(rows)) == SQLITE_ROW) {
        if (removing && count % 1024 == 0) {
            keys = realloc(keys, sizeof *keys * (size_t)(count + 1024));
        }
        if (removing) {
            keys[count] = sqlite3_column_int64(rows, 0);
        }
        for (int column = 0; column < sqlite3_column_count(rows); ++column) {
            if (sqlite3_column_type(rows, column) == SQLITE_INTEGER) {
                bytes += (size_t)sqlite3_column_int64(rows, column) & 1U;
            } else {
                (void)sqlite3_column_text(rows, column);
                bytes += (size_t)sqlite3_column_bytes(rows, column);
            }
        }
        ++count;
    }
    if (step != SQLITE_DONE) {
        fprintf(stderr, "reference: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_finalize(rows);
    for (long i = 0; removing && i < count; ++i) {
        sqlite3_bind_int64(removal, 1, keys[i]);
        if (sqlite3_step(removal) != SQLITE_DONE) {
            fprintf(stderr, "reference: %s\n", sqlite3_errmsg(db));
            return 1;
        }
        sqlite3_reset(removal);
    }
    if (removing && sqlite3_exec(db, "COMMIT", NULL, NULL, NULL) != SQLITE_OK) {
        fprintf(stderr, "reference: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_finalize(removal);
    free(keys);
    sqlite3_close(db);
    printf("%ld rows, %zu bytes\n", count, bytes);
    return 0;
}
