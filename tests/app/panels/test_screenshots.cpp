// Every panel filled from one small project with a real tree, as a person
// would see it; with TESSARY_SCREENSHOTS set the pictures are saved to
// build/screenshots/.
#include "CTRX.h"
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

}  // namespace
