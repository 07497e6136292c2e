// The live-prediction view on small trees built by the real engine: rows and
// editors per field kind, predictions for typed, stepped and listed values
// checked against the driver's own prediction, rows loaded by key, and the
// inputs that must never stop the view.
#include "CClassNames.h"
#include "CTRX.h"
#include "PanelTestSupport.h"
#include "TreeFixture.h"
#include "UInteractive.h"
#include "USpin.h"
#include "UTextSpin.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

using namespace paneltest;
using treetest::Cell;
using treetest::Column;
using treetest::GeneratedProject;

namespace {

const std::vector<Column> kColumns = {
    {"X", "REAL", MatchType::Numeric},       {"When", "DATETIME", MatchType::Numeric},
    {"Colour", "TEXT", MatchType::Text},     {"Flag", "BIT", MatchType::Text},
    {"Note", "TEXT", MatchType::NotUsed},    {"Const", "REAL", MatchType::Numeric},
    {"Class", "TEXT", MatchType::Output},
};
constexpr double kFirstDay = 45000;  // 15 March 2023

// The class follows the colour first, then X, the date and the flag.
std::vector<std::vector<Cell>> Rows(int n) {
    std::mt19937 rng(5);
    const char* colours[] = {"red", "blue", "O'Brien"};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < n; ++i) {
        const double x = std::uniform_int_distribution<int>(0, 1000)(rng) / 10.0;
        const double when = kFirstDay + std::uniform_int_distribution<int>(0, 60)(rng);
        const int c = std::uniform_int_distribution<int>(0, 2)(rng);
        const bool flag = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
        std::string cls;
        if (c == 0) cls = x > 50 ? "hot" : "warm";
        else if (c == 1) cls = when > kFirstDay + 30 ? "cold" : "warm";
        else cls = flag ? "hot" : "cold";
        rows.push_back({Cell::D(x), Cell::D(when), Cell::T(colours[c]), Cell::D(flag ? -1 : 0),
                        Cell::T("n" + std::to_string(i)), Cell::D(2.5), Cell::T(cls)});
    }
    return rows;
}

struct Live : AppFirst {
    explicit Live(bool textKey = false, bool build = true)
        : p(textKey ? "live-text" : "live", kColumns, Rows(300), true, textKey) {
        project = std::shared_ptr<CProject>(&p.project, [](CProject*) {});
        trx = std::make_shared<CTRX>();
        EXPECT_TRUE(trx->Initialize(p.dataDef, &p.project));
        if (build) {
            EXPECT_TRUE(trx->LoadData(1, 300));
            EXPECT_TRUE(trx->BuildTree());
        }
        names.Initialize(&p.project, p.dataDef);
        view.resize(520, 400);
        view.Initialize(project, p.dataDef, trx);
        timer = view.findChild<QTimer*>("tmrFirePredict");
        for (auto* s : view.findChildren<UTextSpin*>("utsValue")) spins.push_back(s);
        for (auto* c : view.findChildren<QComboBox*>("cmbValue")) lists.push_back(c);
        prediction = view.findChild<QLabel*>("lblPrediction");
        conf = view.findChild<QLabel*>("lblConf");
    }
    // Lets the pending prediction run now.
    void Flush() {
        if (!timer->isActive()) return;
        timer->setInterval(1);
        timer->start();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !timer->isActive(); }, 5000));
        timer->setInterval(200);
    }
    // The driver's own answer for these editor values, as the view should show it.
    QString Expected(double x, double when, int colour, int flag, double c = 2.5) {
        std::vector<com::Variant> row = {com::Variant::R8(x), com::Variant::R8(when),
                                         colour < 0 ? com::Variant::Null() : com::Variant::I2(int16_t(colour + 1)),
                                         com::Variant::I2(int16_t(flag + 1)), com::Variant::R8(c), com::Variant()};
        const int16_t cls = trx->PredictRow(row);
        if (cls < 0) return "Error:  Bad Input Value|-";
        const float confidence = trx->SingleNormalConfidence(trx->LastPredictNode());
        return QString("Class is %1|%2%").arg(QString::fromStdString(names.Class(p.FieldIndex("Class"), cls)))
            .arg(int(std::nearbyint(confidence)));
    }
    QString Shown() const { return prediction->text() + "|" + conf->text(); }
    int ClassIndex(const std::string& field, const std::string& value) {
        return names.ClassNumber(p.FieldIndex(field), value);
    }

    GeneratedProject p;
    std::shared_ptr<CProject> project;
    std::shared_ptr<CTRX> trx;
    CClassNames names;
    UInteractive view;
    QTimer* timer;
    std::vector<UTextSpin*> spins;
    std::vector<QComboBox*> lists;
    QLabel* prediction;
    QLabel* conf;
};

TEST(LivePrediction, OneRowPerInputWithItsEditorAndRange) {
    Live live;
    ASSERT_EQ(live.view.RowCount(), 5);  // X, When, Colour, Flag, Const: no row for Note or Class
    ASSERT_EQ(live.spins.size(), 3u);
    ASSERT_EQ(live.lists.size(), 2u);
    QStringList shownNames, ranges;
    for (auto* l : live.view.findChildren<QLabel*>("lblFieldName"))
        if (!l->isHidden()) shownNames << l->text();
    EXPECT_EQ(shownNames, (QStringList{"X", "When", "Colour", "Flag", "Const"}));
    for (auto* l : live.view.findChildren<QLabel*>("lblRange"))
        if (!l->isHidden()) ranges << l->text();
    ASSERT_EQ(ranges.size(), 5);
    EXPECT_TRUE(ranges[0].startsWith("( 0") && ranges[0].endsWith(" )")) << ranges[0].toStdString();
    EXPECT_TRUE(ranges[1].startsWith("( 3/15/2023 - ")) << ranges[1].toStdString();
    EXPECT_EQ(ranges[2], "");
    EXPECT_EQ(ranges[4], "( 2.5 - 2.5 )");
    // Lists: item k carries k, the first class chosen.
    QComboBox* colour = live.lists[0];
    ASSERT_EQ(colour->count(), 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(colour->itemData(k).toInt(), k + 1);
    EXPECT_EQ(colour->currentIndex(), 0);
    EXPECT_EQ(live.lists[1]->itemText(0), "-1");  // Yes first, as the engine codes it
    // The spin boxes take the field's range and its step.
    EXPECT_TRUE(live.spins[1]->ShowAsDate());
    EXPECT_EQ(live.spins[1]->SmallChange(), 1);
    EXPECT_EQ(live.spins[2]->DecimalPlaces(), 2);  // min == max: no logarithm taken
    // A field no node tests is grey.
    for (auto* l : live.view.findChildren<QLabel*>("lblFieldName")) {
        if (l->isHidden()) continue;
        const bool inTree = live.trx->IsFieldInTree(l->text().toStdString());
        EXPECT_EQ(l->palette().color(QPalette::WindowText) == QColor(Qt::black), inTree) << l->text().toStdString();
    }
    EXPECT_FALSE(live.trx->IsFieldInTree("Const"));
    // Nothing predicted until a row is set.
    EXPECT_EQ(live.prediction->text(), "");
}

// Tab and Shift+Tab go down and up the rows as shown, spin boxes and lists
// alike and past the arrows, whatever order the editors were made in.
// Tab and Shift+Tab go down and up the rows, and bring each into view whole
// where only two rows fit.
TEST(LivePrediction, TabFollowsTheRowsAsShown) {
    Live live;
    live.view.resize(520, 150);
    live.view.show();
    QApplication::setActiveWindow(&live.view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&live.view));
    const auto box = [](UTextSpin* s) -> QWidget* { return s->findChild<QLineEdit*>("txtValue"); };
    // X, When, Colour, Flag, Const.
    const QList<QWidget*> rows = {box(live.spins[0]), box(live.spins[1]), live.lists[0], live.lists[1],
                                  box(live.spins[2])};
    const auto name = [](QWidget* w) {
        return w ? (w->parentWidget()->objectName() + "/" + w->objectName()).toStdString() : std::string("none");
    };
    QWidget* frame = live.view.findChild<QWidget*>("picFrame");
    const auto inView = [frame](QWidget* w) {
        return frame->rect().contains(QRect(w->mapTo(frame, QPoint(0, 0)), w->size()));
    };
    rows[0]->setFocus();
    for (int i = 1; i < rows.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), rows[i]) << "Tab to row " << i << ", at " << name(QApplication::focusWidget());
        EXPECT_TRUE(inView(rows[i])) << "Tab to row " << i;
    }
    for (int i = int(rows.size()) - 2; i >= 0; --i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), rows[i]) << "Shift+Tab to row " << i << ", at " << name(QApplication::focusWidget());
        EXPECT_TRUE(inView(rows[i])) << "Shift+Tab to row " << i;
    }
}

TEST(LivePrediction, TypedSteppedAndListedValuesPredictAsTheDriver) {
    Live live;
    live.view.show();
    live.view.SetRow(QVariant());
    live.Flush();
    std::mt19937 rng(17);
    int checked = 0;
    for (int round = 0; round < 40; ++round) {
        // X typed.
        const double x = std::uniform_int_distribution<int>(0, 1000)(rng) / 10.0;
        QLineEdit* text = live.spins[0]->findChild<QLineEdit*>("txtValue");
        text->setFocus();
        text->selectAll();
        QTest::keyClicks(text, QString::number(x, 'f', 1));
        QTest::keyClick(text, Qt::Key_Return);
        // The date stepped by the spin button or its keys.
        USpin* spin = live.spins[1]->findChild<USpin*>("uspValue");
        const int steps = std::uniform_int_distribution<int>(-3, 3)(rng);
        for (int s = 0; s < std::abs(steps); ++s) emit spin->Change(steps < 0);
        // Colour and flag listed.
        live.lists[0]->setCurrentIndex(std::uniform_int_distribution<int>(0, 2)(rng));
        live.lists[1]->setCurrentIndex(std::uniform_int_distribution<int>(0, 1)(rng));
        ASSERT_TRUE(live.timer->isActive());
        live.Flush();
        EXPECT_EQ(live.spins[0]->Value(), x);
        EXPECT_EQ(live.Shown(), live.Expected(x, live.spins[1]->Value(), live.lists[0]->currentIndex(),
                                              live.lists[1]->currentIndex()));
        ++checked;
    }
    EXPECT_EQ(checked, 40);
    // Red and a high X is "hot", red and a low one "warm": the typed value counts.
    live.lists[0]->setCurrentIndex(live.ClassIndex("Colour", "red"));
    live.spins[0]->SetValue(90);
    live.Flush();
    EXPECT_TRUE(live.prediction->text().endsWith(" is hot")) << live.Shown().toStdString();
    live.spins[0]->SetValue(10);
    live.Flush();
    EXPECT_TRUE(live.prediction->text().endsWith(" is warm")) << live.Shown().toStdString();
}

TEST(LivePrediction, BurstOfEditsGivesOnePredictionAfterThePause) {
    Live live;
    live.view.SetRow(QVariant());
    live.Flush();
    live.prediction->setText("marker");
    for (int i = 0; i < 5; ++i) {
        live.spins[0]->SetValue(10 + i);
        // Each edit starts the pause anew.
        EXPECT_GT(live.timer->remainingTime(), 150);
        EXPECT_EQ(live.prediction->text(), "marker");
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return live.prediction->text() != "marker"; }, 5000));
    EXPECT_FALSE(live.timer->isActive());
    EXPECT_EQ(live.Shown(), live.Expected(14, live.spins[1]->Value(), live.lists[0]->currentIndex(),
                                          live.lists[1]->currentIndex()));
}

TEST(LivePrediction, RowsLoadedByKey) {
    Live live;
    const auto rows = Rows(300);
    live.view.SetRow(QVariant());  // the first row by key
    EXPECT_EQ(live.spins[0]->Value(), rows[0][0].num);
    EXPECT_EQ(live.spins[1]->Value(), rows[0][1].num);
    EXPECT_EQ(live.lists[0]->currentText().toStdString(), rows[0][2].text);
    EXPECT_EQ(live.lists[1]->currentText(), rows[0][3].num != 0 ? "-1" : "0");
    EXPECT_EQ(live.Shown(), live.Expected(rows[0][0].num, rows[0][1].num, live.lists[0]->currentIndex(),
                                          live.lists[1]->currentIndex()));
    for (int key : {17, 250, 300}) {
        live.view.SetRow(key);
        const auto& r = rows[size_t(key - 1)];
        EXPECT_EQ(live.spins[0]->Value(), r[0].num);
        EXPECT_EQ(live.lists[0]->currentText().toStdString(), r[2].text);
        EXPECT_EQ(live.Shown(), live.Expected(r[0].num, r[1].num, live.lists[0]->currentIndex(),
                                              live.lists[1]->currentIndex()));
    }
}

TEST(LivePrediction, TextKeysWithQuotesAndMissingKeys) {
    Live live(true);
    app::FakeStatusBar status;
    app::SetStatusTextSink(&status);
    const auto rows = Rows(300);
    live.view.SetRow(QString::fromStdString(treetest::TextKey(42)));  // k'0042: a quote inside
    EXPECT_EQ(live.spins[0]->Value(), rows[41][0].num);
    EXPECT_EQ(live.lists[0]->currentText().toStdString(), rows[41][2].text);
    EXPECT_TRUE(status.texts.isEmpty());

    live.view.SetRow(QString("no such key' OR 1=1 --"));
    const int16_t x = live.p.FieldIndex("X");
    EXPECT_DOUBLE_EQ(live.spins[0]->Value(), live.p.dataDef->FieldAvg(x));
    EXPECT_EQ(live.lists[0]->currentIndex(), 0);
    ASSERT_EQ(status.texts.size(), 1);
    EXPECT_TRUE(status.texts[0].contains("No row has the key no such key' OR 1=1 --")) << status.texts[0].toStdString();
    EXPECT_EQ(live.Shown(), live.Expected(live.spins[0]->Value(), live.spins[1]->Value(), 0, 0));
    app::SetStatusTextSink(nullptr);
}

TEST(LivePrediction, MissingValuesAndValuesOutsideTheClasses) {
    Live live;
    // Null and "?" inputs in the table: means and first classes.
    DatabasePtr db = live.p.project.OpenProject(false);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(live.p.dataPath.c_str(), &raw), SQLITE_OK);
    treetest::Sql(raw, "UPDATE Data SET X = NULL, Colour = ' ? ' WHERE Id = 5");
    treetest::Sql(raw, "UPDATE Data SET X = '?', Colour = 'purple' WHERE Id = 6");
    sqlite3_close(raw);
    const double mean = live.p.dataDef->FieldAvg(live.p.FieldIndex("X"));
    live.view.SetRow(5);
    EXPECT_DOUBLE_EQ(live.spins[0]->Value(), mean);
    EXPECT_EQ(live.lists[0]->currentIndex(), 0);
    // A value that is no class leaves the list without a choice: no value,
    // and the tree, which tests the colour first, cannot predict.
    live.view.SetRow(6);
    EXPECT_DOUBLE_EQ(live.spins[0]->Value(), mean);
    EXPECT_EQ(live.lists[0]->currentIndex(), -1);
    EXPECT_EQ(live.Shown(), "Error:  Bad Input Value|-");
    live.Flush();  // the timer's repeat does not fail either
    EXPECT_EQ(live.Shown(), "Error:  Bad Input Value|-");
}

TEST(LivePrediction, BadTypedTextsKeepTheValue) {
    Live live;
    live.view.show();
    live.view.SetRow(1);
    live.Flush();
    const QString before = live.Shown();
    const double x = live.spins[0]->Value();
    QLineEdit* text = live.spins[0]->findChild<QLineEdit*>("txtValue");
    for (const char* bad : {"abc", "", ".", "100.5", "1000"}) {  // the last two are above the maximum
        text->setFocus();
        text->selectAll();
        QTest::keyClicks(text, bad);
        QTest::keyClick(text, Qt::Key_Return);
        EXPECT_EQ(live.spins[0]->Value(), x) << bad;
    }
    EXPECT_FALSE(live.timer->isActive());
    EXPECT_EQ(live.Shown(), before);
}

TEST(LivePrediction, WithoutATreeEveryNameIsGreyAndNothingIsPredicted) {
    Live live(false, false);
    for (auto* l : live.view.findChildren<QLabel*>("lblFieldName"))
        if (!l->isHidden()) {
            EXPECT_NE(l->palette().color(QPalette::WindowText), QColor(Qt::black));
        }
    live.view.SetRow(QVariant());
    EXPECT_EQ(live.Shown(), "Error:  Bad Input Value|-");
}

TEST(LivePrediction, HidingStopsAPendingPrediction) {
    Live live;
    QWidget pane;
    live.view.setParent(&pane);
    pane.show();
    live.view.SetRow(1);
    live.spins[0]->SetValue(3);
    ASSERT_TRUE(live.timer->isActive());
    live.prediction->setText("kept");
    live.view.hide();
    EXPECT_FALSE(live.timer->isActive());
    QTest::qWait(250);
    EXPECT_EQ(live.prediction->text(), "kept");
    // Editing after the hide finds no references and predicts nothing harmful.
    live.spins[0]->SetValue(4);
    live.Flush();
    EXPECT_EQ(live.Shown(), "Error:  Bad Input Value|-");
    live.view.setParent(nullptr);
}

TEST(LivePrediction, DecimalPointWhateverTheLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        Live live;
        live.view.show();
        live.view.SetRow(1);
        QLineEdit* text = live.spins[0]->findChild<QLineEdit*>("txtValue");
        text->setFocus();
        text->selectAll();
        QTest::keyClicks(text, "62.5");
        QTest::keyClick(text, Qt::Key_Return);
        EXPECT_EQ(live.spins[0]->Value(), 62.5);
        EXPECT_EQ(text->text(), "62.5");
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

// ---------------------------------------------------------------- rules and layout

TEST(LiveLayout, SpinSetupByTypeAndRange) {
    using S = UInteractive::SpinSetup;
    auto eq = [](S a, int places, double step) { return a.places == places && std::fabs(a.step - step) < 1e-12; };
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbCurrency, 0, 9.99), 2, 0.01));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbCurrency, 0, 10), 2, 1));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbLong, 0, 3), 0, 1));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDate, 0, 5), 0, 1.0 / 24 / 60));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDate, 0, 6), 0, 1));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 0, 1000), 0, 1));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 0, 0.05), 4, 0.0001));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 0, 0.5), 3, 0.001));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 0, 1), 2, 0.01));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbSingle, 0, 9.99), 2, 0.01));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 0, 10), 1, 0.1));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 0, 100), 0, 1));
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, 7, 7), 2, 0.01));
    // Values at both ends of the range of a double.
    EXPECT_TRUE(eq(UInteractive::ChooseSpin(dao::dbDouble, -1.7e308, 1.7e308), 0, 1));
}

TEST(LiveLayout, ScrollRule) {
    auto r = UInteractive::ScrollRule(10, 4.5);
    EXPECT_TRUE(r.enabled);
    EXPECT_EQ(r.max, 6);
    EXPECT_EQ(r.largeChange, 4);
    r = UInteractive::ScrollRule(10, 4);
    EXPECT_EQ(r.max, 6);
    EXPECT_EQ(r.largeChange, 4);
    EXPECT_FALSE(UInteractive::ScrollRule(10, 10).enabled);
    EXPECT_FALSE(UInteractive::ScrollRule(0, 0.2).enabled);
    EXPECT_EQ(UInteractive::ScrollRule(3, 0.2).largeChange, 1);
}

TEST(LiveLayout, RebuildShowsTheFirstRowAndDividersFollowTheWidth) {
    Live live;
    QScrollBar* bar = live.view.findChild<QScrollBar*>("vsbMain");
    live.view.show();
    live.view.resize(520, 150);  // room for about two rows
    ASSERT_TRUE(bar->isEnabled());
    bar->setValue(bar->maximum());
    ASSERT_GT(bar->value(), 0);
    live.view.Initialize(live.project, live.p.dataDef, live.trx);
    EXPECT_EQ(bar->value(), 0);
    live.view.resize(520, 600);
    EXPECT_FALSE(bar->isEnabled());

    const int d1 = live.view.Divider1(), d2 = live.view.Divider2();
    live.view.resize(540, 600);  // 300 twips wider
    EXPECT_EQ(live.view.Divider1() - d1, 100);
    EXPECT_EQ(live.view.Divider2() - d2, 200);
}

TEST(LiveLayout, DividerDragKeepsItsLimits) {
    Live live;
    live.view.show();
    live.view.resize(520, 400);
    auto* frame = live.view.findChild<QWidget*>("picFrame");
    const double bandY = frame->y() - 3;
    const double d2 = live.view.Divider2() / 15.0;
    // Outside the band nothing happens.
    Move(&live.view, {live.view.Divider1() / 15.0, double(frame->y() + 20)});
    Press(&live.view, {live.view.Divider1() / 15.0, double(frame->y() + 20)});
    Move(&live.view, {200, double(frame->y() + 20)});
    Release(&live.view, {200, double(frame->y() + 20)});
    const int before = live.view.Divider1();
    Mouse(&live.view, QEvent::MouseMove, {before / 15.0, bandY}, Qt::NoButton, Qt::NoButton);
    Press(&live.view, {before / 15.0, bandY});
    Move(&live.view, {20, bandY});  // closer than 810 twips to the edge: refused
    EXPECT_EQ(live.view.Divider1(), before);
    Move(&live.view, {80, bandY});
    EXPECT_EQ(live.view.Divider1(), 1200);
    Move(&live.view, {d2 - 10, bandY});  // too close to the second divider
    EXPECT_EQ(live.view.Divider1(), 1200);
    Release(&live.view, {80, bandY});
    auto* names = live.view.findChild<QWidget*>("picFieldName");
    EXPECT_EQ(names->width(), 81);  // (1200 + 15) twips
}

}  // namespace
