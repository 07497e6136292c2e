// Every panel filled from one small project with a real tree, as a person
// would see it; with TESSARY_SCREENSHOTS set the pictures are saved to
// build/screenshots/.
#include "CClassNames.h"
#include "CTRX.h"
#include "IShell.h"
#include "PanelTestSupport.h"
#include "TreeFixture.h"
#include "UClassView.h"
#include "UFieldSelect.h"
#include "UFieldView.h"
#include "UInteractive.h"
#include "USetLimits.h"
#include "UTableSelect.h"
#include "UTextSpin.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

using namespace paneltest;
using treetest::Cell;
using treetest::Column;

namespace {

TEST(Screens, EveryPanelFilled) {
    App();
    const std::vector<Column> columns = {{"Petal", "REAL", MatchType::Numeric}, {"Sepal", "REAL", MatchType::Numeric},
                                         {"Colour", "TEXT", MatchType::Text},   {"Seen", "DATETIME", MatchType::Numeric},
                                         {"Note", "TEXT", MatchType::NotUsed},  {"Kind", "TEXT", MatchType::Output}};
    std::vector<std::vector<Cell>> rows;
    std::mt19937 rng(3);
    for (int i = 0; i < 150; ++i) {
        const double petal = std::uniform_int_distribution<int>(10, 70)(rng) / 10.0;
        const double sepal = std::uniform_int_distribution<int>(40, 80)(rng) / 10.0;
        const char* colour = i % 3 == 0 ? "blue" : i % 3 == 1 ? "violet" : "white";
        const char* kind = petal < 2.5 ? "setosa" : petal < 5 ? "versicolor" : "virginica";
        rows.push_back({Cell::D(petal), Cell::D(sepal), Cell::T(colour), Cell::D(45000 + i % 30), Cell::T("n"), Cell::T(kind)});
    }
    treetest::GeneratedProject p("screens", columns, rows);
    p.project.SaveConfig("RecordCount", 150);
    p.project.SaveConfig("DataSourceName", p.dataPath);
    auto project = std::shared_ptr<CProject>(&p.project, [](CProject*) {});
    auto trx = std::make_shared<CTRX>();
    ASSERT_TRUE(trx->Initialize(p.dataDef, &p.project));
    ASSERT_TRUE(trx->LoadData(1, 150));
    ASSERT_TRUE(trx->BuildTree());

    UInteractive live;
    live.resize(520, 330);
    live.show();
    live.Initialize(project, p.dataDef, trx);
    live.SetRow(QVariant());
    auto spins = live.findChildren<UTextSpin*>("utsValue");
    ASSERT_EQ(spins.size(), 3);
    spins[0]->SetValue(6.1);
    QTest::qWait(260);
    EXPECT_EQ(live.findChild<QLabel*>("lblPrediction")->text(), "Kind is virginica");
    Screenshot(live, "panel-live-prediction");

    UFieldSelect select;
    select.resize(270, 360);
    select.show();
    select.Initialize(p.dataDef);
    EXPECT_EQ(select.findChild<QListWidget*>("lstFieldsTo")->count(), 4);
    Screenshot(select, "panel-field-selection");

    USetLimits limits;
    limits.resize(380, 330);
    limits.show();
    limits.Initialize(150, 1, 100, 101, 150);
    EXPECT_EQ(limits.findChild<QLabel*>("lblTestTotal")->text(), "50 Rows");
    Screenshot(limits, "panel-row-ranges");

    UFieldView stats;
    stats.resize(640, 200);
    stats.show();
    stats.Initialize(project, p.dataDef);
    Screenshot(stats, "panel-field-statistics");

    UClassView classes;
    classes.resize(460, 200);
    classes.show();
    classes.Initialize(project);
    classes.SetField("Kind");
    EXPECT_EQ(classes.findChild<QLabel*>("lblCount")->text(), "3 Classes");
    Screenshot(classes, "panel-class-details");
}

// The committed sample project, as the live-prediction command opens it.
TEST(Screens, SampleProjectPredictsAsTheDriver) {
    App();
    ui::ScopedRecorder dialogs;
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const std::string samples = std::string(src ? src : ".") + "/samples";
    const std::string dir = treetest::TempDir("live-sample");
    for (const char* f : {"iris.mdb", "iris.txp"}) {
        std::filesystem::copy_file(samples + "/" + f, dir + "/" + f);
        std::filesystem::permissions(dir + "/" + f, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    auto project = std::make_shared<CProject>();
    project->SetFileName(dir + "/iris.txp");
    DatabasePtr db = project->OpenProject(false);
    ASSERT_TRUE(db);
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Load(db);
    auto trx = std::make_shared<CTRX>();
    ASSERT_TRUE(trx->Initialize(dataDef, project.get()));
    ASSERT_TRUE(trx->LoadData(1, 100));
    ASSERT_TRUE(trx->BuildTree());
    {
        // The sample's data file as the table-selection step shows it.
        struct Source : base::IShell {
            QString path;
            QWidget* AppPanel(const QString&) override { return nullptr; }
            base::IGridPanel* GridPanel() override { return nullptr; }
            QWidget* MainWidget() override { return nullptr; }
            void StatusText(const QString&) override {}
            void StatusRecordCount(int32_t) override {}
            void MenuCommand(const QString&) override {}
            QString SelectDataSource() override { return path; }
            void ShowFieldStats() override {}
        } source;
        source.path = QString::fromStdString(dir + "/iris.mdb");
        base::ScopedShell scope(&source);
        UTableSelect tables;
        tables.resize(260, 320);
        tables.show();
        QObject::connect(&tables, &UTableSelect::TableSelect, [](const QString&, const QString&, bool& valid) { valid = true; });
        tables.findChild<QPushButton*>("cmdOpenFile")->click();
        EXPECT_FALSE(tables.TableName().isEmpty());
        EXPECT_EQ(tables.CurrentRowCount(), 150);
        Screenshot(tables, "panel-table-selection");
    }
    {
        UInteractive live;
        live.resize(520, 300);
        live.show();
        live.Initialize(project, dataDef, trx);
        live.SetRow(QVariant());
        auto spins = live.findChildren<UTextSpin*>("utsValue");
        ASSERT_EQ(int(spins.size()), live.RowCount());
        ASSERT_GE(spins.size(), 2);
        QLabel* prediction = live.findChild<QLabel*>("lblPrediction");
        int16_t output = -1;
        for (int16_t i = 0; i < dataDef->FieldCount() && output < 0; ++i)
            if (dataDef->UserMatchType(i) == MatchType::Output) output = i;
        ASSERT_GE(output, 0);
        CClassNames names;
        names.Initialize(project.get(), dataDef);
        for (double v : {spins[0]->Min(), (spins[0]->Min() + spins[0]->Max()) / 2, spins[0]->Max()}) {
            for (int k = 0; k < live.RowCount(); ++k) spins[size_t(k)]->SetValue(k == 0 ? v : spins[size_t(k)]->Max());
            std::vector<com::Variant> row;
            for (UTextSpin* s : spins) row.push_back(com::Variant::R8(s->Value()));
            row.emplace_back();
            const int16_t cls = trx->PredictRow(row);
            ASSERT_GE(cls, 0);
            const std::string expected = dataDef->FieldName(output) + " is " + names.Class(output, cls);
            // The panel predicts after a pause; a loaded machine may take longer to get there.
            QTest::qWait(260);
            for (int t = 0; t < 50 && prediction->text().toStdString() != expected; ++t) QTest::qWait(100);
            EXPECT_EQ(prediction->text().toStdString(), expected);
        }
        Screenshot(live, "panel-live-prediction-sample");
    }
    project->CloseProject();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace
