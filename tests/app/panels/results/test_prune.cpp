// The prune panel: spin limits, typing and committing values, the Finish
// question, the changed flag, and the settings as the shell reads them.
#include "UPrune.h"

#include "CProject.h"
#include "PanelTestSupport.h"
#include "UChartReport.h"
#include "USpin.h"
#include "ui/testing.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace paneltest;

namespace {

class PruneTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel.resize(200, 400);
        panel.show();
        QObject::connect(&panel, &base::IPrunePanel::ReBuild, [this] { ++rebuilds; });
        QObject::connect(&panel, &base::IPrunePanel::NavNext, [this] { ++nexts; });
        QObject::connect(&panel, &base::IPrunePanel::NavBack, [this] { ++backs; });
    }
    QLineEdit* Box(const char* name) { return panel.findChild<QLineEdit*>(name); }
    QLineEdit* Rate() { return Box("txtPruneRate"); }
    QLineEdit* Items() { return Box("txtMinItems"); }
    void Key(QLineEdit* box, int key, const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(box, &press);
    }
    // Replaces the box's text by typing, as a user would after selecting it all.
    void Type(QLineEdit* box, const QString& text) {
        box->selectAll();
        Key(box, Qt::Key_Backspace);
        for (QChar c : text) Key(box, c.unicode() == '.' ? Qt::Key_Period : Qt::Key_0 + (c.unicode() - '0'), c);
    }
    void Enter(QLineEdit* box) { Key(box, Qt::Key_Return, "\r"); }
    void Leave(QLineEdit* box) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &out);
    }

    WithApp app;
    ui::ScopedRecorder dialogs;
    UPrune panel;
    int rebuilds = 0, nexts = 0, backs = 0;
};

}  // namespace

TEST_F(PruneTest, SpinStepsStopAtTheirLimits) {
    EXPECT_FLOAT_EQ(panel.PruneRate(), 75.0f);
    EXPECT_EQ(Rate()->text(), "75.0");
    EXPECT_EQ(panel.MinItems(), 2);

    panel.SetPruneRate(99.5f);
    panel.StepPruneRate(false);
    EXPECT_FLOAT_EQ(panel.PruneRate(), 99.5f);
    panel.StepPruneRate(true);
    EXPECT_FLOAT_EQ(panel.PruneRate(), 98.5f);
    EXPECT_EQ(Rate()->text(), "98.5");
    panel.SetPruneRate(0.5f);
    panel.StepPruneRate(true);
    EXPECT_FLOAT_EQ(panel.PruneRate(), 0.5f);
    panel.SetPruneRate(100.0f);
    Key(Rate(), Qt::Key_Up);
    EXPECT_FLOAT_EQ(panel.PruneRate(), 100.0f);
    panel.SetPruneRate(0.0f);
    Key(Rate(), Qt::Key_Down);
    EXPECT_FLOAT_EQ(panel.PruneRate(), 0.0f);
    Key(Rate(), Qt::Key_Up);
    EXPECT_EQ(Rate()->text(), "1.0");

    panel.SetMinItems(1);
    Items()->setText("junk");
    panel.StepMinItems(true);
    EXPECT_EQ(panel.MinItems(), 1);
    EXPECT_EQ(Items()->text(), "1");  // rewritten even though the value stayed
    panel.SetMinItems(30000);
    Key(Items(), Qt::Key_Up);
    EXPECT_EQ(panel.MinItems(), 30000);
    Key(Items(), Qt::Key_Down);
    EXPECT_EQ(panel.MinItems(), 29999);
    EXPECT_EQ(rebuilds, 0);
}

TEST_F(PruneTest, TheSpinButtonsStepByKeysAndMouse) {
    auto* rateSpin = panel.findChild<USpin*>("spnPruneRate");
    auto* itemsSpin = panel.findChild<USpin*>("spnMinItems");
    ASSERT_TRUE(rateSpin && itemsSpin);
    QTest::keyClick(rateSpin, Qt::Key_PageUp);
    EXPECT_EQ(Rate()->text(), "80.0");
    QTest::keyClick(rateSpin, Qt::Key_Down);
    EXPECT_EQ(Rate()->text(), "79.0");
    panel.SetMinItems(10);
    QTest::mouseClick(itemsSpin, Qt::LeftButton, Qt::NoModifier, QPoint(itemsSpin->width() / 2, itemsSpin->height() * 3 / 4));
    EXPECT_EQ(panel.MinItems(), 9);
    QTest::keyClick(itemsSpin, Qt::Key_PageDown);
    EXPECT_EQ(Items()->text(), "4");
    EXPECT_TRUE(panel.Changed());
    EXPECT_EQ(rebuilds, 0);
}

// Tab goes from box to box past the spin buttons; a click still gives a spin
// button the keyboard for its page keys.
TEST_F(PruneTest, TabGoesFromBoxToBoxPastTheSpinButtons) {
    QApplication::setActiveWindow(&panel);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    Rate()->setFocus();
    QTest::keyClick(Rate(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Items());
    QTest::keyClick(Items(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), Rate());
    auto* rateSpin = panel.findChild<USpin*>("spnPruneRate");
    QTest::mouseClick(rateSpin, Qt::LeftButton, Qt::NoModifier, QPoint(rateSpin->width() / 2, rateSpin->height() / 4));
    EXPECT_EQ(QApplication::focusWidget(), rateSpin);
    QTest::keyClick(rateSpin, Qt::Key_PageUp);
    EXPECT_EQ(Rate()->text(), "81.0");
}

TEST_F(PruneTest, TypedValuesAreTakenOnEnterAndWhenLeavingTheBox) {
    Type(Items(), "0");
    Enter(Items());
    EXPECT_EQ(Items()->text(), "1");
    EXPECT_EQ(panel.MinItems(), 1);
    EXPECT_EQ(rebuilds, 1);

    panel.SetMinItems(7);
    Type(Items(), "30001");
    Enter(Items());
    EXPECT_EQ(Items()->text(), "7");
    EXPECT_EQ(panel.MinItems(), 7);
    EXPECT_EQ(rebuilds, 2);

    Type(Rate(), "25.5");
    Enter(Rate());
    EXPECT_FLOAT_EQ(panel.PruneRate(), 25.5f);
    EXPECT_EQ(Rate()->text(), "25.5");
    EXPECT_EQ(rebuilds, 3);
    Type(Rate(), "101");
    Leave(Rate());
    EXPECT_FLOAT_EQ(panel.PruneRate(), 25.5f);
    EXPECT_EQ(Rate()->text(), "25.5");
    Type(Rate(), "40.21");
    Leave(Rate());
    EXPECT_FLOAT_EQ(panel.PruneRate(), 40.21f);
    EXPECT_EQ(rebuilds, 3);

    // Halves go to the even neighbour; the box keeps what was typed.
    Type(Items(), "12.7");
    Leave(Items());
    EXPECT_EQ(panel.MinItems(), 13);
    EXPECT_EQ(Items()->text(), "12.7");
    Type(Items(), "12.5");
    Leave(Items());
    EXPECT_EQ(panel.MinItems(), 12);
    Items()->setText("");
    Leave(Items());
    EXPECT_EQ(Items()->text(), "12");

    // Esc puts the current value back, all selected.
    Type(Rate(), "9");
    Key(Rate(), Qt::Key_Escape);
    EXPECT_EQ(Rate()->text(), "40.2");  // one decimal shown
    EXPECT_EQ(Rate()->selectedText(), Rate()->text());
    EXPECT_EQ(rebuilds, 3);
}

TEST_F(PruneTest, TheTypingFilter) {
    Type(Items(), "12345");
    Key(Items(), Qt::Key_6, "6");
    EXPECT_EQ(Items()->text(), "12345");
    // With part of the text selected the digit replaces it.
    Items()->setSelection(0, 1);
    Key(Items(), Qt::Key_9, "9");
    EXPECT_EQ(Items()->text(), "92345");

    Type(Rate(), "1.5");
    Key(Rate(), Qt::Key_Period, ".");
    EXPECT_EQ(Rate()->text(), "1.5");
    Key(Rate(), Qt::Key_A, "a");
    Key(Rate(), Qt::Key_Minus, "-");
    EXPECT_EQ(Rate()->text(), "1.5");
    Key(Rate(), Qt::Key_Backspace);
    EXPECT_EQ(Rate()->text(), "1.");
    Type(Rate(), "123456");
    EXPECT_EQ(Rate()->text(), "12345");
    Key(Rate(), Qt::Key_Period, ".");
    EXPECT_EQ(Rate()->text(), "12345.");
}

TEST_F(PruneTest, FinishAsksOnlyAfterAChange) {
    panel.findChild<QPushButton*>("lnkOK")->click();
    EXPECT_EQ(nexts, 1);
    EXPECT_TRUE(dialogs.Messages().empty());

    Type(Rate(), "50");
    EXPECT_TRUE(panel.Changed());
    dialogs.answers.push_back(ui::Answer::Cancel);
    panel.findChild<QPushButton*>("lnkOK")->click();
    EXPECT_EQ(nexts, 1);
    EXPECT_TRUE(panel.Changed());
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    const auto question = dialogs.Messages()[0];
    EXPECT_EQ(question.title, "Settings Have Changed");
    EXPECT_EQ(question.text, "Rules have not been extracted for current settings.  Continuing using previous rules?");
    EXPECT_EQ(question.buttons, ui::Buttons::OKCancel);
    EXPECT_EQ(question.icon, ui::Icon::Exclamation);

    dialogs.answers.push_back(ui::Answer::OK);
    panel.findChild<QPushButton*>("lnkOK")->click();
    EXPECT_EQ(nexts, 2);
    EXPECT_FALSE(panel.Changed());

    panel.findChild<QPushButton*>("lnkCancel")->click();
    EXPECT_EQ(backs, 1);
    EXPECT_EQ(dialogs.Messages().size(), 2u);
}

TEST_F(PruneTest, TheChangedFlagAndTheRebuildButton) {
    EXPECT_FALSE(panel.Changed());
    panel.StepMinItems(false);
    EXPECT_TRUE(panel.Changed());
    // Set by the shell: unchanged, though the box text changed.
    panel.SetPruneRate(60.0f);
    EXPECT_FALSE(panel.Changed());
    panel.SetMinItems(5);
    EXPECT_FALSE(panel.Changed());

    // Extract Rules Now enables Finish, then lets the shell decide.
    auto* next = panel.findChild<QPushButton*>("lnkOK");
    panel.DisableNext();
    Type(Items(), "9");
    QObject::connect(&panel, &base::IPrunePanel::ReBuild, [next] { EXPECT_TRUE(next->isEnabled()); });
    panel.findChild<QPushButton*>("cmdRebuild")->click();
    EXPECT_EQ(rebuilds, 1);
    EXPECT_TRUE(next->isEnabled());
    EXPECT_FALSE(panel.Changed());
    EXPECT_EQ(panel.MinItems(), 5);  // the click does not take the typed text
}

TEST_F(PruneTest, FiguresAndLegend) {
    panel.SetTotalValues(150, 96, 11);
    EXPECT_EQ(panel.findChild<QLabel*>("lblNodesMain")->text(), "11");
    EXPECT_EQ(panel.findChild<QLabel*>("lblConfMain")->text(), "96%");
    EXPECT_EQ(panel.findChild<QLabel*>("lblTotalItems")->text(), "150");
    panel.SetLocalValues(-1, -1);
    EXPECT_EQ(panel.findChild<QLabel*>("lblLocalItems")->text(), "-");
    panel.SetLocalValues(40, 87.6f);
    EXPECT_EQ(panel.findChild<QLabel*>("lblLocalConf")->text(), "88");

    auto* quantity = panel.findChild<QRadioButton*>("optColor0");
    panel.ShowType(0);
    EXPECT_FALSE(quantity->isEnabled());
    panel.ShowType(7);
    EXPECT_FALSE(quantity->isEnabled());
    int16_t mode = -1, contrast = -1;
    QObject::connect(&panel, &base::IPrunePanel::ColorChange, [&](int16_t m, int16_t c) { mode = m, contrast = c; });
    panel.SetContrast(20);
    panel.ShowType(1);
    quantity->click();
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(contrast, 20);
    Screenshot(panel, "prune_panel");
}

TEST_F(PruneTest, SettingsKeepTheValueTheUserChose) {
    Type(Rate(), "33.3");
    Enter(Rate());
    EXPECT_EQ(panel.PruneRate(), 33.3f);
    // Stored as the shell stores it, the setting reads back as typed.
    QTemporaryDir dir;
    CProject project;
    project.Create(dir.filePath("p.txp").toStdString());
    project.SaveConfig("PruneRate", panel.PruneRate());
    EXPECT_EQ(project.GetConfig("PruneRate"), "33.3");

    // 1 % of 3,280,000 training rows needs more than 16 bits.
    panel.SetMinItems(32800);
    EXPECT_EQ(panel.MinItems(), 32800);
    EXPECT_EQ(Items()->text(), "32800");
    project.SaveConfig("MinItems", panel.MinItems());
    EXPECT_EQ(project.GetConfig("MinItems"), "32800");
    // The spin steps down from there; up is refused above the typed limit.
    panel.StepMinItems(false);
    EXPECT_EQ(panel.MinItems(), 32800);
    panel.StepMinItems(true);
    EXPECT_EQ(panel.MinItems(), 32799);
    project.CloseProject();
}

TEST(PruneLayout, FinishSitsRightOrNextToBack) {
    // Flush right with a 120-twip margin when there is room ...
    EXPECT_DOUBLE_EQ(UPrune::NextButtonLeft(4000), 4000 - 1125 - 120);
    // ... else 120 twips right of Back.
    EXPECT_DOUBLE_EQ(UPrune::NextButtonLeft(2000), 120 + 1125 + 120);
    EXPECT_DOUBLE_EQ(UPrune::NextButtonLeft(2610), 120 + 1125 + 120);
    EXPECT_DOUBLE_EQ(UPrune::NextButtonLeft(2611), 2611 - 1125 - 120);
}

TEST_F(PruneTest, ResizingPlacesFinish) {
    auto* next = panel.findChild<QPushButton*>("lnkOK");
    panel.resize(60, 400);
    EXPECT_EQ(next->x(), 91);  // 1365 twips: right of Back
    panel.resize(400, 400);
    EXPECT_EQ(next->x(), 400 - 83);  // flush right, 1245 twips in from the edge
}
