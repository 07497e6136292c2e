// The panels on a 255-field project: how long the live-prediction view takes
// from a keystroke to the shown prediction, and how long the field-selection
// panel and the field statistics view take to fill in (with their repaint).
// Prints the median of each over many runs.
//
//   panels_bench [runs] [folder]
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "BenchSql.h"
#include "BenchTiming.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"
#include "MdbUtils.h"
#include "UFieldSelect.h"
#include "UFieldView.h"
#include "UInteractive.h"
#include "UTextSpin.h"
#include "ui/testing.h"

namespace {

constexpr int kNumeric = 200;
constexpr int kText = 53;  // with the key and the output: 255 fields
constexpr int kRows = 2000;

void Generate(const std::string& path) {
    RowWriter writer(path, CreateGenerated("Wide", "INTEGER", kNumeric, "T", kText), "Wide", kNumeric + kText + 2);
    if (!writer.Ready()) std::exit(2);
    sqlite3_stmt* st = writer.Row();
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0, 100);
    const char* words[] = {"red", "green", "blue", "white"};
    for (int r = 1; r <= kRows; ++r) {
        sqlite3_bind_int(st, 1, r);
        double first = 0;
        for (int i = 0; i < kNumeric; ++i) {
            const double v = std::floor(u(rng) * 10) / 10;
            if (i == 0) first = v;
            sqlite3_bind_double(st, 2 + i, v);
        }
        const int w = int(rng() % 4);
        for (int i = 0; i < kText; ++i) sqlite3_bind_text(st, 2 + kNumeric + i, words[(w + i) % 4], -1, SQLITE_STATIC);
        const char* cls = first > 60 ? "high" : (w < 2 ? "low" : "mid");
        sqlite3_bind_text(st, 2 + kNumeric + kText, cls, -1, SQLITE_STATIC);
        writer.Add();
    }
    writer.Commit();
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
#ifdef TESSARY_CLASSES_DEFAULT
    setenv("TESSARY_CLASSES", TESSARY_CLASSES_DEFAULT, 0);
#endif
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 51;
    // A folder given keeps its other files: only the data file is made anew.
    const std::string dir = BenchFolder(argc, argv, "tessary-panels-bench-" + std::to_string(::getpid()), true);
    ui::ScopedRecorder dialogs;

    const std::string data = dir + "/wide.db";
    std::filesystem::remove(data);
    Generate(data);
    CProject project;
    project.SetFileName(dir + "/wide.txp");
    project.Create();
    project.AttachDataSource(data, "Wide");
    auto dd = std::make_shared<CDataDef>();
    {
        DatabasePtr db = project.OpenProject(false);
        dd->Initialize(db, "LinkDataSource");
        dd->CollectStats(db);
        MdbUtils::CreateTestTable(project, *dd);
        for (int16_t i = 0; i < dd->FieldCount(); ++i) {
            const std::string& name = dd->FieldName(i);
            if (name == "Id") dd->SetUserMatchType(i, MatchType::NotUsed);
            else if (name == "Class") dd->SetUserMatchType(i, MatchType::Output);
            else if (name[0] == 'N') dd->SetUserMatchType(i, MatchType::Numeric);
            else dd->SetUserMatchType(i, MatchType::Text);
        }
        dd->Save(db);
    }
    std::printf("fields %d, rows %d\n", int(dd->FieldCount()), kRows);
    auto trx = std::make_shared<CTRX>();
    if (!trx->Initialize(dd, &project) || !trx->LoadData(1, kRows) || !trx->BuildTree()) {
        std::fprintf(stderr, "no tree\n");
        return 2;
    }
    std::printf("tree nodes %d\n", int(trx->Nodes()));
    auto shared = std::shared_ptr<CProject>(&project, [](CProject*) {});

    // Live prediction: a digit typed and Enter, then the prediction shown.
    UInteractive view;
    view.resize(700, 600);
    view.show();
    view.Initialize(shared, dd, trx);
    view.SetRow(QVariant());
    QTimer* timer = view.findChild<QTimer*>("tmrFirePredict");
    QLabel* prediction = view.findChild<QLabel*>("lblPrediction");
    UTextSpin* first = view.findChildren<UTextSpin*>("utsValue").first();
    QLineEdit* text = first->findChild<QLineEdit*>("txtValue");
    QApplication::setActiveWindow(&view);
    text->setFocus();
    std::vector<double> keystroke;
    for (int i = 0; i < runs; ++i) {
        prediction->setText(QString());
        keystroke.push_back(Ms([&] {
            text->selectAll();
            QTest::keyClick(text, char('1' + i % 9));
            QTest::keyClick(text, Qt::Key_Return);
            // The pause after the last edit is the user's, not the program's: run the timer now.
            timer->start(0);
            while (timer->isActive()) QApplication::processEvents();
            prediction->repaint();
        }));
    }
    std::printf("prediction after a keystroke    median %8.3f ms (%s)\n", Median(keystroke),
                prediction->text().toUtf8().constData());

    std::vector<double> rebuild;
    for (int i = 0; i < std::max(5, runs / 5); ++i)
        rebuild.push_back(Ms([&] {
            view.Initialize(shared, dd, trx);
            view.repaint();
        }));
    std::printf("live-prediction rows built      median %8.3f ms\n", Median(rebuild));

    UFieldSelect select;
    select.resize(300, 500);
    select.show();
    std::vector<double> fieldSelect;
    for (int i = 0; i < runs; ++i)
        fieldSelect.push_back(Ms([&] {
            select.Initialize(dd);
            select.repaint();
        }));
    std::printf("field selection filled          median %8.3f ms\n", Median(fieldSelect));

    UFieldView stats;
    stats.resize(800, 500);
    stats.show();
    std::vector<double> fieldStats;
    for (int i = 0; i < runs; ++i)
        fieldStats.push_back(Ms([&] {
            stats.Initialize(shared, dd);
            stats.repaint();
        }));
    std::printf("field statistics filled         median %8.3f ms\n", Median(fieldStats));

    project.CloseProject();
    if (argc <= 2) std::filesystem::remove_all(dir);
    return 0;
}
