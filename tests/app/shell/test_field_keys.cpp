// The lists of a new project's table and field steps at the keyboard, in the
// real main window: keys go to the window as a person's do and reach the list
// that was clicked, each move counting as a click. Once more under a real X
// server with keys and clicks typed by another program.
#include "RoadFixture.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

using namespace shelltest;

namespace {

constexpr int kFields = 217;

class FieldKeys : public RoadTest {
protected:
    std::string project;
    std::string wide;
    void SetUp() override {
        RoadTest::SetUp();
        std::filesystem::create_directories(dir.Path() / "work");
        project = dir.File("work/wide.txp");
        wide = dir.File("wide.mdb");
        // Id, then F1001 .. F1216, each with five values.
        std::string columns = "Id INTEGER PRIMARY KEY", rows;
        for (int f = 1; f < kFields; ++f) columns += ", F" + std::to_string(1000 + f) + " REAL";
        for (int r = 0; r < 12; ++r) {
            rows += r ? ",(" : "(";
            rows += std::to_string(r + 1);
            for (int f = 1; f < kFields; ++f) rows += "," + std::to_string((r * f) % 5);
            rows += ")";
        }
        Sql(wide, "CREATE TABLE wide (" + columns + "); INSERT INTO wide VALUES " + rows);
    }
    void ToFieldStep() {
        NewProject(project);
        ChooseSource(wide);
        ASSERT_TRUE(ChooseTable("wide"));
        TableOK()->click();
        ASSERT_EQ(Left(), "Configure");
        Activate();
    }
    void Activate() {
        QApplication::setActiveWindow(&Main());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    }
    // A key as the window system delivers it: to the window, then to its focus.
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(Main().windowHandle(), key, mods);
    }
    void Type(const QString& text) {
        for (QChar c : text) QTest::keyClick(Main().windowHandle(), c.toLatin1());
    }
    void ClickItem(QListWidget* list, int row) {
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
    }
    static QString Current(QListWidget* list) {
        return list->currentItem() ? list->currentItem()->text().section('\t', 0, 0) : QString();
    }
    // The field the status bar names, as a click on it would.
    QString Named() { return StatusMain().section(QStringLiteral("  ("), 0, 0).trimmed(); }
    QString Shown() {
        auto* view = Control<QTreeWidget>("pnlFieldView", "lvwFields");
        const auto selected = view ? view->selectedItems() : QList<QTreeWidgetItem*>();
        return selected.size() == 1 ? selected.front()->text(0) : QString();
    }
    // Every navigation key on a list of 217 fields: the current field moves,
    // the list scrolls to it, and each move is told as a click is.
    void WalkFieldList(QListWidget* list) {
        ASSERT_GT(list->count(), kFields - 3);
        auto name = [&](int row) { return list->item(row)->text().section('\t', 0, 0); };
        const QString first = name(0), second = name(1), third = name(2), last = name(list->count() - 1);
        ASSERT_EQ(last, "F1216");
        ClickItem(list, 0);
        ASSERT_EQ(Current(list), first);
        EXPECT_EQ(Named(), first);
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            QString field;
        } steps[] = {
            {Qt::Key_Down, Qt::NoModifier, second}, {Qt::Key_Down, Qt::NoModifier, third},
            {Qt::Key_Up, Qt::NoModifier, second},   {Qt::Key_End, Qt::NoModifier, last},
            {Qt::Key_Home, Qt::NoModifier, first},  {Qt::Key_End, Qt::ControlModifier, last},
            {Qt::Key_Home, Qt::ControlModifier, first},
        };
        for (const auto& s : steps) {
            SCOPED_TRACE(QKeySequence(s.key | s.mods).toString().toStdString());
            Key(s.key, s.mods);
            EXPECT_EQ(Current(list), s.field);
            EXPECT_EQ(Named(), s.field) << "a move by keys counts as a click";
            EXPECT_EQ(Shown(), s.field) << "the field statistics follow";
            EXPECT_TRUE(list->hasFocus());
            EXPECT_TRUE(list->viewport()->rect().intersects(list->visualItemRect(list->currentItem())))
                << "scrolled into view";
        }
        EXPECT_EQ(list->verticalScrollBar()->value(), 0);
        Key(Qt::Key_PageDown);
        const int page = list->currentRow();
        EXPECT_GT(page, 3);
        EXPECT_EQ(Named(), Current(list));
        Key(Qt::Key_PageDown);
        EXPECT_GT(list->currentRow(), page);
        EXPECT_GT(list->verticalScrollBar()->value(), 0);
        Key(Qt::Key_PageUp);
        EXPECT_EQ(list->currentRow(), page);
        // Typing a name goes to the first field it begins.
        Type(QStringLiteral("F1150"));
        EXPECT_EQ(Current(list), "F1150");
        EXPECT_EQ(Named(), "F1150");
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
    }
};

}  // namespace

TEST_F(FieldKeys, BothFieldListsFollowEveryNavigationKey) {
    ToFieldStep();
    auto* from = Control<QListWidget>("pnlFieldSel", "lstFieldsFrom");
    auto* to = Control<QListWidget>("pnlFieldSel", "lstFieldsTo");
    ASSERT_EQ(Current(from), "") << "nothing chosen yet";
    {
        SCOPED_TRACE("Fields to Ignore");
        WalkFieldList(from);
    }
    Control<QToolButton>("pnlFieldSel", "cmdMvFd3")->click();
    {
        SCOPED_TRACE("Fields to Use");
        WalkFieldList(to);
    }
}

TEST_F(FieldKeys, TheTableListFollowsTheKeysAndEachMoveChoosesTheTable) {
    const std::string many = dir.File("many.mdb");
    for (const char* t : {"alpha", "beta", "bravo", "delta", "echo"})
        Sql(many, std::string("CREATE TABLE ") + t + " (Id INTEGER PRIMARY KEY, V REAL); INSERT INTO " + t +
                      " VALUES (1, 2)");
    NewProject(project);
    ChooseSource(many);
    Activate();
    auto* tables = Control<QListWidget>("pnlTableSel", "lstTables");
    ASSERT_EQ(tables->count(), 5);
    ClickItem(tables, 0);
    ASSERT_EQ(tables->currentItem()->text(), "alpha");
    const struct {
        Qt::Key key;
        const char* table;
    } steps[] = {{Qt::Key_Down, "beta"}, {Qt::Key_End, "echo"}, {Qt::Key_Up, "delta"}, {Qt::Key_Home, "alpha"},
                 {Qt::Key_PageDown, "echo"}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.table);
        Key(s.key);
        ASSERT_TRUE(tables->currentItem());
        EXPECT_EQ(tables->currentItem()->text(), s.table);
        EXPECT_TRUE(tables->hasFocus()) << "the choice's busy state leaves the list its focus";
        EXPECT_TRUE(TableOK()->isEnabled()) << "the table was chosen";
        EXPECT_EQ(Control<QLabel>("pnlTableSel", "lblRowCount")->text(), "1 rows");
    }
    Type(QStringLiteral("br"));
    EXPECT_EQ(tables->currentItem()->text(), "bravo");
    TableOK()->click();
    EXPECT_EQ(ConfigOf(project, "TableName"), "bravo");
}

// Real keys and a real click through an X server, typed by xdotool as a
// person's hand would: run under Xvfb by its own CTest entry.
TEST_F(FieldKeys, RealKeysUnderAnXServer) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server (run under Xvfb)";
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty()) GTEST_SKIP() << "xdotool is not installed";
    auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(xdotool, args);
        ASSERT_TRUE(p.waitForFinished(10000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };
    // With no window manager the X server gives the window the keys when asked to.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main()));
    run({"windowfocus", "--sync", QString::number(Main().winId())});
    ToFieldStep();
    auto* from = Control<QListWidget>("pnlFieldSel", "lstFieldsFrom");
    auto waitFor = [&](const QString& field) {
        return QTest::qWaitFor([&] { return Current(from) == field && Named() == field; }, 5000);
    };
    const QPoint at = from->viewport()->mapToGlobal(from->visualItemRect(from->item(1)).center());
    run({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    ASSERT_TRUE(waitFor("F1001")) << Current(from).toStdString();
    run({"key", "Down"});
    EXPECT_TRUE(waitFor("F1002")) << Current(from).toStdString();
    run({"key", "End"});
    EXPECT_TRUE(waitFor("F1216")) << Current(from).toStdString();
    EXPECT_GT(from->verticalScrollBar()->value(), 0);
    run({"key", "ctrl+Home"});
    EXPECT_TRUE(waitFor("Id")) << Current(from).toStdString();
    run({"key", "Next"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return from->currentRow() > 3; }, 5000));
    run({"type", "--delay", "30", "F1150"});
    EXPECT_TRUE(waitFor("F1150")) << Current(from).toStdString();
}
