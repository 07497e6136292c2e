// The whole road headless on a generated 1 000 000-row table with 20 input
// fields: create the project, link, collect statistics, create Test, load the
// training rows 1-700 000, build at prune rate 75, save the tree, classify
// rows 700 001-1 000 000, re-prune at another rate. Prints the time of each
// step, and the median of prune-rate changes to rates not used before, each
// redrawn on the tree-graph panel (flow chart up to 128 leaves, rule tree above)
// when the panel is built.
//
//   workflow_bench [rows] [folder] [text]
// A folder given is kept, with the project and the linked file, afterwards.
// "text" makes the key a text ("r0000001" ...) instead of a whole number.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "BenchFolder.h"
#include "BenchSql.h"
#include "BenchTiming.h"
#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"
#include "MdbUtils.h"
#include "ui/testing.h"

#ifdef WORKFLOW_BENCH_PANEL
#include <QApplication>

#include <algorithm>
#include <vector>

#include "UTreeGraph.h"
#endif

namespace {

constexpr int kNumeric = 14;
constexpr int kCategorical = 6;

double Step(const char* name, const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-28s %8.3f s\n", name, s);
    std::fflush(stdout);
    return s;
}

// Numeric fields N1..N14 (a few missing), categorical C1..C6, output Class
// with four values that depend on some of the inputs plus noise.
void Generate(const std::string& path, long rows, bool textKeys) {
    RowWriter writer(path, CreateGenerated("Big", textKeys ? "TEXT" : "INTEGER", kNumeric, "C", kCategorical), "Big",
                     kNumeric + kCategorical + 2);
    if (!writer.Ready()) std::exit(2);
    sqlite3_stmt* st = writer.Row();
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(0, 100);
    const char* classes[] = {"alpha", "beta", "gamma", "delta"};
    std::string cat[kCategorical];
    char key[24];
    for (long r = 1; r <= rows; ++r) {
        if (textKeys) {
            std::snprintf(key, sizeof key, "r%07ld", r);
            sqlite3_bind_text(st, 1, key, -1, SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_int64(st, 1, r);
        }
        double n[kNumeric];
        for (int i = 0; i < kNumeric; ++i) {
            n[i] = std::floor(u(rng) * 10) / 10;
            if ((rng() & 63) == 0) sqlite3_bind_null(st, 2 + i);
            else sqlite3_bind_double(st, 2 + i, n[i]);
        }
        int cv[kCategorical];
        for (int i = 0; i < kCategorical; ++i) {
            cv[i] = int(rng() % unsigned(3 + i));
            cat[i] = "v" + std::to_string(cv[i]);
            sqlite3_bind_text(st, 2 + kNumeric + i, cat[i].c_str(), -1, SQLITE_TRANSIENT);
        }
        int cls = n[0] < 30 ? 0 : (n[1] > 60 ? 1 : (cv[0] == 1 ? 2 : 3));
        if (cls == 3 && n[2] < 20) cls = 0;
        if ((rng() % 100) < 8) cls = int(rng() % 4);
        sqlite3_bind_text(st, 2 + kNumeric + kCategorical, classes[cls], -1, SQLITE_STATIC);
        writer.Add();
    }
    writer.Commit();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef TESSARY_CLASSES_DEFAULT
    setenv("TESSARY_CLASSES", TESSARY_CLASSES_DEFAULT, 0);
#endif
#ifdef WORKFLOW_BENCH_PANEL
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
#endif
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string dir = BenchFolder(argc, argv, "tessary-bench-" + std::to_string(::getpid()));
    const std::string data = dir + "/big.db";
    const std::string projectPath = dir + "/big.txp";
    const long trainHigh = rows * 7 / 10;
    const bool textKeys = argc > 3 && std::string(argv[3]) == "text";

    ui::ScopedRecorder dialogs;  // headless: message boxes are recorded
    CProject project;
    auto dataDef = std::make_shared<CDataDef>();
    DatabasePtr db;
    CTRX trx;
    bool ok = true;
    double road = 0;
    try {
        Step("generate table", [&] { Generate(data, rows, textKeys); });
        road += Step("create project + link", [&] {
            project.SetFileName(projectPath);
            project.Create();
            project.AttachDataSource(data, "Big");
            db = project.OpenProject(false);
        });
        road += Step("collect statistics", [&] {
            dataDef->Initialize(db, "LinkDataSource");
            dataDef->CollectStats(db);
        });
        road += Step("create Test", [&] {
            MdbUtils::CreateTestTable(project, *dataDef);
            for (int16_t i = 0; i < dataDef->FieldCount(); ++i) {
                const std::string& name = dataDef->FieldName(i);
                int16_t mt = MatchType::NotUsed;
                if (name == "Class") mt = MatchType::Output;
                else if (name[0] == 'N') mt = MatchType::Numeric;
                else if (name[0] == 'C') mt = MatchType::Text;
                if (dataDef->UserMatchType(i) != MatchType::Unusable) dataDef->SetUserMatchType(i, mt);
            }
            dataDef->Save(db);
        });
        road += Step("load training rows", [&] {
            ok = ok && trx.Initialize(dataDef, &project) && trx.LoadData(1, int32_t(trainHigh));
        });
        road += Step("build (prune rate 75)", [&] {
            trx.SetPruneRate(75);
            ok = ok && trx.BuildTree();
        });
        road += Step("save tree", [&] { trx.SaveTree(&project); });
        road += Step("classify test rows", [&] { trx.Classify(int32_t(trainHigh + 1), int32_t(rows)); });
        // Only the rate changed: the engine prunes the tree it grew again.
        road += Step("re-prune (prune rate 50)", [&] {
            trx.SetPruneRate(50);
            ok = ok && trx.BuildTree();
        });
#ifdef WORKFLOW_BENCH_PANEL
        {
            UTreeGraph panel;
            panel.resize(900, 600);
            panel.show();
            std::vector<double> whole, prune;
            // Rates not pruned at before in this run: each change prunes the grown tree afresh.
            const float rates[] = {55.0f, 60.0f, 45.0f, 65.0f, 70.0f, 40.0f, 80.0f};
            for (const float rate : rates) {
                const auto t0 = std::chrono::steady_clock::now();
                trx.SetPruneRate(rate);
                ok = ok && trx.BuildTree();
                const auto t1 = std::chrono::steady_clock::now();
                panel.SetTreeType(trx.LeafCount() <= 128 ? 1 : 0);
                trx.Display(*panel.DisplayTarget());
                trx.SetContrast(*panel.DisplayTarget(), 2, 50);
                QCoreApplication::processEvents();
                const auto t2 = std::chrono::steady_clock::now();
                whole.push_back(std::chrono::duration<double>(t2 - t0).count());
                prune.push_back(std::chrono::duration<double>(t1 - t0).count());
            }
            std::printf("%-28s %8.3f s  (median of %zu new rates, %s; the engine's re-prune %.3f s of it)\n",
                        "prune-rate change + redraw", Median(whole), whole.size(),
                        trx.LeafCount() <= 128 ? "flow chart" : "rule tree", Median(prune));
        }
#endif
    } catch (...) {
        const app::ErrInfo e = app::CurrentError();
        std::fprintf(stderr, "error %ld: %s\n", e.number, e.description.c_str());
        ok = false;
    }
    for (const auto& m : dialogs.Messages())
        std::fprintf(stderr, "message: %s | %s\n", m.title.toStdString().c_str(), m.text.toStdString().c_str());
    std::printf("%-28s %8.3f s\n", "whole road (no generation)", road);
    std::printf("rows loaded %d, nodes %d, leaves %d\n", ok ? trx.LoadCount() : -1, trx.Nodes(), trx.LeafCount());
    project.CloseProject();
    db.reset();
    if (argc <= 2) std::filesystem::remove_all(dir);  // a folder given keeps the files for other tools
    return ok ? 0 : 1;
}
