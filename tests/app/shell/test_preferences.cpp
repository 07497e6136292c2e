// The preferences window and what its settings change.
#include "ShellFixture.h"

#include "CMRUList.h"
#include "FPref.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>

using namespace shelltest;

TEST_F(ShellTest, PreferencesShowTheDefaultsAndOkStoresThem) {
    ASSERT_TRUE(Start());
    FPref pref(&Main());
    EXPECT_EQ(pref.windowTitle(), "Program Prefrences");
    EXPECT_EQ(pref.NumRecentsBox()->count(), 17);
    EXPECT_EQ(pref.NumRecentsBox()->currentIndex(), 4);
    EXPECT_FALSE(pref.AutoloadBox()->isChecked());
    EXPECT_TRUE(pref.ToolbarBox()->isChecked());
    EXPECT_TRUE(pref.DelimButton(0)->isChecked());
    pref.cmdOK_Click();
    EXPECT_EQ(Reg("Config", "NumRecents"), "4");
    EXPECT_EQ(Reg("Config", "AutoLoad"), "False");
    EXPECT_EQ(Reg("Config", "ShowToolbar"), "True");
    EXPECT_EQ(Reg("Config", "TextDelim"), "0");
}

TEST_F(ShellTest, PreferencesRoundTripAndCancelStoresNothing) {
    ASSERT_TRUE(Start());
    {
        FPref pref(&Main());
        pref.NumRecentsBox()->setCurrentIndex(9);
        pref.AutoloadBox()->setChecked(true);
        pref.ToolbarBox()->setChecked(false);
        pref.DelimButton(1)->click();
        pref.cmdOK_Click();
    }
    EXPECT_EQ(Reg("Config", "NumRecents"), "9");
    EXPECT_EQ(Reg("Config", "AutoLoad"), "True");
    EXPECT_EQ(Reg("Config", "ShowToolbar"), "False");
    EXPECT_EQ(Reg("Config", "TextDelim"), "1");
    {
        FPref pref(&Main());  // each showing starts from the store
        EXPECT_EQ(pref.NumRecentsBox()->currentIndex(), 9);
        EXPECT_TRUE(pref.AutoloadBox()->isChecked());
        EXPECT_FALSE(pref.ToolbarBox()->isChecked());
        EXPECT_TRUE(pref.DelimButton(1)->isChecked());
        pref.NumRecentsBox()->setCurrentIndex(2);
        pref.AutoloadBox()->setChecked(false);
        pref.cmdDefaults_Click();
        EXPECT_EQ(pref.NumRecents(), 4);
        EXPECT_TRUE(pref.ToolbarBox()->isChecked());
        pref.cmdCancel_Click();
    }
    EXPECT_EQ(Reg("Config", "NumRecents"), "9");
    EXPECT_EQ(Reg("Config", "AutoLoad"), "True");
    EXPECT_EQ(Reg("Config", "TextDelim"), "1");
}

TEST_F(ShellTest, AStoredCountOutsideTheListIsKeptButTheRecentListIsHeldToSixteen) {
    SetReg("Config", "NumRecents", "20");
    for (int i = 1; i <= 18; ++i) SetReg("RecentFileList", std::to_string(i), "/p/" + std::to_string(i) + ".txp");
    ASSERT_TRUE(Start());
    FPref pref(&Main());
    EXPECT_EQ(pref.NumRecentsBox()->currentIndex(), -1);
    EXPECT_EQ(pref.NumRecents(), 20);
    pref.cmdOK_Click();
    EXPECT_EQ(Reg("Config", "NumRecents"), "20");
    EXPECT_EQ(app::Globals().gMRUList->MaxItems(), 16);
    EXPECT_EQ(app::Globals().gMRUList->Count(), 16);
}

TEST_F(ShellTest, ChoosingNoRecentFilesEmptiesTheMenuAndHidingTheToolbarTakesEffectAtOnce) {
    SetReg("RecentFileList", "1", "/p/a.txp");
    ASSERT_TRUE(Start());
    ASSERT_EQ(app::Globals().gMRUList->Count(), 1);
    // The dialog is modal: answer it once it is up.
    QTimer::singleShot(0, [] {
        auto* pref = qobject_cast<FPref*>(QApplication::activeModalWidget());
        ASSERT_TRUE(pref);
        pref->NumRecentsBox()->setCurrentIndex(0);
        pref->ToolbarBox()->setChecked(false);
        pref->cmdOK_Click();
    });
    Tool("mnuEditPrefrences")->trigger();
    EXPECT_EQ(app::Globals().gMRUList->Count(), 0);
    for (QAction* a : Main().Bar()->Band("popFile")->actions()) EXPECT_NE(a->objectName(), "mnuRecent");
    EXPECT_FALSE(Main().Bar()->MainToolbar()->isVisible());
    EXPECT_EQ(Reg("RecentFileList", "1"), "<none>");
}

// The number chosen holds at the next start, also over entries stored beyond
// it; a stored text that is no number leaves the list as loaded.
TEST_F(ShellTest, TheStoredNumberOfRecentFilesHoldsAtTheNextStart) {
    for (int i = 1; i <= 6; ++i) SetReg("RecentFileList", std::to_string(i), "/p/" + std::to_string(i) + ".txp");
    ASSERT_TRUE(Start());
    {
        FPref pref(&Main());
        pref.NumRecentsBox()->setCurrentIndex(4);
        pref.cmdOK_Click();
    }
    ASSERT_EQ(app::Globals().gMRUList->Count(), 4);
    SetReg("RecentFileList", "5", "/p/stale.txp");  // written by something else meanwhile
    ASSERT_TRUE(Start());
    CMRUList& list = *app::Globals().gMRUList;
    EXPECT_EQ(list.MaxItems(), 4);
    EXPECT_EQ(list.Count(), 4);
    list.Add("/p/new.txp");
    EXPECT_EQ(list.Count(), 4);
    int entries = 0;
    for (QAction* a : Main().Bar()->Band("popFile")->actions()) entries += a->objectName() == "mnuRecent";
    EXPECT_EQ(entries, 4);

    SetReg("Config", "NumRecents", "many");
    ASSERT_TRUE(Start());
    EXPECT_EQ(app::Globals().gMRUList->MaxItems(), 6);
}
