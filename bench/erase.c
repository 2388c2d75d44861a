// SPDX-License-Identifier: Apache-2.0
/* erase <store> replace|remove plain|erased
 *
 * What erasing a private key costs, measured on SQLite alone: replaces the
 * provider configuration of the store's last configuration with another
 * (replace), or deletes that configuration (remove), in one transaction, as
 * `start` and `remove --site` do. With "erased", freed content is overwritten
 * (secure_delete) and the write-ahead log is folded into the file and
 * truncated after the commit, so that no copy of the old key stays in either
 * file; with "plain", neither. Built the plain way, like reference.c. */

#include <sqlite3.h>
#include <stdio.h>
#include <string.h>

static int run(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, NULL, NULL, NULL) != SQLITE_OK) {
        fprintf(stderr, "erase: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    const int replace = argc == 4 && strcmp(argv[2], "replace") == 0;
    const int erased = argc == 4 && strcmp(argv[3], "erased") == 0;
    if (argc != 4 || (!replace && strcmp(argv[2], "remove") != 0) || (!erased && strcmp(argv[3], "plain") != 0)) {
        fputs("Usage: erase <store> replace|remove plain|erased\n", stderr);
        return 2;
    }
    sqlite3* db = NULL;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, NULL) != SQLITE_OK) {
        fprintf(stderr, "erase: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_busy_timeout(db, 5000);
    const char* change = replace ? "UPDATE configurations SET provider_configuration ="
                                   " replace(provider_configuration, '\"privateKey\":\"', '\"privateKey\":\"x')"
                                   " WHERE key = (SELECT max(key) FROM configurations)"
                                 : "DELETE FROM configurations WHERE key = (SELECT max(key) FROM configurations)";
    if (run(db, "PRAGMA synchronous = NORMAL") || run(db, erased ? "PRAGMA secure_delete = ON" : "PRAGMA secure_delete = OFF") ||
        run(db, "BEGIN IMMEDIATE") || run(db, change) || run(db, "COMMIT") ||
        (erased && run(db, "PRAGMA wal_checkpoint(TRUNCATE)"))) {
        return 1;
    }
    /* Left open, as the tool leaves it: closing the last connection would
     * fold the log into the file whatever the mode. */
    return 0;
}
