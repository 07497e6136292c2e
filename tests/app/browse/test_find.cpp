// The find dialog and the grid's search on the sample project: directions,
// wrap-around, Match Case, not found, hostile texts, wildcards and history.
#include "BrowseFixture.h"

#include "FFind.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QWindow>

using browsetest::BrowseFixture;

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class FindTest : public BrowseFixture {
protected:
    FFind* dlg = nullptr;

    void Open(int col) {
        Browse(0);
        grid->Grid()->SetRow(0);
        grid->Grid()->SetCol(col);
        grid->ShowFind();
        dlg = grid->FindDialog();
        ASSERT_TRUE(dlg);
        dlg->Form_Activate();
    }
    int Find(const QString& text) {
        dlg->cmbFind->setEditText(text);
        dlg->FindNext();
        return grid->Grid()->Row();
    }
    // Rows whose text in col is text (as the grid shows it, letter case ignored).
    std::vector<int> RowsWith(int col, const QString& text) {
        std::vector<int> rows;
        for (int r = 0; r < Model()->Count(); ++r)
            if (Model()->Text(r, col).compare(text, Qt::CaseInsensitive) == 0) rows.push_back(r);
        return rows;
    }
};

}  // namespace

TEST_F(FindTest, ForwardBackwardAndWrapAround) {
    Open(1);
    EXPECT_EQ(dlg->windowTitle(), "Find in [Species]");
    const auto rows = RowsWith(1, "virginica");
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(Find("virginica"), rows[0]);
    EXPECT_EQ(dlg->windowTitle(), "Find - 'virginica' Found");
    EXPECT_EQ(grid->RecordSet()->AbsolutePosition(), rows[0]);
    EXPECT_EQ(Find("virginica"), rows[1]);
    // Up from the second match gives the first; up from the first wraps to the last.
    dlg->optDirection[0]->click();
    EXPECT_EQ(Find("virginica"), rows[0]);
    EXPECT_EQ(Find("virginica"), rows.back());
    // Down from the last match wraps to the first and still says Found.
    dlg->optDirection[1]->click();
    EXPECT_EQ(Find("virginica"), rows[0]);
    EXPECT_EQ(dlg->windowTitle(), "Find - 'virginica' Found");
    EXPECT_EQ(grid->Grid()->Col(), 1);
    // The grid's own clicks move the start of the next search.
    grid->Grid()->SetRow(rows[2]);
    EXPECT_EQ(Find("virginica"), rows[3]);
}

TEST_F(FindTest, MatchCaseComparesLetterCase) {
    Open(1);
    const auto rows = RowsWith(1, "setosa");
    EXPECT_EQ(Find("SETOSA"), rows[0]);  // Like ignores case
    grid->Grid()->SetRow(0);
    dlg->chkMatchCase->setChecked(true);
    EXPECT_EQ(Find("SETOSA"), 0);
    EXPECT_EQ(dlg->windowTitle(), "Find - 'SETOSA' Not Found");
    EXPECT_EQ(Find("setosa"), rows[0]);
    // A prefix is no match: the whole cell is compared.
    grid->Grid()->SetRow(0);
    EXPECT_EQ(Find("set"), 0);
}

TEST_F(FindTest, NotFoundAndHostileTextsFindOnlyThemselves) {
    ExecData("UPDATE iris SET Species = 'o''brien' WHERE IndexCounter1 = 40;");
    ExecData("UPDATE iris SET Species = 'x'' OR ''1''=''1' WHERE IndexCounter1 = 77;");
    Open(1);
    grid->Grid()->SetRow(5);
    EXPECT_EQ(Find("nothing like it"), 5);
    EXPECT_EQ(dlg->windowTitle(), "Find - 'nothing like it' Not Found");
    EXPECT_EQ(grid->RecordSet()->AbsolutePosition(), 5);

    const auto obrien = RowsWith(1, "o'brien");
    ASSERT_EQ(obrien.size(), 1u);
    EXPECT_EQ(Find("o'brien"), obrien[0]);
    const auto hostile = RowsWith(1, "x' OR '1'='1");
    ASSERT_EQ(hostile.size(), 1u);
    grid->Grid()->SetRow(0);
    EXPECT_EQ(Find("x' OR '1'='1"), hostile[0]);
    EXPECT_EQ(Find("x' OR '1'='1"), hostile[0]);  // the only match, found again by wrapping
    grid->Grid()->SetRow(0);
    EXPECT_EQ(Find("' OR 1=1 OR Species Like '"), 0);
    EXPECT_EQ(dlg->windowTitle(), "Find - '' OR 1=1 OR Species Like '' Not Found");
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(FindTest, NumbersWildcardsAndMatchCaseState) {
    Open(3);  // SepalLength
    const auto sixes = RowsWith(3, "6");
    ASSERT_FALSE(sixes.empty());
    EXPECT_EQ(Find("6"), sixes[0]);
    // Not a number: with Match Case the caption says Not Found at once, without moving.
    dlg->chkMatchCase->setChecked(true);
    EXPECT_EQ(Find("abc"), sixes[0]);
    EXPECT_EQ(dlg->windowTitle(), "Find - 'abc' Not Found");
    dlg->chkMatchCase->setChecked(false);
    EXPECT_EQ(Find("1,000"), sixes[0]);
    EXPECT_EQ(dlg->windowTitle(), "Find - '1,000' Not Found");
    EXPECT_TRUE(dialogs.Messages().empty());

    // Wildcards disable Match Case; with it off they work.
    dlg->cmbFind->setEditText("virg*");
    EXPECT_FALSE(dlg->chkMatchCase->isEnabled());
    dlg->cmbFind->setEditText("virg");
    EXPECT_TRUE(dlg->chkMatchCase->isEnabled());
    grid->Grid()->SetCol(1);
    grid->Grid()->SetRow(0);
    dlg->Form_Activate();
    const auto virg = RowsWith(1, "virginica");
    EXPECT_EQ(Find("virg*"), virg[0]);
    // Checked before the wildcard: it stays checked and the * is taken literally.
    dlg->cmbFind->setEditText("virg");
    dlg->chkMatchCase->setChecked(true);
    grid->Grid()->SetRow(0);
    EXPECT_EQ(Find("virg*"), 0);
    EXPECT_TRUE(dlg->chkMatchCase->isChecked());
    EXPECT_EQ(dlg->windowTitle(), "Find - 'virg*' Not Found");
}

TEST_F(FindTest, HistoryButtonsAndKeys) {
    Open(1);
    dlg->cmbFind->setEditText("");
    EXPECT_FALSE(dlg->cmdFindNext->isEnabled());
    const int row = grid->Grid()->Row();
    QKeyEvent f3(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier);
    QApplication::sendEvent(dlg, &f3);
    EXPECT_EQ(dlg->History()[0], "");
    EXPECT_EQ(grid->Grid()->Row(), row);

    for (int i = 1; i <= 11; ++i) {
        dlg->cmbFind->setEditText(QString("text%1").arg(i));
        QApplication::sendEvent(dlg, &f3);
    }
    EXPECT_EQ(dlg->History()[0], "text11");
    EXPECT_EQ(dlg->History()[9], "text2");  // text1 fell off
    EXPECT_EQ(dlg->cmbFind->count(), 10);
    Find("TEXT5");
    EXPECT_EQ(dlg->History()[0], "TEXT5");
    EXPECT_EQ(dlg->History()[1], "text11");
    int fives = 0;
    for (const QString& h : dlg->History()) fives += h.compare("text5", Qt::CaseInsensitive) == 0;
    EXPECT_EQ(fives, 1);
    // A text typed but not searched gives way to the latest entry on activation.
    dlg->cmbFind->setEditText("typed");
    dlg->Form_Activate();
    EXPECT_EQ(dlg->cmbFind->currentText(), "TEXT5");
    // Close hides; the history stays with the instance.
    dlg->cmdCancel->click();
    EXPECT_FALSE(dlg->isVisible());
    grid->ShowFind();
    EXPECT_EQ(grid->FindDialog(), dlg);
    EXPECT_EQ(dlg->History()[0], "TEXT5");
}

TEST_F(FindTest, TypedTextReplacesTheShownEntryAndIsNotCompleted) {
    Browse(0);
    grid->Grid()->SetRow(0);
    grid->Grid()->SetCol(1);
    const auto rows = RowsWith(1, "setosa");
    ASSERT_GE(rows.size(), 2u);
    // Types into whatever has the keyboard once the dialog is active, then Enter.
    auto type = [&](const QString& text) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus || focus->window() != dlg)
            return QString("<keyboard at %1>").arg(focus ? focus->objectName() : QString("nothing"));
        QTest::keyClicks(focus, text);
        const QString shown = dlg->cmbFind->currentText();
        QTest::keyClick(focus, Qt::Key_Return);
        return shown;
    };
    auto open = [&] {
        grid->ShowFind();
        dlg = grid->FindDialog();
        if (!dlg || !QTest::qWaitForWindowExposed(dlg)) return false;
        // Offscreen, a window shown again is not activated again: do what the
        // window system does.
        if (QApplication::activeWindow() != dlg) QApplication::setActiveWindow(dlg);
        return QApplication::activeWindow() == dlg;
    };
    ASSERT_TRUE(open());
    EXPECT_EQ(type("setosasetosa"), "setosasetosa");
    EXPECT_EQ(dlg->windowTitle(), "Find - 'setosasetosa' Not Found");
    // A prefix of that history entry stays as typed, and replaces the shown entry.
    EXPECT_EQ(type("setosa"), "setosa");
    EXPECT_EQ(dlg->windowTitle(), "Find - 'setosa' Found");
    EXPECT_EQ(grid->Grid()->Row(), rows[0]);
    // Closed and opened again: the entry shown is replaced by the new search.
    dlg->cmdCancel->click();
    ASSERT_TRUE(open());
    EXPECT_EQ(dlg->cmbFind->currentText(), "setosa");
    EXPECT_EQ(type("setosa"), "setosa");
    EXPECT_EQ(dlg->windowTitle(), "Find - 'setosa' Found");
    EXPECT_EQ(grid->Grid()->Row(), rows[1]);
    EXPECT_EQ(dlg->History()[0], "setosa");
    EXPECT_EQ(dlg->History()[1], "setosasetosa");
}

TEST_F(FindTest, NothingToSearchShowsNoDialog) {
    Browse(0);
    sql->SetReplaceWhere("1=0");
    Show();
    grid->ShowFind();
    EXPECT_EQ(grid->FindDialog(), nullptr);
    // No tool does anything without rows.
    QGuiApplication::clipboard()->setText("kept");
    grid->ABar_Click("mnuCopyRow");
    grid->ABar_Click("mnuFind");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
    EXPECT_EQ(grid->FindDialog(), nullptr);
    grid->Disconnect();
    grid->ShowFind();
    EXPECT_EQ(grid->FindDialog(), nullptr);
}

// The title as the window shows it.
static QString Shown(const QWidget* w) { return w->windowHandle() ? w->windowHandle()->title() : QStringLiteral("<not shown>"); }

// Find from the mark column, made current by a click on a mark cell: the
// title names the column by its field, which is the column searched; texts
// holding "[*]" are shown as they are.
TEST_F(FindTest, TheTitleNamesTheColumnSearchedFromTheMarkColumnToo) {
    Browse(0);
    grid->show();
    QApplication::processEvents();
    QTableView* left = grid->Grid()->SplitView(0);
    QTest::mouseClick(left->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(left->columnViewportPosition(0) + 3, left->rowViewportPosition(0) + 3));
    ASSERT_EQ(grid->Grid()->Col(), 0);
    grid->ShowFind();
    dlg = grid->FindDialog();
    ASSERT_TRUE(dlg);
    dlg->Form_Activate();
    EXPECT_EQ(Shown(dlg), "Find in [Mark]");
    const auto keys = GridKeys();
    const int row3 = int(std::find(keys.begin(), keys.end(), 3) - keys.begin());
    const int row5 = int(std::find(keys.begin(), keys.end(), 5) - keys.begin());
    EXPECT_EQ(Find("-1"), std::min(row3, row5));
    EXPECT_EQ(Shown(dlg), "Find - '-1' Found");
    EXPECT_EQ(Find("-1"), std::max(row3, row5));
    EXPECT_EQ(grid->Grid()->Col(), 0);

    grid->Grid()->SetCol(1);
    grid->Grid()->SetRow(0);
    dlg->Form_Activate();
    EXPECT_EQ(Shown(dlg), "Find in [Species]");
    EXPECT_EQ(Find("[*]"), 0);
    EXPECT_EQ(Shown(dlg), "Find - '[*]' Not Found");
    EXPECT_TRUE(dialogs.Messages().empty());
}
