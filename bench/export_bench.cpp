// Times the text export of marked rows: 1 000 000 marked rows of a linked
// table with 12 fields (key, 5 doubles, 3 longs, 2 texts, a date), about 2 %
// of the cells Null, every row marked and predicted. Then the database export
// of the first 100 000 of them: into a new file, and into another program's
// file (one small table, with a rollback journal and with a log). Prints each
// run and the median of five.
//
//   export_bench [rows] [folder]
#include "BenchFolder.h"
#include "BenchSql.h"
#include "CDataDef.h"
#include "CMarkedRows.h"
#include "CProject.h"
#include "CRegSettings.h"
#include "CSqlMachine.h"
#include "ExportContext.h"
#include "MExport.h"
#include "MdbUtils.h"

#include "ui/testing.h"

#include <QCoreApplication>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>

namespace {

// Runs export five times, each after prepare; prints each run and returns the median.
double Median(const char* what, const std::function<void()>& prepare, const std::function<bool()>& exportRows) {
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        prepare();
        const auto t0 = std::chrono::steady_clock::now();
        const std::clock_t c0 = std::clock();
        const bool ok = exportRows();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        std::printf("%s, run %d: %.3f s (cpu %.3f s) %s\n", what, run + 1, times.back(),
                    double(std::clock() - c0) / CLOCKS_PER_SEC, ok ? "" : "FAILED");
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

bool WriteRows(const std::string& path, long rows) {
    RowWriter writer(path, "", "Rows", 12, kFastBegin);
    if (!writer.Ready()) return false;
    sqlite3_stmt* st = writer.Row();
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const char* kinds[] = {"alpha", "beta", "gamma", "delta"};
    char text[32];
    for (long r = 1; r <= rows; ++r) {
        sqlite3_bind_int64(st, 1, r);
        for (int c = 2; c <= 12; ++c) {
            if (c > 2 && unit(rng) < 0.02) {
                sqlite3_bind_null(st, c);
            } else if (c <= 6) {
                sqlite3_bind_double(st, c, unit(rng) * 2000.0 - 500.0);
            } else if (c <= 9) {
                sqlite3_bind_int64(st, c, std::int64_t(unit(rng) * 100000));
            } else if (c == 10) {
                sqlite3_bind_text(st, c, kinds[r % 4], -1, SQLITE_STATIC);
            } else if (c == 11) {
                std::snprintf(text, sizeof text, "item %06ld", long(unit(rng) * 999999));
                sqlite3_bind_text(st, c, text, -1, SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_double(st, c, 40000.0 + std::floor(unit(rng) * 5000.0) + unit(rng));
            }
        }
        if (!writer.Add()) return false;
    }
    writer.Commit();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::filesystem::path folder = BenchFolder(argc, argv, "tessary-export-bench");
    const std::string dataPath = (folder / "data.db").string();
    ui::ScopedRecorder dialogs;

    {
        auto db = dao::DBEngine::CreateDatabase(dataPath, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Rows (ID LONG CONSTRAINT PrimaryKey PRIMARY KEY, A DOUBLE, B DOUBLE, C DOUBLE, "
                    "D DOUBLE, E DOUBLE, F LONG, G LONG, H LONG, Kind TEXT(10), Label TEXT(20), Seen DATETIME);");
    }
    if (!WriteRows(dataPath, rows)) return 1;

    auto project = std::make_shared<CProject>();
    project->Create((folder / "bench.txp").string());
    project->AttachDataSource(dataPath, "Rows");
    auto def = std::make_shared<CDataDef>();
    {
        DatabasePtr db = project->OpenProject(false);
        def->Initialize(db, "LinkDataSource");
        for (int16_t i = 0; i < def->FieldCount(); ++i)
            if (def->FieldName(i) == "Kind") def->SetUserMatchType(i, 15);
        MdbUtils::CreateTestTable(*project, *def);
        db->Execute("UPDATE Test SET Mark=-1, Predicted=1");
    }
    project->SaveConfig("TestKeyMin", "1");
    project->SaveConfig("TestKeyMax", std::to_string(rows / 2));
    auto sql = std::make_shared<CSqlMachine>();
    sql->Initialize(def, project);
    auto settings = std::make_shared<CRegSettings>();
    settings->SetAppName("ExportBench");

    ExportContext ctx;
    ctx.project = project;
    ctx.dataDef = def;
    ctx.sqlMachine = sql;
    ctx.regSettings = settings;
    const QString out = QString::fromStdString((folder / "rows.txt").string());
    const double text = Median("text export", [] {}, [&] { return MExport::ExportMarkedRS(ctx, out, 0); });
    {
        // Reading alone: the same query, read in blocks as the export reads it.
        CMarkedRows marked(ctx, 0);
        const auto t0 = std::chrono::steady_clock::now();
        DatabasePtr db = project->OpenProject(false);
        RecordsetPtr rs = db->OpenRecordset(marked.Sql(), dao::RecordsetType::ForwardOnly);
        long blocks = 0;
        while (rs->GetRows(512).vt & VT_ARRAY) ++blocks;
        std::printf("reading alone: %.3f s (%ld blocks)\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), blocks);
    }
    std::printf("text export of %ld marked rows: median %.3f s, %.1f MB\n", rows, text,
                double(std::filesystem::file_size(out.toStdString())) / 1e6);

    const long marked = std::min(rows, 100000L);
    project->OpenProject(false)->Execute("UPDATE Test SET Mark=0 WHERE MainPrimaryKey>" + std::to_string(marked));
    const std::string target = (folder / "rows.mdb").string();
    auto exportTo = [&] { return MExport::MDBExportMarked(ctx, QString::fromStdString(target), 0); };
    auto remove = [&] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(target + suffix);
    };
    const double fresh = Median("database export, new file", remove, exportTo);
    double guest[2] = {};
    for (const bool wal : {false, true}) {
        auto other = [&] {
            remove();
            sqlite3* db = nullptr;
            sqlite3_open(target.c_str(), &db);
            sqlite3_exec(db, wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
            sqlite3_exec(db, "CREATE TABLE log (t TEXT); INSERT INTO log VALUES ('one')", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        };
        guest[wal] = Median(wal ? "database export, another program's file with a log"
                                : "database export, another program's file with a journal",
                            other, exportTo);
    }
    std::printf("database export of %ld marked rows: median %.3f s into a new file, %.3f s into another program's "
                "file with a journal, %.3f s with a log\n",
                marked, fresh, guest[0], guest[1]);
    for (const auto& c : dialogs.calls)
        std::fprintf(stderr, "message box: %s: %s\n", c.title.toStdString().c_str(), c.text.toStdString().c_str());
    project->CloseProject();
    std::filesystem::remove_all(folder);
    return dialogs.calls.empty() ? 0 : 1;
}
