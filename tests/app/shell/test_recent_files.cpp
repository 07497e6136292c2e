// The recent-files list: its sequences, its registry values and its entries in the File menu.
#include "ShellFixture.h"

#include "CMRUList.h"
#include "MUtilities.h"

#include <QMainWindow>
#include <QMenu>

using namespace shelltest;

namespace {

class RecentFiles : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        settings = std::make_shared<CRegSettings>();
        settings->SetCompany("Tavrel");
        settings->SetAppName("Tessary");
        MUtilities::SetRegSettings(settings);
        window = std::make_unique<QMainWindow>();
        bar = new CCommandTable(window.get());
        band = bar->Band("popFile");
    }
    void TearDown() override {
        MUtilities::SetRegSettings(nullptr);
        window.reset();
        ShellTest::TearDown();
    }
    // The band as text: entries by caption, separators as "-".
    QStringList BandText() const {
        QStringList out;
        for (QAction* a : band->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    QStringList Entries() const {
        QStringList out;
        for (QAction* a : band->actions())
            if (a->objectName() == "mnuRecent") out << a->text();
        return out;
    }
    std::shared_ptr<CRegSettings> settings;
    std::unique_ptr<QMainWindow> window;
    CCommandTable* bar = nullptr;
    QMenu* band = nullptr;
};

}  // namespace

TEST_F(RecentFiles, AddingMovesToTheTopDropsTheOldestAndTellsPathsApartByCase) {
    CMRUList list;
    list.Initialize(bar, band);
    list.SetMaxItems(4);
    for (const char* p : {"/p/a.txp", "/p/b.txp", "/p/c.txp", "/p/d.txp"}) list.Add(p);
    EXPECT_EQ(list.Count(), 4);
    list.Add("/p/b.txp");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Item(1), "/p/b.txp");
    EXPECT_EQ(list.Item(2), "/p/d.txp");
    // Another file on a case-sensitive file system: it keeps /p/b.txp, the oldest goes.
    list.Add("/p/B.txp");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ((QStringList{list.Item(1), list.Item(2), list.Item(3), list.Item(4)}),
              (QStringList{"/p/B.txp", "/p/b.txp", "/p/d.txp", "/p/c.txp"}));
    EXPECT_EQ(list.Item(5), "");
    EXPECT_EQ(list.Item(0), "");
    EXPECT_EQ(Reg("RecentFileList", "1"), "/p/B.txp");
    EXPECT_EQ(Reg("RecentFileList", "4"), "/p/c.txp");
    EXPECT_EQ(Reg("RecentFileList", "5"), "<none>");
    list.Add("");
    EXPECT_EQ(list.Count(), 4);
    // Numbered entries just above Exit, in their own group.
    EXPECT_EQ(BandText().mid(BandText().size() - 7),
              (QStringList{"-", "&1 /p/B.txp", "&2 /p/b.txp", "&3 /p/d.txp", "&4 /p/c.txp", "-", "E&xit"}));
    for (QAction* a : band->actions()) {
        if (a->objectName() == "mnuRecent") {
            EXPECT_EQ(a->statusTip(), "Open this file");
        }
    }
}

TEST_F(RecentFiles, LoweringTheCapacityDeletesTheValuesBeyondIt) {
    for (int i = 1; i <= 5; ++i) SetReg("RecentFileList", std::to_string(i), "/p/" + std::to_string(i) + ".txp");
    CMRUList list;
    list.Initialize(bar, band);
    EXPECT_EQ(list.Count(), 5);
    EXPECT_EQ(list.MaxItems(), 6);
    list.SetMaxItems(2);
    EXPECT_EQ(list.Count(), 2);
    for (const char* gone : {"3", "4", "5"}) EXPECT_EQ(Reg("RecentFileList", gone), "<none>") << gone;
    EXPECT_EQ(Reg("RecentFileList", "2"), "/p/2.txp");
    EXPECT_EQ(Entries().size(), 2);
    // Capacity 0 empties the list and the menu; later additions keep it empty.
    list.SetMaxItems(0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(Entries().isEmpty());
    list.Add("/p/new.txp");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(Entries().isEmpty());
    EXPECT_TRUE(dialogs.Messages().empty());
    // A negative capacity counts as none instead of breaking every later Add.
    list.SetMaxItems(-3);
    list.Add("/p/x.txp");
    EXPECT_EQ(list.MaxItems(), 0);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(RecentFiles, LoadingStopsAtTheFirstGapAndSizesTheCapacity) {
    SetReg("RecentFileList", "1", "/p/1.txp");
    SetReg("RecentFileList", "2", "/p/2.txp");
    SetReg("RecentFileList", "4", "/p/4.txp");
    {
        CMRUList list;
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.MaxItems(), 6);
    }
    for (int i = 3; i <= 8; ++i) SetReg("RecentFileList", std::to_string(i), "/p/" + std::to_string(i) + ".txp");
    CMRUList list;
    EXPECT_EQ(list.Count(), 8);
    EXPECT_EQ(list.MaxItems(), 8);
    EXPECT_TRUE(list.Visible());
    EXPECT_TRUE(list.Enabled());
}

TEST_F(RecentFiles, WithoutAnExitToolTheEntriesGoLastAndAnAmpersandIsNoAccessKey) {
    band->removeAction(bar->Tool(QStringLiteral("mnuFileExit")));
    CMRUList list;
    list.Initialize(bar, band);
    list.Add("/data/R&D.txp");
    EXPECT_EQ(BandText().last(), "&1 /data/R&&D.txp");
    list.SetEnabled(false);
    list.SetVisible(false);
    for (QAction* a : band->actions())
        if (a->objectName() == "mnuRecent") {
            EXPECT_FALSE(a->isEnabled());
            EXPECT_FALSE(a->isVisible());
        }
    // Entries keep out of the tool collection that the start-up state disables.
    for (QAction* tool : bar->Tools()) EXPECT_NE(tool->objectName(), "mnuRecent");
}
