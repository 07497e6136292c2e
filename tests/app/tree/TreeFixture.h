// Generated projects for the tree driver's tests: an SQLite data file written
// directly, then the project built over it as the statistics step builds one.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AppServicesTesting.h"
#include "CDataDef.h"
#include "CProject.h"
#include "MUtilities.h"
#include "MdbUtils.h"
#include "ui/testing.h"

namespace treetest {

inline std::string TempDir(const std::string& tag) {
    static int counter = 0;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tessary-tree-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// Runs SQL on a plain SQLite file; fails the test on error.
inline void Sql(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << (err ? err : "?");
        sqlite3_free(err);
    }
}

inline std::string TextKey(size_t row) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "k'%04zu", row);
    return buf;
}

// A value for the data file: NULL, a number or a text.
struct Cell {
    enum Kind { Null, Num, Text } kind = Null;
    double num = 0;
    std::string text;
    static Cell N() { return {}; }
    static Cell D(double v) { return {Num, v, {}}; }
    static Cell T(std::string s) { return {Text, 0, std::move(s)}; }
};

struct Column {
    std::string name;
    std::string type;       // SQLite declared type: INTEGER, REAL, TEXT, DATETIME ...
    int16_t matchType;      // what the field-selection panel would choose
};

// A project over a generated table. The key column "Id" is the primary key;
// rows are written in a shuffled order so that only ORDER BY gives key order.
class GeneratedProject {
public:
    // textKey: the key is text, keyOf(row) from 1: "k'0001" ... (a quote in every key), in row order.
    GeneratedProject(const std::string& tag, const std::vector<Column>& columns,
                     const std::vector<std::vector<Cell>>& rows, bool shuffle = true, bool textKey = false,
                     std::string (*keyOf)(size_t) = TextKey)
        : dialogs(), dir(TempDir(tag)), dataPath(dir + "/data.db"), projectPath(dir + "/project.txp"),
          mColumns(columns), mTextKey(textKey), mKeyOf(keyOf) {
        WriteData(rows, shuffle);
        project.SetFileName(projectPath);
        project.Create();
        project.AttachDataSource(dataPath, "Data");
        DatabasePtr db = project.OpenProject(false);
        EXPECT_TRUE(db);
        dataDef = std::make_shared<CDataDef>();
        dataDef->Initialize(db, "LinkDataSource");
        dataDef->CollectStats(db);
        MdbUtils::CreateTestTable(project, *dataDef);
        for (int16_t i = 0; i < dataDef->FieldCount(); ++i) {
            int16_t mt = MatchType::NotUsed;
            for (const Column& c : columns)
                if (c.name == dataDef->FieldName(i)) mt = c.matchType;
            if (dataDef->UserMatchType(i) != MatchType::Unusable) dataDef->SetUserMatchType(i, mt);
        }
        dataDef->Save(db);
    }
    ~GeneratedProject() {
        project.CloseProject();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    int16_t FieldIndex(const std::string& name) const {
        for (int16_t i = 0; i < dataDef->FieldCount(); ++i)
            if (dataDef->FieldName(i) == name) return i;
        return -1;
    }

    // Direct access to the project file, bypassing the database layer.
    sqlite3* OpenRaw() const {
        sqlite3* db = nullptr;
        sqlite3_open(projectPath.c_str(), &db);
        return db;
    }
    // The stored tree as bytes: a long-text column holds one Windows-1252
    // character per byte; a binary one (older builds) the bytes themselves.
    std::string NodeDataBytes() const {
        sqlite3* db = OpenRaw();
        sqlite3_stmt* st = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db, "SELECT NodeData FROM NodeData", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            if (sqlite3_column_type(st, 0) == SQLITE_TEXT) {
                const auto* p = static_cast<const char16_t*>(sqlite3_column_text16(st, 0));
                const size_t n = size_t(sqlite3_column_bytes16(st, 0)) / 2;
                for (size_t i = 0; i < n; ++i) {
                    const int b = MUtilities::Cp1252FromUnicode(p[i]);
                    out.push_back(char(b >= 0 ? b : p[i] <= 0xFF ? p[i] : '?'));
                }
            } else {
                const void* p = sqlite3_column_blob(st, 0);
                out.assign(static_cast<const char*>(p), size_t(sqlite3_column_bytes(st, 0)));
            }
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return out;
    }
    void SetNodeDataBytes(const std::string& bytes) const {
        std::u16string text;
        for (char c : bytes) text.push_back(MUtilities::Cp1252ToUnicode(uint8_t(c)));
        sqlite3* db = OpenRaw();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "UPDATE NodeData SET NodeData = ?", -1, &st, nullptr);
        sqlite3_bind_text16(st, 1, text.data(), int(text.size() * 2), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    // Test rows by key (the row number for text keys): (Predicted, Actual).
    std::map<long, std::pair<int, int>> TestRows() const {
        std::map<long, std::pair<int, int>> out;
        sqlite3* db = OpenRaw();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT MainPrimaryKey, Predicted, Actual FROM Test", -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            long key = sqlite3_column_int(st, 0);
            if (mTextKey) {
                const std::string text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                key = std::stol(text.substr(2));
            }
            out[key] = {sqlite3_column_int(st, 1), sqlite3_column_int(st, 2)};
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return out;
    }

    ui::ScopedRecorder dialogs;  // every message box is recorded, none is shown
    std::string dir, dataPath, projectPath;
    CProject project;
    std::shared_ptr<CDataDef> dataDef;
    app::ScopedFakeShell shell;

private:
    void WriteData(const std::vector<std::vector<Cell>>& rows, bool shuffle) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dataPath.c_str(), &db), SQLITE_OK);
        // "INT", not "INTEGER": the key is then no row id, and a scan without ORDER BY
        // returns the rows in their shuffled order of writing.
        std::string create = std::string("CREATE TABLE Data (Id ") + (mTextKey ? "TEXT" : "INT") + " PRIMARY KEY";
        for (const Column& c : mColumns) create += ", \"" + c.name + "\" " + c.type;
        Sql(db, create + ")");
        Sql(db, "BEGIN");
        std::string insert = "INSERT INTO Data VALUES (?";
        for (size_t i = 0; i < mColumns.size(); ++i) insert += ",?";
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &st, nullptr), SQLITE_OK);
        std::vector<size_t> order(rows.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        if (shuffle) std::shuffle(order.begin(), order.end(), std::mt19937(11));
        for (size_t i : order) {
            if (mTextKey) sqlite3_bind_text(st, 1, mKeyOf(i + 1).c_str(), -1, SQLITE_TRANSIENT);
            else sqlite3_bind_int64(st, 1, sqlite3_int64(i + 1));
            for (size_t c = 0; c < mColumns.size(); ++c) {
                const Cell& v = rows[i][c];
                if (v.kind == Cell::Null) sqlite3_bind_null(st, int(c + 2));
                else if (v.kind == Cell::Num) sqlite3_bind_double(st, int(c + 2), v.num);
                else sqlite3_bind_text(st, int(c + 2), v.text.c_str(), -1, SQLITE_TRANSIENT);
            }
            EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        Sql(db, "COMMIT");
        sqlite3_close(db);
    }

    std::vector<Column> mColumns;
    bool mTextKey = false;
    std::string (*mKeyOf)(size_t) = TextKey;
};


// A copy of the committed sample project (iris.txp over iris.mdb) in a scratch
// folder, so that the samples stay clean.
inline std::string CopySampleProject(const std::string& tag) {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const std::string samples = std::string(src ? src : ".") + "/samples";
    const std::string dir = TempDir(tag);
    for (const char* f : {"iris.mdb", "iris.txp"}) {
        std::filesystem::copy_file(samples + "/" + f, dir + "/" + f);
        std::filesystem::permissions(dir + "/" + f, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    return dir;
}

}  // namespace treetest
