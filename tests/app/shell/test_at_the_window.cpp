// What a person meets in the real window: naming projects in the real file
// dialog, the figures of the result legend and of the field statistics always
// belonging to the project and tree on show, and the menu bar's access keys.
#include "ResultRoadFixture.h"

#include "../../support/FileDialogDriver.h"

#include "CCommandTable.h"
#include "IFieldViewPanel.h"
#include "ITableSelectPanel.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>

#include <cmath>

using namespace shelltest;

namespace {

class AtTheWindow : public RoadTest {
protected:
    QString Legend(const char* label) { return ReportPanel().findChild<QLabel*>(label)->text(); }
    QString Totals() { return Legend("lblTotalItems") + " / " + Legend("lblTotalConf") + " | " + Legend("lblLocalItems"); }
    QString TreeTotals() {
        const CTRX& trx = *G().gTRX;
        return QString("%1 / %2 | -").arg(trx.Items()).arg(std::lround(trx.SingleNormalConfidence(0)));
    }
    QString SourceLabel() { return Main().Panels().fieldView->findChild<QLabel*>("lblDataSource")->text(); }
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
    ASSERT_TRUE(G().gProject);
    EXPECT_EQ(G().gProject->FileName(), folder + "/Fresh.txp");
    EXPECT_EQ(Main().windowTitle(), "Tessary - [Fresh.txp]");
    EXPECT_EQ(Main().State().State(), 1);

    testsupport::FileDialogSeen offered;
    testsupport::TypeIntoNextFileDialog(QString(), &offered);
    MTessary::MenuCommand("mnuFileNew");
    EXPECT_TRUE(offered.refusals.isEmpty()) << offered.refusals.join(" | ").toStdString();
    ASSERT_TRUE(G().gProject);
    EXPECT_EQ(G().gProject->FileName(), folder + "/Project1.txp");

    const std::string sample = CopySample("work");
    testsupport::FileDialogSeen opened;
    testsupport::TypeIntoNextFileDialog("iris.txp", &opened);
    MTessary::MenuCommand("mnuFileOpen");
    EXPECT_EQ(opened.title, "Open Project");
    EXPECT_TRUE(opened.refusals.isEmpty());
    ASSERT_TRUE(G().gProject);
    EXPECT_EQ(G().gProject->FileName(), sample);
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
    G().gProject->SaveConfig("TrainHigh", int32_t(80));
    G().gProject->SaveConfig("TestLow", int32_t(81));
    G().gTreeMode = 0;
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
