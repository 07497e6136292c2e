// The status bar's panels, the about window's hidden credits, and text import.
#include "ShellFixture.h"

#include "FAbout.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <QToolBar>

using namespace shelltest;

TEST_F(ShellTest, TheStatusBarShowsMessagesAndRowCountsInItsOwnWords) {
    ASSERT_TRUE(Start());
    UStatusBar* bar = Main().StatusBar();
    MMenu::StatusText("Browsing all rows.");
    EXPECT_EQ(bar->Panel(1)->text(), " Browsing all rows. ");
    MMenu::StatusText("");
    EXPECT_EQ(bar->Panel(1)->text(), "  ");
    EXPECT_FALSE(bar->Panel("Project")->isVisible());
    bar->MsgRecordCount(0);
    EXPECT_TRUE(bar->Panel("Project")->isVisible());
    EXPECT_EQ(bar->Panel(4)->text(), " 0 Rows ");
    bar->MsgRecordCount(1234567);
    EXPECT_EQ(bar->Panel(4)->text(), " 1234567 Rows ");
    bar->MsgRecordCount(-1);
    EXPECT_FALSE(bar->Panel(4)->isVisible());
    // Fixed at start, in English month names whatever the user's language.
    QLocale::setDefault(QLocale(QLocale::German));
    UStatusBar other;
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(other.Panel("Date")->text(),
              " " + QLocale::c().toString(QDate::currentDate(), "MMM d, yyyy") + " ");
    EXPECT_EQ(bar->PanelCount(), 7);
    EXPECT_FALSE(bar->Panel("User")->isVisible());
    EXPECT_FALSE(bar->Panel("Edit")->isVisible());
    EXPECT_TRUE(bar->Panel("Space")->isVisible());
}

TEST_F(ShellTest, TheAboutCreditsNeedTheirThreeStepsInOrder) {
    ASSERT_TRUE(Start());
    FAbout about(&Main());
    about.show();
    EXPECT_EQ(about.windowTitle(), " About Tessary ");
    auto* picture = about.findChild<QWidget*>("picAbout");
    ASSERT_TRUE(picture);
    // A click without the two armed stages does nothing.
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(about.CreditTimer()->isActive());
    QTest::mouseDClick(picture, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(5, 5));
    QTest::mouseDClick(picture, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));  // resets
    QTest::mouseDClick(picture, Qt::LeftButton, Qt::ControlModifier, QPoint(5, 5));
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(about.CreditTimer()->isActive());
    QTest::mouseDClick(picture, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(5, 5));
    QTest::mouseDClick(picture, Qt::LeftButton, Qt::ControlModifier, QPoint(5, 5));
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(about.CreditTimer()->isActive());
    EXPECT_EQ(about.CreditTimer()->interval(), 80);
    // 27 frames, then the counter goes back to 0 and the timer stops.
    for (int i = 0; i < 40 && about.CreditTimer()->isActive(); ++i) QTest::qWait(90);
    EXPECT_FALSE(about.CreditTimer()->isActive());
    EXPECT_EQ(about.CreditFrame(), 0);
}

TEST_F(ShellTest, ImportWritesADatabaseBesideTheChosenTextAndCancelWritesNothing) {
    ASSERT_TRUE(Start());
    const std::string text = dir.File("flowers.txt");
    std::filesystem::copy_file(SamplesDir() + "/iris.csv", text);
    Tool("mnuFileImport")->trigger();  // cancelled
    EXPECT_FALSE(std::filesystem::exists(dir.File("flowers.mdb")));
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].title, "Import");
    EXPECT_EQ(dialogs.fileRequests[0].filter, "Text (*.txt)|*.txt");
    EXPECT_EQ(dialogs.fileRequests[0].defaultSuffix, "txt");
    dialogs.files.push_back(QString::fromStdString(text));
    Tool("mnuFileImport")->trigger();
    EXPECT_TRUE(std::filesystem::exists(dir.File("flowers.mdb")));
}

// A tool button that Qt left marked under the mouse, its tip on the status bar
// (a menu closed over it while a command ran): the program's own text shows at
// once, and the button is let go, no longer drawn hovered, as the pointer moves on.
TEST_F(ShellTest, AToolLeftHoveredGivesWayToTheProgramsText) {
    ASSERT_TRUE(Start());
    Main().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main()));
    QWidget* open = Main().Bar()->MainToolbar()->widgetForAction(Tool("mnuFileOpen"));
    const QImage plain = open->grab().toImage();
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(open, &enter);
    const QPointF at = open->rect().center();
    QHoverEvent hover(QEvent::HoverEnter, at, open->mapToGlobal(at), QPointF(-1, -1));
    QCoreApplication::sendEvent(open, &hover);
    ASSERT_TRUE(open->underMouse());
    ASSERT_EQ(Main().statusBar()->currentMessage(), "Open Project...");
    ASSERT_NE(open->grab().toImage(), plain) << "drawn hovered";

    MMenu::StatusText("Browsing all rows.");
    EXPECT_EQ(Main().statusBar()->currentMessage(), "");
    EXPECT_TRUE(Main().StatusBar()->Panel(1)->isVisible());
    QTest::mouseMove(Main().Frame(), Main().Frame()->rect().center());
    EXPECT_FALSE(open->underMouse());
    EXPECT_EQ(open->grab().toImage(), plain);
}
