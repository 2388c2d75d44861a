// SPDX-License-Identifier: Apache-2.0
/* reference <store>
 *
 * The floor of any status: opens the store file with SQLite, reads every
 * configuration row with all of its columns, and prints how many there were.
 * Built the plain way (libsqlite3 linked dynamically, default settings). */

#include <sqlite3.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("Usage: reference <store>\n", stderr);
        return 2;
    }
    sqlite3* db = NULL;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK) {
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
    long count = 0;
    size_t bytes = 0;
    int step;
    while ((step = sqlite3_step(rows)) == SQLITE_ROW) {
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
    sqlite3_close(db);
    printf("%ld rows, %zu bytes\n", count, bytes);
    return 0;
}
