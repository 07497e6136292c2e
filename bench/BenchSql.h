// Runs a statement of a benchmark's data generator; a failure ends the program.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql.c_str(), err ? err : "?");
        std::exit(2);
    }
}
