// The browse grid over a linked table of a million rows, offscreen: the first
// page shown, a jump to the last row, a sorted first page, a search without a
// match, one row's mark toggled with Space, marking every row of the view and
// of the whole table. Each step runs
// four times; the medians are printed, and the peak resident memory.
// Then the time of a new page at the start, the middle and the end of the
// view, read through the grid's model once its count is in: all rows, sorted
// on a text column, each after a mark made before the count, the unmarked
// rows after a mark, and all rows of the same table linked through ODBC (the
// SQLite ODBC driver, when installed).
//
//   grid_bench [rows] [folder]
// A folder given is kept, with the project and the linked file, afterwards.
// With TESSARY_SCREENSHOTS set (a folder), a PNG of the grid is written there.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "BenchSql.h"
#include "BenchTiming.h"
#include "CBrowseAll.h"
#include "CBrowseGrid.h"
#include "CDataControl.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "MBrowseSql.h"
#include "MMarks.h"
#include "MdbUtils.h"
#include "UGrid.h"
#include "ui/testing.h"

namespace {

constexpr int kNumeric = 14;
constexpr int kCategorical = 5;

void Generate(const std::string& path, long rows) {
    RowWriter writer(path, CreateGenerated("Big", "INTEGER", kNumeric, "C", kCategorical), "Big",
                     kNumeric + kCategorical + 2);
    if (!writer.Ready()) std::exit(2);
    sqlite3_stmt* st = writer.Row();
    std::mt19937_64 rng(1);
    const char* classes[] = {"alpha", "beta", "gamma", "delta"};
    for (long r = 1; r <= rows; ++r) {
        sqlite3_bind_int64(st, 1, r);
        for (int i = 0; i < kNumeric; ++i) sqlite3_bind_double(st, 2 + i, double(rng() % 1000) / 10);
        for (int i = 0; i < kCategorical; ++i) {
            const std::string v = "v" + std::to_string(rng() % unsigned(3 + i));
            sqlite3_bind_text(st, 2 + kNumeric + i, v.c_str(), -1, SQLITE_TRANSIENT);
        }
        sqlite3_bind_text(st, 2 + kNumeric + kCategorical, classes[rng() % 4], -1, SQLITE_STATIC);
        writer.Add();
    }
    writer.Commit();
}

constexpr const char* kOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// Milliseconds of a new page at the start (the second page), the middle and
// the end of the model's rows: the median of five pages read one after another.
std::vector<double> PageTimes(CBrowseModel* model) {
    const long rows = model->Count();
    const long page = CBrowseModel::PageRows;
    std::vector<double> out;
    for (long base : {page, rows / 2 / page * page, (rows - 5 * page) / page * page}) {
        std::vector<double> t;
        for (long p = 0; p < 5; ++p) t.push_back(Ms([&] { model->Value(int(base + p * page), 0); }));
        out.push_back(Median(t));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string dir = BenchFolder(argc, argv, "tessary-grid-bench-" + std::to_string(::getpid()));
    ui::ScopedRecorder dialogs;

    Generate(dir + "/big.db", rows);
    auto project = std::make_shared<CProject>();
    project->SetFileName(dir + "/big.txp");
    project->Create();
    project->AttachDataSource(dir + "/big.db", "Big");
    const auto defineData = [](CProject& p) {
        auto d = std::make_shared<CDataDef>();
        DatabasePtr db = p.OpenProject(false);
        d->Initialize(db, "LinkDataSource");
        for (int16_t i = 0; i < d->FieldCount(); ++i) {
            const std::string& name = d->FieldName(i);
            d->SetUserMatchType(i, name == "Class" ? MatchType::Output
                                   : name[0] == 'N' ? MatchType::Numeric
                                   : name[0] == 'C' ? MatchType::Text
                                                    : MatchType::NotUsed);
        }
        d->Save(db);
        MdbUtils::CreateTestTable(p, *d);
        return d;
    };
    auto def = defineData(*project);
    CSqlMachine sql;
    sql.Initialize(def, project);
    const QString source = QString::fromStdString(sql.GetSql());
    std::map<std::string, std::vector<double>> times;
    constexpr int kRuns = 4;

    for (int run = 0; run < kRuns; ++run) {
        UGrid grid;
        grid.resize(1000, 600);
        grid.show();
        // First page: the source set, the view bound, the grid painted.
        times["first page shown"].push_back(Ms([&] {
            grid.SetDatabaseName(QString::fromStdString(project->FileName()));
            grid.SetRecordSource(source);
            auto view = std::make_shared<CBrowseAll>();
            view->Initialize(def);
            grid.SetDataBrowse(view);
            grid.grab();
        }));
        CBrowseModel* model = grid.Grid()->Model();
        times["row count (background)"].push_back(Ms([&] { model->Count(); }));
        if (model->Count() != rows) std::fprintf(stderr, "count %ld, expected %ld\n", model->Count(), rows);
        times["jump to last row"].push_back(Ms([&] {
            grid.Grid()->SetCol(4);
            grid.Grid()->SetRow(int(rows - 1));
            grid.grab();
        }));
        if (run == 0 && qEnvironmentVariableIsSet("TESSARY_SCREENSHOTS")) {
            const QString out = qEnvironmentVariable("TESSARY_SCREENSHOTS");
            QDir().mkpath(out);
            grid.grab().save(out + "/grid_million_last_rows.png");
        }
        // A find with no match, down from the last row and round from the first.
        grid.Grid()->SetRow(0);
        std::string criterion;
        MBrowseSql::FindCriterion("C1", 10, "no such value", false, criterion);
        times["find, no match"].push_back(Ms([&] {
            grid.Data()->FindNext(criterion);
            grid.Data()->FindFirst(criterion);
        }));
        // Sorted first page: the sort's new source and the paint.
        sql.AddSort(run % 2 ? "N3" : "N5", run % 2 == 1);
        const QString sorted = QString::fromStdString(sql.GetSql());
        times["sorted first page"].push_back(Ms([&] {
            grid.SetRecordSource(sorted);
            grid.grab();
        }));
        times["sorted row count"].push_back(Ms([&] { model->Count(); }));
        times["sorted jump to last row"].push_back(Ms([&] {
            grid.Grid()->SetRow(int(rows - 1));
            grid.grab();
        }));
        sql.SetBrowseType(0);  // drops the sort keys
        grid.SetRecordSource(source);
        model->Count();
        // One row's mark, as a person toggles it, and the row painted again.
        grid.Grid()->SetRow(2);
        times["one mark (Space)"].push_back(Ms([&] {
            QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QApplication::sendEvent(grid.Grid()->SplitView(1), &space);
            grid.grab();
        }));
        times["mark all rows (view)"].push_back(Ms([&] { MMarks::CurrentMarkAll(grid, *def, MMarks::ModeMark); }));
        times["mark whole table"].push_back(
            Ms([&] { MMarks::MarkCluster(grid, *project, *def, "UPDATE Test SET Mark = [Mark] Xor -1;"); }));
        grid.Disconnect();
    }
    // A new page at the start, middle and end of each view.
    std::vector<std::pair<std::string, std::vector<double>>> pages;
    const auto pagesOf = [&](const std::string& what, const std::shared_ptr<CProject>& p,
                             const std::shared_ptr<CDataDef>& d, const QString& sqlText, bool markFirst) {
        UGrid grid;
        grid.resize(1000, 600);
        grid.show();
        grid.SetDatabaseName(QString::fromStdString(p->FileName()));
        grid.SetRecordSource(sqlText);
        auto view = std::make_shared<CBrowseAll>();
        view->Initialize(d);
        grid.SetDataBrowse(view);
        CBrowseModel* model = grid.Grid()->Model();
        if (markFirst) {
            if (model->CountKnown()) std::fprintf(stderr, "%s: the count came before the mark\n", what.c_str());
            grid.Grid()->SetRow(2);
            QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QApplication::sendEvent(grid.Grid()->SplitView(1), &space);
        }
        const double count = Ms([&] { model->Count(); });
        if (model->Count() != rows) std::fprintf(stderr, "%s: count %ld, expected %ld\n", what.c_str(), model->Count(), rows);
        std::vector<double> t = PageTimes(model);
        t.push_back(count);
        pages.emplace_back(what, t);
        if (markFirst) MMarks::MarkCluster(grid, *p, *d, "UPDATE Test SET Mark = 0;");
        grid.Disconnect();
    };
    sql.SetBrowseType(0);
    pagesOf("all rows", project, def, source, false);
    pagesOf("all rows, a mark first", project, def, source, true);
    sql.SetMarkView(2);
    pagesOf("unmarked rows, a mark first", project, def, QString::fromStdString(sql.GetSql()), true);
    sql.SetMarkView(0);
    sql.AddSort("C1", false);
    const QString sortedText = QString::fromStdString(sql.GetSql());
    pagesOf("sorted on a text column", project, def, sortedText, false);
    pagesOf("sorted, a mark first", project, def, sortedText, true);
    sql.SetBrowseType(0);
    if (std::filesystem::exists(kOdbcDriver)) {
        std::ofstream(dir + "/odbcinst.ini") << "[Lite]\nDriver=" << kOdbcDriver << "\n";
        std::ofstream(dir + "/odbc.ini") << "[big]\nDriver=Lite\nDatabase=" << dir << "/big.db\n";
        ::setenv("ODBCSYSINI", dir.c_str(), 1);
        ::setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
        ::setenv("TESSARY_CACHE", (dir + "/cache").c_str(), 1);
        auto odbc = std::make_shared<CProject>();
        odbc->SetFileName(dir + "/big-odbc.txp");
        odbc->Create();
        odbc->AttachDataSource("ODBC;DSN=big", "Big");
        pagesOf("linked through ODBC", odbc, defineData(*odbc), source, false);
        odbc->CloseProject();
    }
    std::printf("new page of %d rows, ms at the start / middle / end, and the wait for the count:\n",
                CBrowseModel::PageRows);
    for (const auto& [what, t] : pages)
        std::printf("  %-26s %8.1f %8.1f %8.1f   (count %.0f ms)\n", what.c_str(), t[0], t[1], t[2], t[3]);

    for (const auto& m : dialogs.Messages())
        std::fprintf(stderr, "message: %s | %s\n", m.title.toStdString().c_str(), m.text.toStdString().c_str());
    std::printf("grid over %ld rows, median of %d runs:\n", rows, kRuns);
    for (const char* step : {"first page shown", "row count (background)", "jump to last row", "sorted first page",
                             "sorted row count", "sorted jump to last row", "find, no match", "one mark (Space)",
                             "mark all rows (view)",
                             "mark whole table"}) {
        const auto& v = times[step];
        std::printf("  %-26s %9.1f ms   (", step, Median(v));
        for (double t : v) std::printf(" %.1f", t);
        std::printf(" )\n");
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("  peak resident memory     %9.1f MB\n", double(ru.ru_maxrss) / 1024);
    project->CloseProject();
    if (argc <= 2) std::filesystem::remove_all(dir);  // a folder given keeps the files for other tools
    return dialogs.Messages().empty() ? 0 : 1;
}
