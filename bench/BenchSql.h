// The SQLite frame of the benchmarks' data generators: a statement run, and a
// table filled in one transaction through one prepared INSERT.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// A failure ends the program.
inline void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql.c_str(), err ? err : "?");
        std::exit(2);
    }
}

// The generated tables' shape: a key Id of `keyType`, `numeric` fields N1..
// REAL, `texts` fields named `text` 1.. TEXT, and the output Class TEXT.
inline std::string CreateGenerated(const std::string& table, const std::string& keyType, int numeric,
                                   const std::string& text, int texts) {
    std::string create = "CREATE TABLE " + table + " (Id " + keyType + " PRIMARY KEY";
    for (int i = 1; i <= numeric; ++i) create += ", N" + std::to_string(i) + " REAL";
    for (int i = 1; i <= texts; ++i) create += ", " + text + std::to_string(i) + " TEXT";
    return create + ", Class TEXT)";
}

// A transaction without a journal, the fastest way to fill a file made for the run.
inline constexpr const char* kFastBegin = "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;";

// `create`, when not empty, makes the table first; `begin` opens the
// transaction (a generator may turn the journal off in it). Not Ready when the
// file does not open or the INSERT of `values` parameters does not prepare;
// what Commit does not reach is rolled back.
class RowWriter {
public:
    RowWriter(const std::string& path, const std::string& create, const std::string& table, int values,
              const std::string& begin = "BEGIN") {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) return;
        if (!create.empty()) Exec(db_, create);
        Exec(db_, begin);
        std::string insert = "INSERT INTO " + table + " VALUES (?";
        for (int i = 1; i < values; ++i) insert += ",?";
        sqlite3_prepare_v2(db_, (insert + ")").c_str(), -1, &st_, nullptr);
    }
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;
    ~RowWriter() {
        sqlite3_finalize(st_);
        sqlite3_close(db_);
    }

    bool Ready() const { return st_ != nullptr; }
    // The statement whose parameters take the next row.
    sqlite3_stmt* Row() const { return st_; }
    // Writes the row bound; false when it was not written.
    bool Add() {
        const bool done = sqlite3_step(st_) == SQLITE_DONE;
        sqlite3_reset(st_);
        return done;
    }
    void Commit() {
        sqlite3_finalize(st_);
        st_ = nullptr;
        Exec(db_, "COMMIT");
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* st_ = nullptr;
};
