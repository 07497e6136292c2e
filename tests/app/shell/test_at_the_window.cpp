// What a person meets in the real window: naming projects in the real file
// dialog, the figures of the result legend and of the field statistics always
// belonging to the project and tree on show, the menu bar's access keys, the
// colours of the report links after every kind of view switch, typing from
// box to box in Live Predictions, zooming the flow chart, where the data
// columns of the grid start, and no control taking input while a command runs.
#include "ResultRoadFixture.h"

#include "../../support/FileDialogDriver.h"

#include "CBrowseGrid.h"
#include "CClassNames.h"
#include "CCommandTable.h"
#include "CDataDef.h"
#include "CHourglass.h"
#include "IFieldSelectPanel.h"
#include "IFieldViewPanel.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"
#include "UTextSpin.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

using namespace shelltest;

namespace {

class AtTheWindow : public RoadTest {
protected:
    QString Legend(const char* label) { return ReportPanel().findChild<QLabel*>(label)->text(); }
    QString Totals() { return Legend("lblTotalItems") + " / " + Legend("lblTotalConf") + " | " + Legend("lblLocalItems"); }
    QString TreeTotals() {
        const CTRX& trx = *Globals().gTRX;
        return QString("%1 / %2 | -").arg(trx.Items()).arg(std::lround(trx.SingleNormalConfidence(0)));
    }
    QString SourceLabel() { return Main().Panels().fieldView->findChild<QLabel*>("lblDataSource")->text(); }

    static QColor Ole(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
    // The colour a link is drawn in: its bullet's centre on the screen.
    static QColor Drawn(ULink* link) {
        return link->grab().toImage().pixelColor((link->BulletRect().center() / 15.0).toPoint());
    }
    // The link of the view whose command is ticked.
    int CurrentView() {
        static const char* const kTools[] = {"mnuViewBrowseAll",  "mnuViewBrowseTest", "mnuViewMatrix",
                                             "mnuViewFieldStats", "mnuViewClassList",  "mnuViewTree",
                                             "mnuViewFlow",       "mnuLivePredict"};
        for (int i = 0; i < 8; ++i)
            if (Checked() == kTools[i]) return i;
        return -1;
    }
    // Every link drawn as its state says: grey when switched off, purple for
    // the view on show, blue otherwise (the pointer is elsewhere).
    void ExpectLinks(const char* when, int view, int off = -1) {
        SCOPED_TRACE(when);
        ASSERT_EQ(Left(), "Report");
        ASSERT_TRUE(Main().Frame()->isEnabled()) << "the command is over";
        ASSERT_EQ(CurrentView(), view);
        for (int i = 0; i < 8; ++i) {
            ULink* link = ReportPanel().Link(i);
            const uint32_t expected = i == off ? ULink::kDisabledColor
                                      : i == view ? ULink::kHighlightColor
                                                  : ULink::kLinkColor;
            EXPECT_EQ(link->isEnabledTo(&ReportPanel()), i != off) << i;
            EXPECT_EQ(link->Highlight(), i == view) << i;
            EXPECT_EQ(link->TextColor(), expected) << link->Caption().toStdString();
            EXPECT_EQ(Drawn(link), Ole(expected)) << link->Caption().toStdString();
        }
    }
    // The pointer leaves the panel, as a person's does on the way to the menu.
    void PointerAway() { QTest::mouseMove(&Main(), QPoint(Main().width() - 5, Main().height() - 5)); }
    void ClickLink(int index) {
        ULink* link = ReportPanel().Link(index);
        QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, link->rect().center());
        PointerAway();
    }
    // A command of the Reports menu, clicked in the open menu.
    void ClickReportsMenu(const char* tool) {
        QMenu* menu = Main().Bar()->Band("popView");
        menu->popup(Main().mapToGlobal(QPoint(40, 40)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(Tool(tool)).center());
        EXPECT_FALSE(menu->isVisible());
    }
    // The rate typed into the prune panel's box and Enter pressed.
    void TypePruneRate(const char* rate) {
        auto* box = Prune().findChild<QLineEdit*>("txtPruneRate");
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
        box->selectAll();
        QTest::keyClicks(box, rate);
        QTest::keyClick(box, Qt::Key_Return);
    }
    // A value of the flow chart's graph control, of item index when one is given.
    int32_t ChartValue(DISPID id, int index = -1) {
        com::Variant v;
        std::vector<VARIANT> args;
        if (index >= 0) args.push_back(com::Variant::I2(int16_t(index)));
        EXPECT_EQ(com::PropertyGet(TreeGraph().DisplayTarget()->GraphControl(), id, &v, args), S_OK);
        return v.ToI4();
    }
    // A graph coordinate on the control's viewport.
    int ChartToScreen(DISPID id, int32_t at) {
        com::Variant v;
        EXPECT_EQ(com::Invoke(TreeGraph().DisplayTarget()->GraphControl(), id, DISPATCH_METHOD,
                              {com::Variant::I4(at)}, &v),
                  S_OK);
        return v.ToI4() - 1;  // the window's border pixel
    }
    void ClickToolbar(const char* tool) {
        QWidget* button = Main().Bar()->MainToolbar()->widgetForAction(Tool(tool));
        ASSERT_TRUE(button);
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
        PointerAway();
    }
};

}  // namespace

// File > New and File > Open through the real dialog: a typed new name makes
// the project, the offered name too, and a name with no file behind it meets
// the program's own message, not the dialog's refusal.
TEST_F(AtTheWindow, ProjectsAreNamedInTheRealFileDialog) {
    ASSERT_TRUE(Start());
    testsupport::RealFileDialogs real;
    const std::string folder = dir.File("work");
    std::filesystem::create_directories(folder);
    SetReg("Config", "LastProjectPath", folder + "/");

    testsupport::FileDialogSeen seen;
    testsupport::TypeIntoNextFileDialog("Fresh", &seen);
    MTessary::MenuCommand("mnuFileNew");
    EXPECT_EQ(seen.title, "Create New Project");
    EXPECT_EQ(seen.folder.toStdString(), folder);
    EXPECT_TRUE(seen.refusals.isEmpty()) << seen.refusals.join(" | ").toStdString();
    ASSERT_TRUE(Globals().gProject);
    EXPECT_EQ(Globals().gProject->FileName(), folder + "/Fresh.txp");
    EXPECT_EQ(Main().windowTitle(), "Tessary - [Fresh.txp]");
    EXPECT_EQ(Main().State().State(), 1);

    testsupport::FileDialogSeen offered;
    testsupport::TypeIntoNextFileDialog(QString(), &offered);
    MTessary::MenuCommand("mnuFileNew");
    EXPECT_TRUE(offered.refusals.isEmpty()) << offered.refusals.join(" | ").toStdString();
    ASSERT_TRUE(Globals().gProject);
    EXPECT_EQ(Globals().gProject->FileName(), folder + "/Project1.txp");

    const std::string sample = CopySample("work");
    testsupport::FileDialogSeen opened;
    testsupport::TypeIntoNextFileDialog("iris.txp", &opened);
    MTessary::MenuCommand("mnuFileOpen");
    EXPECT_EQ(opened.title, "Open Project");
    EXPECT_TRUE(opened.refusals.isEmpty());
    ASSERT_TRUE(Globals().gProject);
    EXPECT_EQ(Globals().gProject->FileName(), sample);
    EXPECT_EQ(Main().windowTitle(), "Tessary - [iris.txp]");

    testsupport::FileDialogSeen missing;
    testsupport::TypeIntoNextFileDialog("gone.txp", &missing);
    MTessary::MenuCommand("mnuFileOpen");
    EXPECT_TRUE(missing.refusals.isEmpty());
    EXPECT_FALSE(missing.leftOpen);
    ASSERT_EQ(real.Messages().size(), 1u);
    EXPECT_EQ(real.Messages()[0].text, QString::fromStdString("File: " + folder + "/gone.txp could not be found."));
    EXPECT_TRUE(real.Messages()[0].title == "File Open");
}

// The legend of the result step reads the tree on show: straight after
// Finish, after a rebuild shown as the rule tree, and nothing once closed.
TEST_F(AtTheWindow, TheResultLegendAlwaysReadsTheTreeOnShow) {
    Open();
    ToTested();
    ASSERT_EQ(Left(), "Report");
    ASSERT_EQ(Right(), "TreeGraph");
    EXPECT_EQ(Totals(), TreeTotals());
    EXPECT_EQ(Totals(), "100 / 77 | -") << "the sample's tree";

    // Another training range and the rule tree: the figures follow the new tree.
    Globals().gProject->SaveConfig("TrainHigh", int32_t(80));
    Globals().gProject->SaveConfig("TestLow", int32_t(81));
    Globals().gTreeMode = 0;
    ToTested();
    ASSERT_EQ(Checked(), "mnuViewTree");
    EXPECT_EQ(Totals(), TreeTotals());
    EXPECT_TRUE(Totals().startsWith("80 / ")) << Totals().toStdString();

    MTessary::MenuCommand("mnuFileClose");
    EXPECT_EQ(Totals(), "0 / 0 | -");
    EXPECT_EQ(Prune().findChild<QLabel*>("lblTotalItems")->text(), "0");
    EXPECT_TRUE(dialogs.Messages().empty());
}

// The field statistics name the source listed: the table chosen for a new
// project after another project's statistics, and nothing once closed.
TEST_F(AtTheWindow, TheFieldStatisticsNameTheSourceListed) {
    Open();
    MTessary::MenuCommand("mnuViewFieldStats");
    ASSERT_EQ(Right(), "FieldView");
    EXPECT_EQ(SourceLabel(), "iris.mdb");

    const std::string other = dir.File("other.mdb");
    std::filesystem::copy_file(SamplesDir() + "/iris.mdb", other);
    dialogs.files.push_back(QString::fromStdString(dir.File("new.txp")));
    MTessary::MenuCommand("mnuFileNew");
    dialogs.files.push_back(QString::fromStdString(other));
    Main().Panels().tableSel->findChild<QPushButton*>("cmdOpenFile")->click();
    auto* tables = Main().Panels().tableSel->findChild<QListWidget*>("lstTables");
    ASSERT_FALSE(tables->findItems("iris", Qt::MatchExactly).isEmpty());
    tables->setCurrentItem(tables->findItems("iris", Qt::MatchExactly).front());
    ASSERT_EQ(Right(), "FieldView");
    EXPECT_EQ(SourceLabel().toStdString(), other);

    MTessary::MenuCommand("mnuFileClose");
    EXPECT_EQ(SourceLabel(), "");
    EXPECT_EQ(Main().Panels().fieldView->findChild<QTreeWidget*>()->topLevelItemCount(), 0);
}

// Alt+F on the rule-extraction step, whose "&Finish" button shares the
// letter with the "&File" menu: the menu opens and the focus stays put.
TEST_F(AtTheWindow, AltFOpensTheFileMenuOverTheFinishButton) {
    Open();
    ToState(4);
    ASSERT_EQ(Left(), "Prune");
    auto* finish = Prune().findChild<QPushButton*>("lnkOK");
    ASSERT_TRUE(finish);
    ASSERT_EQ(finish->text(), "&Finish >>");
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    Main().Frame()->setFocus();
    QMenu* file = Main().Bar()->Band("popFile");
    for (int press = 0; press < 2; ++press) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &Main(), Qt::Key_F, Qt::AltModifier);
        EXPECT_TRUE(file->isVisible()) << "press " << press;
        EXPECT_NE(QApplication::focusWidget(), finish) << "press " << press;
        // Escape closes the menu, a second one leaves the menu bar.
        if (file->isVisible()) QTest::keyClick(file, Qt::Key_Escape);
        QTest::keyClick(Main().menuBar(), Qt::Key_Escape);
        ASSERT_FALSE(file->isVisible());
    }
    EXPECT_EQ(Main().State().State(), 4);
}

// The report links after Finish of the extraction road and after a switch of
// view by link, by the Reports menu and by the tool bar, and after reopening
// the project: each is drawn as its own state says, although every switch
// runs as a command with the main window busy; a grey link takes no click.
TEST_F(AtTheWindow, ReportLinksAreDrawnAsTheirStateSays) {
    Open();
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    // File > Extract Rules..., Next, Next, Finish.
    ASSERT_TRUE(Tool("mnuReConfig")->isEnabled());
    Tool("mnuReConfig")->trigger();
    ASSERT_EQ(Left(), "Configure");
    for (QWidget* panel : {static_cast<QWidget*>(Main().Panels().fieldSel), static_cast<QWidget*>(Main().Panels().setLimits)}) {
        auto* next = panel->findChild<QPushButton*>("lnkNext");
        QTest::mouseClick(next, Qt::LeftButton, Qt::NoModifier, next->rect().center());
    }
    ASSERT_EQ(Left(), "Prune");
    auto* finish = Prune().findChild<QPushButton*>("lnkOK");
    QTest::mouseClick(finish, Qt::LeftButton, Qt::NoModifier, finish->rect().center());
    PointerAway();
    ASSERT_EQ(Config("LastState"), "5");
    ExpectLinks("after Finish", Globals().gTreeMode == 1 ? 6 : 5);

    ClickLink(2);
    ASSERT_EQ(Right(), "Matrix");
    ExpectLinks("after the Confusion Matrix link", 2);
    ClickReportsMenu("mnuViewClassList");
    ASSERT_EQ(Right(), "ClassView");
    ExpectLinks("after Reports > Class Details", 4);
    ClickToolbar("mnuViewBrowseAll");
    ASSERT_EQ(Right(), "DataGrid");
    ExpectLinks("after the Browse All tool", 0);
    ClickReportsMenu("mnuViewMatrix");
    ExpectLinks("after Reports > Confusion Matrix", 2);

    dialogs.files.push_back(QString::fromStdString(path));
    Tool("mnuFileOpen")->trigger();
    PointerAway();
    ASSERT_TRUE(Globals().gProject);
    ExpectLinks("after reopening the project", 0);

    // Switched off, a link is grey and a click on it shows nothing.
    ReportPanel().DisableLink(3);
    ExpectLinks("with Field Statistics off", 0, 3);
    ClickLink(3);
    EXPECT_EQ(Right(), "DataGrid");
    ExpectLinks("after a click on the grey link", 0, 3);
    ClickToolbar("mnuViewFlow");
    ExpectLinks("grey through a switch", 6, 3);
    ReportPanel().EnableLink(3);
    ClickLink(3);
    EXPECT_EQ(Right(), "FieldView");
    ExpectLinks("on again", 3);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

// Live Predictions after Finish: a click in the first value box, 6.1, Tab, 2:
// the second box reads 2 and the prediction follows; Tab and Shift+Tab go
// from value box to value box, past the spin arrows, which still step.
TEST_F(AtTheWindow, TypingFromBoxToBoxInLivePredictions) {
    Open();
    ToTested();
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    ClickReportsMenu("mnuLivePredict");
    ASSERT_EQ(Right(), "IMode");
    auto spins = Live().findChildren<UTextSpin*>("utsValue");
    spins.removeIf([](UTextSpin* s) { return s->isHidden(); });
    std::sort(spins.begin(), spins.end(), [](UTextSpin* a, UTextSpin* b) { return a->y() < b->y(); });
    ASSERT_EQ(spins.size(), 4);
    QList<QLineEdit*> boxes;
    for (UTextSpin* s : spins) boxes << s->findChild<QLineEdit*>("txtValue");
    const auto focus = [] { return QApplication::focusWidget(); };

    QTest::mouseClick(boxes[0], Qt::LeftButton, Qt::NoModifier, boxes[0]->rect().center());
    QCoreApplication::processEvents();
    ASSERT_EQ(focus(), boxes[0]);
    QTest::keyClicks(focus(), "6.1");
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), boxes[1]);
    QTest::keyClicks(focus(), "2");
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), boxes[2]);
    EXPECT_DOUBLE_EQ(spins[0]->Value(), 6.1);
    EXPECT_DOUBLE_EQ(spins[1]->Value(), 2);
    EXPECT_EQ(boxes[1]->text(), "2.00");

    auto* timer = Live().findChild<QTimer*>("tmrFirePredict");
    ASSERT_TRUE(QTest::qWaitFor([timer] { return !timer->isActive(); }, 5000));
    std::vector<com::Variant> row;
    for (UTextSpin* s : spins) row.push_back(com::Variant::R8(s->Value()));
    row.push_back(com::Variant());
    CTRX& trx = *Globals().gTRX;
    const int16_t cls = trx.PredictRow(row);
    ASSERT_GE(cls, 0);
    CClassNames* names = trx.ClassNames();
    EXPECT_EQ(Live().findChild<QLabel*>("lblPrediction")->text().toStdString(),
              Globals().gDataDef->FieldName(names->OutputClass()) + " is " + names->Class(names->OutputClass(), cls));

    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), boxes[3]);
    for (int i = 2; i >= 0; --i) {
        QTest::keyClick(focus(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focus(), boxes[i]) << "Shift+Tab to box " << i;
    }
    // The arrows still step, and give the keyboard to their own box.
    auto* arrows = spins[1]->findChild<QWidget*>("uspValue");
    QTest::mouseClick(arrows, Qt::LeftButton, Qt::NoModifier, QPoint(arrows->width() / 2, arrows->height() / 4));
    EXPECT_DOUBLE_EQ(spins[1]->Value(), 2.01);
    EXPECT_EQ(focus(), boxes[1]);
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

// The generated nominal project's flow chart, fitted: wide and low, so blank
// fills the window below it. Rule extraction at 10 and then 34, Tree Chart,
// Flow Chart, then Zoom In twice from the tool bar: the chart's centre stays at
// the centre of the window, and every node in view is drawn in its colour,
// the Start node among them.
TEST_F(AtTheWindow, ZoomingTheFlowChartKeepsItsCentreInTheMiddleAndItsNodesDrawn) {
    MakeNominalProject();
    Open();
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    ToState(4);
    for (const char* rate : {"10", "34"}) TypePruneRate(rate);
    ASSERT_EQ(Config("PruneRate"), "34");
    ClickToolbar("mnuViewTree");
    ClickToolbar("mnuViewFlow");
    ASSERT_EQ(TreeGraph().TreeType(), 1);
    ASSERT_EQ(TreeGraph().Zoom(), 0);
    IDispatch* chart = TreeGraph().DisplayTarget()->GraphControl();
    auto get = [this](DISPID id, int index = -1) { return ChartValue(id, index); };
    auto screen = [this](DISPID id, int32_t at) { return ChartToScreen(id, at); };
    com::ComPtr<nodars::IGraphGeometry> geometry;
    ASSERT_EQ(com::ComPtr<IDispatch>(chart).As(nodars::IID_IGraphGeometry, &geometry), S_OK);
    int32_t bounds[4], client[4];
    ASSERT_EQ(geometry->GetBounds(nodars::IGraphGeometry::kDrawingBounds, bounds), S_OK);
    ASSERT_EQ(geometry->GetBounds(nodars::IGraphGeometry::kClientRect, client), S_OK);
    const int32_t cx = (bounds[0] + bounds[2]) / 2, cy = (bounds[1] + bounds[3]) / 2;
    ASSERT_LT(screen(nodars::dispidGraphToScreenY, bounds[3]), (client[3] - client[1]) / 2) << "blank below the chart";

    auto* viewport = static_cast<QAbstractScrollArea*>(TreeGraph().GraphWidget())->viewport();
    for (int click = 1; click <= 2; ++click) {
        SCOPED_TRACE(click);
        ClickToolbar("mnuZoomIn");
        ASSERT_GT(TreeGraph().Zoom(), 0);
        QApplication::processEvents();
        const QImage img = viewport->grab().toImage();
        EXPECT_NEAR(screen(nodars::dispidGraphToScreenX, cx), (client[2] - client[0]) / 2, 1);
        EXPECT_NEAR(screen(nodars::dispidGraphToScreenY, cy), (client[3] - client[1]) / 2, 1);
        std::vector<int> drawn;
        for (int i = 0; i < get(nodars::dispidListCount); ++i) {
            const int32_t left = get(nodars::dispidItemXPos, i), top = get(nodars::dispidItemYPos, i);
            const int x0 = screen(nodars::dispidGraphToScreenX, left), y0 = screen(nodars::dispidGraphToScreenY, top);
            const int x1 = screen(nodars::dispidGraphToScreenX, left + get(nodars::dispidItemWidth, i));
            const int y1 = screen(nodars::dispidGraphToScreenY, top + get(nodars::dispidItemHeight, i));
            if (x0 < 0 || y0 < 0 || x1 > img.width() || y1 > img.height()) continue;
            EXPECT_EQ(img.pixelColor(x0 + 3, y0 + 3), Ole(uint32_t(get(nodars::dispidItemFillColor, i)))) << i;
            drawn.push_back(i);
        }
        EXPECT_GE(drawn.size(), 4u);
        EXPECT_TRUE(!drawn.empty() && drawn.front() == 0) << "the Start node is in view";
    }
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

// The Tree Chart at 800 x 600 with every branch open: each rule line has
// room for all of its text (a leaf's confidence too), and the view scrolls
// sideways to the end of the longest.
TEST_F(AtTheWindow, TheTreeChartShowsEveryRuleLineWholeAt800x600) {
    // Cells whose diagnosis follows two measurements with long names.
    const std::string data = dir.File("cells.mdb");
    std::string rows;
    for (int i = 1; i <= 300; ++i) {
        const double perimeter = 60 + (i * 37 % 120) + (i % 10) / 10.0, radius = 8 + (i * 13 % 140) / 10.0;
        const bool malignant = perimeter > 114.3 || (perimeter > 90 && radius > 17.5);
        rows += (i > 1 ? ",(" : "(") + std::to_string(i) + "," + std::to_string(perimeter) + "," +
                std::to_string(radius) + ",'" + (malignant ? "malignant_confirmed" : "benign_confirmed") + "')";
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(data.c_str(), &db), SQLITE_OK);
    const std::string sql = "CREATE TABLE cells (Id INTEGER PRIMARY KEY, worst_perimeter_of_the_largest_nucleus DOUBLE, "
                            "mean_concave_points_ratio_of_all_nuclei DOUBLE, diagnosis_after_biopsy VARCHAR(20)); "
                            "INSERT INTO cells VALUES " + rows;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    path = dir.File("cells.txp");
    MakeProject(data, "cells",
                [](const std::string& name) {
                    return name == "Id" ? MatchType::NotUsed
                           : name == "diagnosis_after_biopsy" ? MatchType::Output
                                                              : MatchType::Numeric;
                },
                {{"RecordCount", "300"}, {"TrainLow", "1"}, {"TrainHigh", "200"}, {"TestLow", "201"},
                 {"TestHigh", "300"}, {"LastState", "3"}, {"PruneRate", "10"}, {"MinItems", "2"}});
    Open();
    ToState(4);
    Main().resize(800, 600);
    MTessary::MenuCommand("mnuViewTree");
    MTessary::MenuCommand("mnuZoomIn");
    QCoreApplication::processEvents();
    QTreeWidget& view = *TreeGraph().TreeView();
    ASSERT_TRUE(view.isVisible());
    const QFontMetrics metrics(view.font());
    int lines = 0, widest = 0;
    for (QTreeWidgetItemIterator it(&view); *it; ++it) {
        ASSERT_TRUE(!(*it)->parent() || (*it)->parent()->isExpanded()) << "every branch open";
        view.scrollToItem(*it);
        const QRect room = view.visualItemRect(*it);
        EXPECT_GE(room.width(), metrics.horizontalAdvance((*it)->text(0))) << (*it)->text(0).toStdString();
        widest = std::max(widest, room.left() + view.horizontalScrollBar()->value() + metrics.horizontalAdvance((*it)->text(0)));
        ++lines;
    }
    EXPECT_GT(lines, 5);
    ASSERT_GT(widest, view.viewport()->width()) << "the lines are wider than the view at this size";
    EXPECT_TRUE(view.horizontalScrollBar()->isVisible());
    EXPECT_GE(view.horizontalScrollBar()->maximum(), widest - view.viewport()->width());
}

// The data split starts with its first used column, shown whole, however many
// unused columns come before it, although the columns after it do not fill the
// split: on the sample (its key not used), a generated table of 64 fields
// whose key the import adds, and a table with two unused columns first; on
// opening and after every kind of switch of view, a cell of the first data
// column shown or of an unused one current before it (and kept current), at
// 800 x 600 and at full screen.
TEST_F(AtTheWindow, TheDataSplitStartsWithItsFirstUsedColumnWhole) {
    const auto digits = [this] {
        const std::string csv = dir.File("digits.csv");
        std::ofstream out(csv);
        for (int f = 1; f <= 62; ++f) out << 'p' << f << ',';
        out << "digit\n";
        uint32_t seed = 7;
        for (int r = 0; r < 200; ++r) {
            int sum = 0;
            for (int f = 1; f <= 62; ++f) {
                seed = seed * 1664525u + 1013904223u;
                const int v = int((seed >> 8) % 17u);
                sum += f < 5 ? v : 0;
                out << v << ',';
            }
            out << sum % 10 << '\n';
        }
        out.close();
        MakeImportedProject(csv, "digit", MatchType::Numeric, 200, 150);
    };
    const auto products = [this] {
        const std::string nwind = dir.File("nwind.mdb");
        std::filesystem::copy_file(SamplesDir() + "/../tests/data/access/nwind.mdb", nwind);
        path = dir.File("Products.txp");
        MakeProject(nwind, "Products",
                    [](const std::string& name) {
                        return name == "Discontinued"                          ? MatchType::Output
                               : name == "ProductID" || name == "ProductName" ? MatchType::NotUsed
                               : name == "QuantityPerUnit"                    ? MatchType::Text
                                                                               : MatchType::Numeric;
                    },
                    {{"RecordCount", "77"}, {"TrainLow", "1"}, {"TrainHigh", "60"}, {"TestLow", "61"},
                     {"TestHigh", "77"}, {"LastState", "3"}, {"PruneRate", "10"}, {"MinItems", "2"}});
    };
    struct Project {
        const char* name;
        std::function<void()> make;  // none: the sample
        const char* firstData;
        const char* firstUsed;
    };
    const Project projects[] = {{"sample", nullptr, "IndexCounter1", "SepalLength"},
                                {"digits", digits, "IndexCounter1", "p1"},
                                {"Products", products, "ProductID", "SupplierID"}};
    QTableView* data = nullptr;
    const auto clickFirstDataCell = [&] {
        const QModelIndex cell = data->model()->index(2, data->columnAt(0));
        QTest::mouseClick(data->viewport(), Qt::LeftButton, Qt::NoModifier, data->visualRect(cell).center());
    };
    const auto clickFirstUnusedCell = [&] {
        data->horizontalScrollBar()->setValue(0);
        clickFirstDataCell();
    };
    const auto clickMatrixCell = [this] {
        // The total of the first class that has test rows.
        const UMatrix::Layout l = Matrix().CurrentLayout();
        for (int c = 0; c < l.cols && Right() == "Matrix"; ++c)
            QTest::mouseClick(&Matrix(), Qt::LeftButton, Qt::NoModifier, {l.x1 + c * l.cw + l.cw / 2, l.yT + 8});
    };
    // What each step does, and whether the cell it leaves current is in the
    // first used column (1), in the first data column, unused (0), or either (-1).
    struct Step {
        const char* what;
        std::function<void()> act;
        int currentUsed;
    };
    const Step steps[] = {
        {"on opening", [] {}, -1},
        {"Browse Test Data after a click in the first data column",
         [&] {
             clickFirstDataCell();
             ClickToolbar("mnuViewBrowseTest");
         },
         1},
        {"Browse All Data after a click in the first data column",
         [&] {
             clickFirstDataCell();
             ClickToolbar("mnuViewBrowseAll");
         },
         1},
        {"Browse Details of a matrix cell after a click in the first data column",
         [&] {
             clickFirstDataCell();
             ClickToolbar("mnuViewMatrix");
             clickMatrixCell();
         },
         1},
        {"Browse Test Data", [&] { ClickToolbar("mnuViewBrowseTest"); }, 1},
        {"Browse All Data after a click in an unused column",
         [&] {
             clickFirstUnusedCell();
             ClickToolbar("mnuViewBrowseAll");
         },
         0},
        {"Browse Test Data after a click in an unused column",
         [&] {
             clickFirstUnusedCell();
             ClickToolbar("mnuViewBrowseTest");
         },
         0},
    };
    for (const Project& project : projects) {
        path.clear();
        if (project.make) project.make();
        Open();
        ToTested();
        data = GridView().Grid()->SplitView(1);
        for (const QSize size : {QSize(800, 600), QSize(1280, 800)}) {
            Main().resize(size);
            dialogs.files.push_back(QString::fromStdString(path));
            Tool("mnuFileOpen")->trigger();
            for (const Step& step : steps) {
                SCOPED_TRACE(std::string(project.name) + ", " + step.what + " at " + std::to_string(size.width()));
                step.act();
                QApplication::processEvents();
                ASSERT_EQ(Right(), "DataGrid");
                const int left = data->columnAt(0);
                EXPECT_EQ(data->model()->headerData(left, Qt::Horizontal).toString(), project.firstUsed);
                EXPECT_EQ(data->columnViewportPosition(left), 0) << "the leftmost column shows whole";
                // The cell clicked keeps its field through the switches.
                if (step.currentUsed >= 0) {
                    EXPECT_EQ(data->model()->headerData(GridView().Grid()->Col(), Qt::Horizontal).toString(),
                              step.currentUsed ? project.firstUsed : project.firstData);
                }
            }
        }
    }
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}

// Each kind of control the window holds, while a command runs: what is clicked
// or typed meanwhile waits in the queue until the command has ended, or meets a
// yield of it; either way it is dropped. The same input with the window free acts.
TEST_F(AtTheWindow, NoControlActsOnInputMadeWhileACommandRuns) {
    Open();
    ToTested();
    QApplication::setActiveWindow(&Main());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    struct Target {
        QWidget* widget;
        QPoint at;
    };
    const auto click = [](Target t) { QTest::mouseClick(t.widget, Qt::LeftButton, Qt::NoModifier, t.at); };
    const auto doubleClick = [](Target t) {
        QTest::mouseClick(t.widget, Qt::LeftButton, Qt::NoModifier, t.at);
        QTest::mousePress(t.widget, Qt::LeftButton, Qt::NoModifier, t.at);
        QTest::mouseDClick(t.widget, Qt::LeftButton, Qt::NoModifier, t.at);
        QTest::mouseRelease(t.widget, Qt::LeftButton, Qt::NoModifier, t.at);
    };
    const auto space = [](Target t) { QTest::keyClick(t.widget, Qt::Key_Space); };
    const auto down = [](Target t) { QTest::keyClick(t.widget, Qt::Key_Down); };
    const auto type7 = [](Target t) { QTest::keyClicks(t.widget, "7"); };
    const auto centre = [](QWidget* w) { return Target{w, w->rect().center()}; };
    QTableView* fixed = GridView().Grid()->SplitView(0);
    QTableView* data = GridView().Grid()->SplitView(1);
    const auto cell = [](QTableView* v, int row, int col) {
        return Target{v->viewport(), v->visualRect(v->model()->index(row, col)).center()};
    };
    const auto mark = [this](int row) { return GridView().Grid()->Model()->Value(row, 0).toString(); };
    const auto named = [this](const char* panel, const char* name) {
        return Main().findChild<QWidget*>(panel)->findChild<QWidget*>(name);
    };
    const auto firstBox = [this](const char* part) {
        auto spins = Live().findChildren<UTextSpin*>("utsValue");
        spins.removeIf([](UTextSpin* s) { return s->isHidden(); });
        std::sort(spins.begin(), spins.end(), [](UTextSpin* a, UTextSpin* b) { return a->y() < b->y(); });
        return spins.front()->findChild<QWidget*>(part);
    };
    const auto right = [this] { return Right(); };
    struct Case {
        const char* control;
        const char* view;  // shows the control; run again, it is the command the input meets
        std::function<Target()> find;
        std::function<void(Target)> input;
        std::function<QString()> state;
    };
    const Case cases[] = {
        {"Browse Filter option", "mnuViewBrowseAll", [&] { return centre(named("pnlReport", "optFilter1")); },
         click, [this] { return CaptionRight(); }},
        {"grid mark cell", "mnuViewBrowseAll", [&] { return cell(fixed, 1, 0); }, doubleClick, [&] { return mark(1); }},
        {"grid key", "mnuViewBrowseAll", [&] { return Target{fixed, {}}; }, space,
         [&] { return mark(GridView().Grid()->Row()); }},
        {"grid cell", "mnuViewBrowseAll", [&] { return cell(data, 3, data->columnAt(0)); }, click,
         [this] { return QString("%1,%2").arg(GridView().Grid()->Row()).arg(GridView().Grid()->Col()); }},
        {"report link", "mnuViewBrowseAll", [&] { return centre(ReportPanel().Link(2)); }, click, right},
        {"tool bar button", "mnuViewBrowseAll",
         [&] { return centre(Main().Bar()->MainToolbar()->widgetForAction(Tool("mnuViewMatrix"))); }, click, right},
        {"panel button", "mnuViewClassList", [&] { return centre(named("pnlClassView", "cmdFieldStats")); },
         click, right},
        {"drop-down list", "mnuViewClassList", [&] { return centre(named("pnlClassView", "cmbClass")); },
         down, [&] { return static_cast<QComboBox*>(named("pnlClassView", "cmbClass"))->currentText(); }},
        {"list view", "mnuViewFieldStats",
         [&] {
             auto* list = static_cast<QTreeWidget*>(named("pnlFieldView", "lvwFields"));
             return Target{list->viewport(), list->visualItemRect(list->topLevelItem(2)).center()};
         },
         click,
         [&] {
             auto* item = static_cast<QTreeWidget*>(named("pnlFieldView", "lvwFields"))->currentItem();
             return item ? item->text(0) : QString();
         }},
        {"spin button", "mnuLivePredict",
         [&] {
             QWidget* arrows = firstBox("uspValue");
             return Target{arrows, {arrows->width() / 2, arrows->height() / 4}};
         },
         click, [&] { return static_cast<QLineEdit*>(firstBox("txtValue"))->text(); }},
        {"text box", "mnuLivePredict", [&] { return centre(firstBox("txtValue")); }, type7,
         [&] { return static_cast<QLineEdit*>(firstBox("txtValue"))->text(); }},
        {"legend option", "mnuViewFlow", [&] { return centre(named("pnlReport", "optColor0")); }, click,
         [this] { return QString::number(ReportPanel().findChild<QRadioButton*>("optColor0")->isChecked()); }},
        {"flow chart node", "mnuViewFlow",
         [&] {
             using namespace nodars;
             const int x = ChartValue(dispidItemXPos, 0) + ChartValue(dispidItemWidth, 0) / 2;
             const int y = ChartValue(dispidItemYPos, 0) + ChartValue(dispidItemHeight, 0) / 2;
             return Target{static_cast<QAbstractScrollArea*>(TreeGraph().GraphWidget())->viewport(),
                           {ChartToScreen(dispidGraphToScreenX, x), ChartToScreen(dispidGraphToScreenY, y)}};
         },
         doubleClick, right},
        {"rule tree", "mnuViewTree",
         [&] {
             auto* tree = TreeGraph().findChild<QTreeWidget*>("treeMain");
             const QRect first = tree->visualItemRect(tree->topLevelItem(0));
             return Target{tree->viewport(), first.center() + QPoint(0, first.height())};
         },
         click,
         [this] {
             QTreeWidgetItem* item = TreeGraph().findChild<QTreeWidget*>("treeMain")->currentItem();
             return item ? item->text(0) : QString();
         }},
        {"confusion matrix cell", "mnuViewMatrix",
         [&] {
             const UMatrix::Layout l = Matrix().CurrentLayout();
             return Target{&Matrix(), {l.x1 + l.cw / 2, l.y1 + 8}};
         },
         click, right},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        MTessary::MenuCommand(c.view);
        QApplication::processEvents();
        const QString before = c.state();
        QMetaObject::invokeMethod(
            qApp, [&c] { c.input(c.find()); }, Qt::QueuedConnection);
        MTessary::MenuCommand(c.view);
        QApplication::processEvents();
        EXPECT_EQ(c.state(), before) << "input waiting for the command's end";
        {
            CHourglass busy;
            busy.SetValue(true);
            c.input(c.find());
        }
        QApplication::processEvents();
        EXPECT_EQ(c.state(), before) << "input met at a yield";
        c.input(c.find());
        QApplication::processEvents();
        EXPECT_NE(c.state(), before) << "input with the window free";
    }
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
}
