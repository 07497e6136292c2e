// The field statistics and class distribution views over generated projects.
#include "CTRX.h"
#include "IShell.h"
#include "PanelTestSupport.h"
#include "TreeFixture.h"
#include "UClassView.h"
#include "UFieldView.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include <chrono>

using namespace paneltest;
using treetest::Cell;
using treetest::Column;
using treetest::GeneratedProject;

namespace {

const std::vector<Column> kKinds = {
    {"Big", "REAL", MatchType::Numeric},   {"Small", "REAL", MatchType::Numeric},
    {"Same", "REAL", MatchType::Numeric},  {"Txt", "TEXT", MatchType::Text},
    {"When", "DATETIME", MatchType::Numeric}, {"Flag", "BIT", MatchType::Text},
    {"Memo", "MEMO", MatchType::NotUsed},  {"Many", "INTEGER", MatchType::Numeric},
    {"Cls", "TEXT", MatchType::Output},
};

// 190 rows: Txt holds "a" 120 times, "b" 50 and "c" 20; Many has 190 classes.
std::vector<std::vector<Cell>> KindRows() {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 190; ++i) {
        const char* t = i < 120 ? "a" : i < 170 ? "b" : "c";
        rows.push_back({Cell::D(i * 250.0 / 189), Cell::D(i * 0.5 / 189), Cell::D(3), Cell::T(t),
                        Cell::D(45000 + i % 3), Cell::D(i % 2 ? -1 : 0), Cell::T("memo"), Cell::D(i),
                        Cell::T(i % 2 ? "x" : "y")});
    }
    rows[5][0] = Cell::N();
    return rows;
}

struct Views : AppFirst {
    Views() : p("views", kKinds, KindRows()) { project = std::shared_ptr<CProject>(&p.project, [](CProject*) {}); }
    QTreeWidgetItem* Row(QTreeWidget* list, const QString& name) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == name) return list->topLevelItem(i);
        return nullptr;
    }
    static QStringList Column(QTreeWidget* list, int c) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(c);
        return out;
    }
    GeneratedProject p;
    std::shared_ptr<CProject> project;
};

TEST(FieldView, NumbersFormattedByRangeAndTypes) {
    Views v;
    UFieldView view;
    v.p.project.SaveConfig("DataSourceName", v.p.dataPath);
    view.Initialize(v.project, v.p.dataDef);
    auto* list = view.findChild<QTreeWidget*>("lvwFields");
    EXPECT_EQ(view.findChild<QLabel*>("lblDataSource")->text().toStdString(), v.p.dataPath);
    ASSERT_EQ(list->topLevelItemCount(), v.p.dataDef->FieldCount());
    auto big = v.Row(list, "Big");
    EXPECT_EQ(big->text(1), "Double");
    EXPECT_EQ(big->text(2), "1");
    EXPECT_EQ(big->text(3), "0");
    EXPECT_EQ(big->text(4), "250");
    EXPECT_EQ(v.Row(list, "Small")->text(4), "0.500");
    EXPECT_EQ(v.Row(list, "Same")->text(3), "3");
    EXPECT_EQ(v.Row(list, "Same")->text(6), "0");
    auto txt = v.Row(list, "Txt");
    EXPECT_EQ(txt->text(3), "");
    EXPECT_EQ(txt->text(7), "3");
    auto when = v.Row(list, "When");
    EXPECT_EQ(when->text(3), "3/15/2023");
    EXPECT_EQ(when->text(4), "3/17/2023");
    EXPECT_EQ(when->text(6).count('.'), 1);
    EXPECT_EQ(when->text(6).section('.', 1).size(), 1);
    EXPECT_EQ(v.Row(list, "Memo")->text(7), "");
    EXPECT_EQ(v.Row(list, "Many")->text(7), "190");
    EXPECT_EQ(v.Row(list, "Flag")->text(1), "Boolean");

    EXPECT_EQ(UFieldView::RangeFormat(250), "0");
    EXPECT_EQ(UFieldView::RangeFormat(99.9), "0.0");
    EXPECT_EQ(UFieldView::RangeFormat(9.99), "0.00");
    EXPECT_EQ(UFieldView::RangeFormat(0.1), "0.000");
    EXPECT_EQ(UFieldView::RangeFormat(0.0999), "0.0000");
    EXPECT_EQ(UFieldView::RangeFormat(0.001), "0.00000");
    EXPECT_EQ(UFieldView::RangeFormat(0), "0");
}

TEST(FieldView, OdbcNameSortingSelectionAndRawTables) {
    Views v;
    UFieldView view;
    v.p.project.SaveConfig("DataSourceName", "ODBC;DSN=Sales;DATABASE=Shop");
    view.Initialize(v.project, v.p.dataDef);
    auto* label = view.findChild<QLabel*>("lblDataSource");
    EXPECT_EQ(label->text(), "Sales");  // no connection needed
    auto* list = view.findChild<QTreeWidget*>("lvwFields");

    emit list->header()->sectionClicked(0);  // text, descending first? every click flips
    const QStringList first = Views::Column(list, 0);
    emit list->header()->sectionClicked(0);
    QStringList second = Views::Column(list, 0);
    std::reverse(second.begin(), second.end());
    EXPECT_EQ(first, second);
    emit list->header()->sectionClicked(2);  // "# Missing" numerically
    const QStringList missing = Views::Column(list, 2);
    const QStringList names = Views::Column(list, 0);
    EXPECT_TRUE(missing.first() == "1" || missing.last() == "1");
    EXPECT_EQ(names[missing.indexOf("1")], "Big");

    QSignalSpy spy(&view, &UFieldView::ItemSelect);
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
    EXPECT_EQ(spy.count(), 0);  // no selected row: nothing to report
    view.SelectField("txt");
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems()[0]->text(0), "Txt");
    view.SelectField("nothing");
    EXPECT_EQ(list->selectedItems()[0]->text(0), "Txt");
    emit list->itemDoubleClicked(list->selectedItems()[0], 0);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), "Txt");

    view.AltInitialize(QString::fromStdString(v.p.dataPath), "Data");
    // The label names the source of the table listed, not the one shown before.
    EXPECT_EQ(label->text().toStdString(), v.p.dataPath);
    ASSERT_EQ(list->topLevelItemCount(), int(kKinds.size()) + 1);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Big");
    EXPECT_EQ(list->topLevelItem(1)->text(1), "Double");
    EXPECT_EQ(list->topLevelItem(1)->text(2), "");
}

TEST(ClassView, SharesMissingRowAndCount) {
    Views v;
    v.p.project.SaveConfig("RecordCount", 200);
    UClassView view;
    view.Initialize(v.project);
    auto* combo = view.findChild<QComboBox*>("cmbClass");
    auto* list = view.findChild<QTreeWidget*>("lvwClass");
    auto* count = view.findChild<QLabel*>("lblCount");
    QStringList fields;
    for (int i = 0; i < combo->count(); ++i) fields << combo->itemText(i);
    // Every field with 1 to 256 values; not the memo.
    EXPECT_EQ(fields, (QStringList{"Id", "Big", "Small", "Same", "Txt", "When", "Flag", "Many", "Cls"}));

    view.SetField();  // the first field
    EXPECT_EQ(combo->currentText(), "Id");
    EXPECT_EQ(count->text(), "190 Classes");
    view.SetField("Txt");
    EXPECT_EQ(combo->currentText(), "Txt");
    ASSERT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(Views::Column(list, 2), (QStringList{"60.00%", "25.00%", "10.00%", "5.00%"}));
    EXPECT_EQ(list->topLevelItem(3)->text(0), " <MISSING VALUES>");
    EXPECT_EQ(list->topLevelItem(3)->text(1), "10");
    EXPECT_EQ(count->text(), "3 Classes");

    // Names that list nothing leave the view as it was.
    view.SetField("Memo");     // no classes
    view.SetField("Unknown");  // not a field
    EXPECT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(count->text(), "3 Classes");

    // Choosing in the list lists that field.
    combo->setCurrentIndex(combo->findText("Flag"));
    EXPECT_EQ(count->text(), "2 Classes");
    EXPECT_EQ(list->topLevelItem(0)->text(0), "-1");

    // Header clicks, by the mouse: both number columns sort by the count; the
    // first click sorts descending and every click flips.
    view.SetField("Txt");
    view.resize(600, 400);
    view.show();
    QHeaderView* header = list->header();
    const auto click = [&](int section) {
        const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    };
    click(0);
    EXPECT_EQ(Views::Column(list, 0), (QStringList{"c", "b", "a", " <MISSING VALUES>"}));
    click(2);
    EXPECT_EQ(Views::Column(list, 1), (QStringList{"10", "20", "50", "120"}));
    click(1);
    EXPECT_EQ(Views::Column(list, 1), (QStringList{"120", "50", "20", "10"}));
}

TEST(ClassView, RowCountsThatAreMissingOrZeroAndEmptyViews) {
    Views v;
    UClassView empty;
    empty.SetField();  // no project: nothing
    empty.Initialize(v.project);
    auto* list = empty.findChild<QTreeWidget*>("lvwClass");
    v.p.project.SaveConfig("RecordCount", 0);
    empty.SetField("Txt");
    EXPECT_EQ(Views::Column(list, 2), (QStringList{"0.00%", "0.00%", "0.00%", "0.00%"}));
    // A count no whole number holds gives no shares rather than arbitrary ones.
    for (const char* count : {"1e300", "-1e300", "-5"}) {
        v.p.project.SaveConfig("RecordCount", count);
        empty.SetField("Txt");
        EXPECT_EQ(Views::Column(list, 2), (QStringList{"0.00%", "0.00%", "0.00%", "0.00%"})) << count;
    }
    // Without the property the total is 1 row.
    DatabasePtr db = v.p.project.OpenProject(false);
    db->Execute("DELETE FROM Config WHERE Property = 'RecordCount';");
    empty.SetField("Cls");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "9500.00%");
    // The statistics button asks the shell.
    struct Shell : base::IShell {
        int stats = 0;
        QWidget* AppPanel(const QString&) override { return nullptr; }
        base::IGridPanel* GridPanel() override { return nullptr; }
        QWidget* MainWidget() override { return nullptr; }
        void StatusText(const QString&) override {}
        void StatusRecordCount(int32_t) override {}
        void MenuCommand(const QString&) override {}
        QString SelectDataSource() override { return {}; }
        void ShowFieldStats() override { ++stats; }
    } fake;
    base::ScopedShell scope(&fake);
    empty.findChild<QPushButton*>("cmdFieldStats")->click();
    EXPECT_EQ(fake.stats, 1);
}

}  // namespace
