// Times statistics collection (field statistics and value tables) over a
// linked table of 1 000 000 rows and 20 fields: 10 numeric (7 continuous,
// 3 coded with few values), 8 text with up to 200 values, 2 dates; about 3 %
// of the cells are missing.
//
//   stats_bench [rows] [folder]
//
// The data file is written with plain SQLite into a table declared through the
// database layer, so the layer reads back the same types it would have made.
#include "BenchFolder.h"
#include "BenchSql.h"
#include "CDataDef.h"
#include "CProject.h"

#include "ui/testing.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool Fill(const std::string& path, long rows) {
    RowWriter writer(path, "", "Data", 21, kFastBegin);
    if (!writer.Ready()) return false;
    sqlite3_stmt* st = writer.Row();
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto missing = [&] { return unit(rng) < 0.03; };
    char text[32];
    for (long r = 1; r <= rows; ++r) {
        int col = 1;
        sqlite3_bind_int64(st, col++, r);
        for (int i = 0; i < 10; ++i, ++col) {
            if (missing()) sqlite3_bind_null(st, col);
            else if (i < 7) sqlite3_bind_double(st, col, unit(rng) * 1000.0 - 250.0);
            else sqlite3_bind_int64(st, col, std::int64_t(unit(rng) * (5 + i * 10)));
        }
        for (int i = 0; i < 8; ++i, ++col) {
            if (missing()) {
                sqlite3_bind_null(st, col);
                continue;
            }
            const int values = 200 - i * 25;
            std::snprintf(text, sizeof text, "value %03d", int(unit(rng) * values));
            sqlite3_bind_text(st, col, text, -1, SQLITE_TRANSIENT);
        }
        for (int i = 0; i < 2; ++i, ++col) {
            if (missing()) sqlite3_bind_null(st, col);
            else sqlite3_bind_double(st, col, 36526.0 + std::floor(unit(rng) * 3650.0) + (i ? unit(rng) : 0.0));
        }
        if (!writer.Add()) return false;
    }
    writer.Commit();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::filesystem::path folder = BenchFolder(argc, argv, "tessary-stats-bench");
    const std::string dataPath = (folder / "data.db").string();
    const std::string projectPath = (folder / "bench.txp").string();
    ui::ScopedRecorder dialogs;  // any message box is a failure, reported below

    auto t0 = std::chrono::steady_clock::now();
    {
        auto db = dao::DBEngine::CreateDatabase(dataPath, dao::dbLangGeneral);
        std::string ddl = "CREATE TABLE Data (ID LONG CONSTRAINT PrimaryKey PRIMARY KEY";
        for (int i = 0; i < 10; ++i) ddl += ", Num" + std::to_string(i) + (i < 7 ? " DOUBLE" : " LONG");
        for (int i = 0; i < 8; ++i) ddl += ", Txt" + std::to_string(i) + " TEXT(20)";
        ddl += ", Day0 DATETIME, Day1 DATETIME);";
        db->Execute(ddl);
        db->Close();
    }
    if (!Fill(dataPath, rows)) {
        std::fprintf(stderr, "could not fill %s\n", dataPath.c_str());
        return 1;
    }
    std::printf("data: %ld rows x 21 columns (key + 20 fields) in %.2f s\n", rows, Seconds(t0));

    CProject project;
    project.Create(projectPath);
    project.AttachDataSource(dataPath, "Data");
    DatabasePtr db = project.OpenProject(false);
    if (!db) return 1;
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    int events = 0;
    def.OnProgress = [&](int16_t) { ++events; };

    t0 = std::chrono::steady_clock::now();
    def.CollectStats(db);
    const double stats = Seconds(t0);

    int tables = 0;
    for (int16_t i = 0; i < def.FieldCount(); ++i) tables += def.MaxClass(i) > 0;
    std::printf("CollectStats: %.2f s  (%d fields, %d value tables, %d progress events, RecordCount %d, done %s)\n",
                stats, int(def.FieldCount()), tables, events, def.RecordCount(), def.InitDone() ? "yes" : "no");
    for (int16_t i = 0; i < def.FieldCount(); ++i)
        std::printf("  %-5s %-10s max %12.3f min %12.3f avg %12.3f sd %10.3f missing %6d classes %3d\n",
                    def.FieldName(i).c_str(), MdbUtils::FieldTypeName(def.FieldType(i)).c_str(), def.FieldMax(i),
                    def.FieldMin(i), def.FieldAvg(i), def.FieldStdDev(i), def.MissingValues(i), def.MaxClass(i));
    for (const auto& c : dialogs.calls)
        std::fprintf(stderr, "message box: %s: %s\n", c.title.toStdString().c_str(), c.text.toStdString().c_str());
    db.reset();
    project.CloseProject();
    std::filesystem::remove_all(folder);
    return dialogs.calls.empty() && def.InitDone() ? 0 : 1;
}
