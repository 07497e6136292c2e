// Marking rows of the current view and of the whole table on the sample
// project, and the grid coming back to its place afterwards.
#include "BrowseFixture.h"

#include "MMarks.h"
#include "PythonFlipper.h"
#include "StockShell.h"
#include "TreeFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableView>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

using browsetest::BrowseFixture;

namespace {

std::vector<long> Range(long a, long b) {
    std::vector<long> v;
    for (long k = a; k <= b; ++k) v.push_back(k);
    return v;
}

std::vector<long> Union(std::vector<long> a, const std::vector<long>& b) {
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    return a;
}

}  // namespace

TEST_F(BrowseFixture, MarksOfTheCurrentView) {
    const auto before = Keys("Mark<>0");
    Browse(1);
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeMark);
    EXPECT_EQ(Keys("Mark=-1"), Union({3, 5}, Range(101, 150)));
    // Toggle twice restores every mark.
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{3, 5}));
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{3, 5}));
    EXPECT_EQ(Keys("Mark<>0 AND Mark<>-1"), std::vector<long>{});

    // A filtered view: only its rows change.
    sql->SetPredictType(2);
    Show();
    const auto wrong = Keys("MainPrimaryKey>=101 AND Actual>0 AND Predicted<>Actual");
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeMark);
    EXPECT_EQ(Keys("Mark=-1"), Union({3, 5}, wrong));
    // The grid shows the new marks.
    for (int r = 0; r < Model()->Count(); ++r)
        EXPECT_TRUE(Model()->data(Model()->index(r, 0), Qt::DecorationRole).isValid());
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeClear);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{3, 5}));
    EXPECT_TRUE(dialogs.Messages().empty());
    (void)before;
}

TEST_F(BrowseFixture, NullMarksToggleAsUnmarked) {
    Exec("UPDATE Test SET Mark = Null WHERE MainPrimaryKey = 110;");
    Browse(1);
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
    EXPECT_EQ(Keys("Mark=-1"), Union({3, 5}, Union(Range(102, 119), Range(121, 149))));
    EXPECT_EQ(Keys("Mark=0"), Union(Keys("MainPrimaryKey<=100 AND Mark=0"), {101, 120, 150}));
}

TEST_F(BrowseFixture, MarksOfTheWholeTable) {
    Browse(1);
    MMarks::MarkCluster(*grid, *project, *def, "UPDATE Test SET Mark = -1 ;");
    EXPECT_EQ(Keys("Mark=-1"), Range(1, 150));
    EXPECT_TRUE(Model()->data(Model()->index(0, 0), Qt::DecorationRole).isValid());
    MMarks::MarkCluster(*grid, *project, *def, "UPDATE Test SET Mark = [Mark] Xor -1;");
    EXPECT_EQ(Keys("Mark=0"), Range(1, 150));
    MMarks::MarkCluster(*grid, *project, *def, "UPDATE Test SET Mark = 0 ;");
    EXPECT_EQ(Keys("Mark=-1"), std::vector<long>{});
    // A failing statement with rows in view: the status text, and the grid goes on.
    MMarks::MarkCluster(*grid, *project, *def, "UPDATE NoSuchTable SET Mark = 0;");
    ASSERT_FALSE(shell.status.texts.isEmpty());
    EXPECT_EQ(shell.status.texts.back(), "Opperation canceled by user.");
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(grid->RecordCount(), 50);
}

TEST_F(BrowseFixture, EmptyViews) {
    Browse(0);
    sql->SetMarkView(1);
    Exec("UPDATE Test SET Mark = 0;");
    Show();
    ASSERT_EQ(grid->RecordCount(), 0);
    const RecordsetPtr rs = grid->RecordSet();
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeMark);
    EXPECT_EQ(Keys("Mark=-1"), std::vector<long>{});
    EXPECT_EQ(grid->RecordSet(), rs);  // not refreshed
    // The whole table still changes, and the grid is refreshed to show it.
    MMarks::MarkCluster(*grid, *project, *def, "UPDATE Test SET Mark = -1 ;");
    EXPECT_EQ(Keys("Mark=-1"), Range(1, 150));
    EXPECT_NE(grid->RecordSet(), rs);
    EXPECT_EQ(grid->RecordCount(), 150);
}

TEST_F(BrowseFixture, WithoutAMarkColumnNothingIsMarked) {
    Browse(0);
    grid->SetRecordSource("SELECT IndexCounter1, Species FROM LinkDataSource");
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeMark);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "MMenu::CurrentMarkAll");
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{3, 5, 101, 120, 150}));
}

// The first visible row and the current row come back after marking, for
// numeric keys and for text keys holding an apostrophe.
TEST_F(BrowseFixture, TheGridComesBackToItsPlace) {
    Browse(0);
    grid->show();
    QApplication::processEvents();
    QTableView* right = grid->Grid()->SplitView(1);
    right->scrollTo(Model()->index(60, 4), QAbstractItemView::PositionAtTop);
    grid->Grid()->SetRow(64);
    grid->Grid()->SetCol(5);
    const auto keys = GridKeys();
    const long top = keys[size_t(grid->Grid()->FirstRow())], current = keys[64];
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
    const auto after = GridKeys();
    EXPECT_EQ(after[size_t(grid->Grid()->FirstRow())], top);
    EXPECT_EQ(after[size_t(grid->Grid()->Row())], current);
    EXPECT_EQ(grid->Grid()->Col(), 5);
    MMarks::MarkCluster(*grid, *project, *def, "UPDATE Test SET Mark = 0 ;");
    EXPECT_EQ(GridKeys()[size_t(grid->Grid()->FirstRow())], top);
    EXPECT_EQ(GridKeys()[size_t(grid->Grid()->Row())], current);
}

TEST(MarksTextKeys, TheGridComesBackToRowsWithQuotedKeys) {
    browsetest::App();
    std::vector<std::vector<treetest::Cell>> rows;
    for (int i = 0; i < 300; ++i) rows.push_back({treetest::Cell::D(i), treetest::Cell::T(i % 2 ? "a" : "b")});
    treetest::GeneratedProject p("marks", {{"X", "REAL", MatchType::Numeric}, {"Class", "TEXT", MatchType::Output}}, rows,
                                 true, true);
    auto holder = std::shared_ptr<CProject>(&p.project, [](CProject*) {});
    CSqlMachine sql;
    sql.Initialize(p.dataDef, holder);
    UGrid grid;
    grid.resize(700, 400);
    grid.SetDatabaseName(QString::fromStdString(p.projectPath));
    grid.SetRecordSource(QString::fromStdString(sql.GetSql()));
    auto view = std::make_shared<CBrowseAll>();
    view->Initialize(p.dataDef);
    grid.SetDataBrowse(view);
    grid.show();
    QApplication::processEvents();
    CBrowseModel* m = grid.Grid()->Model();
    grid.Grid()->SplitView(1)->scrollTo(m->index(120, 2), QAbstractItemView::PositionAtTop);
    grid.Grid()->SetRow(125);
    const QString top = m->Value(grid.Grid()->FirstRow(), 2).toString();
    const QString current = m->Value(125, 2).toString();
    ASSERT_TRUE(top.contains('\''));
    MMarks::CurrentMarkAll(grid, *p.dataDef, MMarks::ModeMark);
    EXPECT_EQ(m->Value(grid.Grid()->FirstRow(), 2).toString(), top);
    EXPECT_EQ(m->Value(grid.Grid()->Row(), 2).toString(), current);
    EXPECT_TRUE(p.dialogs.Messages().empty());
    auto rs = p.project.OpenProject(false)->OpenRecordset("SELECT COUNT(*) FROM Test WHERE Mark = -1;",
                                                          dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 300);
}

// A source with table aliases cannot be marked by statements over its FROM:
// the rows are walked instead, with the same result.
TEST_F(BrowseFixture, SourcesWithAliasesAreMarkedRowByRow) {
    Browse(0);
    grid->SetRecordSource(
        "SELECT T.Mark, L.Species, L.IndexCounter1 FROM LinkDataSource AS L INNER JOIN Test AS T ON "
        "L.IndexCounter1 = T.MainPrimaryKey WHERE L.IndexCounter1 <= 10");
    ASSERT_EQ(grid->RecordCount(), 10);
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{1, 2, 4, 6, 7, 8, 9, 10, 101, 120, 150}));
    EXPECT_TRUE(dialogs.Messages().empty());
}

// A view of every row of Test marks the table without the join; the marks
// are those the join gives, for each browse type, sorted or not. A row of
// Test that the data table lacks keeps the view from counting as all rows.
TEST_F(BrowseFixture, ViewsOfEveryRowMarkAsTheJoinDoes) {
    const std::vector<long> marked = {3, 5, 101, 120, 150}, all = Range(1, 150);
    std::vector<long> others;
    std::set_difference(all.begin(), all.end(), marked.begin(), marked.end(), std::back_inserter(others));
    const std::pair<int16_t, const char*> views[] = {{0, nullptr}, {0, "Species"}, {1, nullptr}, {1, "Mark"}};
    for (const auto& [browse, sort] : views) {
        const std::string what = std::to_string(browse) + (sort ? sort : "");
        Exec("UPDATE Test SET Mark = Null WHERE MainPrimaryKey = 110;");
        Browse(browse, false);
        if (sort) {
            sql->AddSort(sort, true);
            Show();
        }
        ASSERT_EQ(grid->RecordCount(), 150) << what;
        MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
        EXPECT_EQ(Keys("Mark=-1"), others) << what;  // Null toggles as unmarked
        EXPECT_EQ(Keys("Mark=0"), marked) << what;
        MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
        EXPECT_EQ(Keys("Mark=-1"), marked) << what;
        EXPECT_EQ(Keys("Mark=0"), others) << what;
        MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeMark);
        EXPECT_EQ(Keys("Mark=-1"), all) << what;
        MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeClear);
        EXPECT_EQ(Keys("Mark=0"), all) << what;
        Exec("UPDATE Test SET Mark = -1 WHERE MainPrimaryKey IN (3, 5, 101, 120, 150);");
        sql->SetBrowseType(browse);  // drops the sort
    }
    Exec("INSERT INTO Test (MainPrimaryKey, Mark) VALUES (9999, 0);");
    Browse(0, false);
    ASSERT_EQ(grid->RecordCount(), 150);
    MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeMark);
    EXPECT_EQ(Keys("Mark=-1"), all);
    EXPECT_EQ(Keys("Mark=0"), std::vector<long>{9999});
    EXPECT_TRUE(dialogs.Messages().empty());
}

namespace {

// Another program at work on the open project, between two marks.
class MarksBesideAnotherProgram : public BrowseFixture {
protected:
    void SetUp() override {
        if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "the stock sqlite3 shell is not installed";
        BrowseFixture::SetUp();
        Browse(0);
        grid->show();
        QApplication::processEvents();
    }
    std::string File() const { return project->FileName(); }
    // Row r's mark toggled as a person toggles it: with Space, or with a double click.
    void Toggle(int r, bool space = true) {
        QTableView* right = grid->Grid()->SplitView(1);
        grid->Grid()->SetRow(r);
        if (space) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QApplication::sendEvent(right, &key);
        } else {
            const QPoint at(right->columnViewportPosition(4) + 3, right->rowViewportPosition(r) + 3);
            QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(at), QPointF(right->viewport()->mapToGlobal(at)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(right->viewport(), &e);
        }
        QApplication::processEvents();  // the grid paints the row again, reading its page
    }
    static std::vector<long> Flip(std::vector<long> marked, const std::vector<long>& keys) {
        for (long k : keys) {
            auto it = std::find(marked.begin(), marked.end(), k);
            if (it == marked.end()) marked.insert(std::upper_bound(marked.begin(), marked.end(), k), k);
            else marked.erase(it);
        }
        return marked;
    }
    // A toggle that could not be stored says why; the marking commands keep their own word.
    static inline const QString kNotToggled =
        QStringLiteral("The project is in use by another program: the mark was not stored.");
    bool Failed() const {
        return shell.status.texts.contains(QStringLiteral("Opperation canceled by user.")) ||
               shell.status.texts.contains(kNotToggled);
    }
    // Each way a person marks, with the keys whose marks it toggles.
    using Way = std::pair<const char*, std::function<std::vector<long>()>>;
    std::vector<Way> Ways() {
        const auto toggle = [this](int r, bool space) {
            return [=, this] {
                Toggle(r, space);
                return std::vector<long>{r + 1};
            };
        };
        return {{"Space", toggle(6, true)},
                {"double click", toggle(8, false)},
                {"the view's marks",
                 [this] {
                     MMarks::CurrentMarkAll(*grid, *def, MMarks::ModeToggle);
                     return Range(1, 150);
                 }},
                {"the whole table's marks", [this] {
                     MMarks::MarkCluster(*grid, *project, *def, "UPDATE Test SET Mark = [Mark] Xor -1;");
                     return Range(1, 150);
                 }}};
    }
};

}  // namespace

// Whatever another program does with the project between two marks (reading
// it, committing a change, writing after this program opened and closed a
// descriptor of the shared index, as its file dialog does), each way of
// marking works afterwards.
TEST_F(MarksBesideAnotherProgram, EveryWayOfMarkingWorksAfterAnotherProgramsVisit) {
    using testsupport::StockShell;
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> visits = {
        {"reads", [](const std::string& f) { EXPECT_EQ(StockShell::Run(f, "select count(*) from Test"), "150\n"); }},
        {"commits",
         [](const std::string& f) {
             EXPECT_EQ(StockShell::Run(f, "BEGIN IMMEDIATE; UPDATE Test SET Mark=-1 WHERE MainPrimaryKey=100; COMMIT"),
                       "");
         }},
        {"writes after a descriptor of the shared index closed",
         [](const std::string& f) {
             ::close(::open((f + "-shm").c_str(), O_RDONLY | O_CLOEXEC));
             EXPECT_EQ(StockShell::Run(f, "UPDATE Test SET Mark=0 WHERE MainPrimaryKey=100;"), "");
         }},
    };
    for (const auto& [way, mark] : Ways())
        for (const auto& [visit, act] : visits) {
            SCOPED_TRACE(std::string(way) + ", after another program " + visit);
            Toggle(1);
            act(File());
            const auto before = Keys("Mark=-1");
            const auto changed = mark();
            EXPECT_EQ(Keys("Mark=-1"), Flip(before, changed));
            EXPECT_FALSE(Failed());
            EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();
        }
    EXPECT_EQ(StockShell::Run(File(), "pragma integrity_check"), "ok\n");
}

// Once the grid shows its rows, and once a row is marked, the program holds
// no read of the project: another program's commits are not kept out of the
// file by it (the whole log folds back).
TEST_F(MarksBesideAnotherProgram, TheGridHoldsNoReadOfTheProjectBetweenSteps) {
    using testsupport::StockShell;
    const auto folded = [&] { return StockShell::Run(File(), "pragma wal_checkpoint(truncate)") == "0|0|0\n"; };
    ASSERT_EQ(StockShell::Run(File(), "UPDATE Test SET Mark=-1 WHERE MainPrimaryKey=100;"), "");
    grid->Grid()->SplitView(1)->scrollTo(Model()->index(140, 4));
    QApplication::processEvents();
    EXPECT_TRUE(folded()) << "after the grid read a page";
    ASSERT_EQ(StockShell::Run(File(), "UPDATE Test SET Mark=0 WHERE MainPrimaryKey=100;"), "");
    Toggle(140);
    EXPECT_TRUE(folded()) << "after a mark";
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{3, 5, 101, 120, 141, 150}));
}

// Another program holding a write transaction: a mark waits for it as long as
// the busy timeout allows. Made when the other program ends within it; else
// the status bar says so, and the next mark after it works.
TEST_F(MarksBesideAnotherProgram, AMarkWaitsForAnotherProgramsWriteAndSaysWhenItFails) {
    testsupport::StockShell::Session other(File());
    auto holdAWhile = [&](const char* sql) {
        EXPECT_EQ(other.Run(std::string("BEGIN IMMEDIATE; ") + sql), "");
        return std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            other.Run("COMMIT;");
        });
    };
    for (const auto& [way, mark] : Ways()) {
        SCOPED_TRACE(way);
        const auto before = Keys("Mark=-1");
        std::thread ends = holdAWhile("UPDATE Test SET Actual = Actual WHERE MainPrimaryKey=100;");
        const auto changed = mark();
        ends.join();
        EXPECT_EQ(Keys("Mark=-1"), Flip(before, changed));
    }
    EXPECT_FALSE(Failed());
    EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();

    const auto before = Keys("Mark=-1");
    ASSERT_EQ(other.Run("BEGIN IMMEDIATE; UPDATE Test SET Mark=0 WHERE MainPrimaryKey=100;"), "");
    const auto start = std::chrono::steady_clock::now();
    Toggle(8);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << "the busy timeout is 5 s";
    EXPECT_EQ(shell.status.texts.join(" | ").toStdString(), kNotToggled.toStdString());
    EXPECT_EQ(Keys("Mark=-1"), before);
    EXPECT_EQ(grid->RecordSet()->EditMode(), dao::dbEditNone) << "the mark not stored is not kept either";
    EXPECT_EQ(other.Run("COMMIT;"), "");
    shell.status.texts.clear();
    Toggle(8);
    EXPECT_EQ(Keys("Mark=-1"), Flip(before, {9}));
    EXPECT_FALSE(Failed());
}


// The grid toggles rows 1-40 with Space and double clicks while another
// program flips the same rows' marks: each toggle flips the mark as stored at
// that moment, so every row ends with the parity of all the flips of both.
TEST_F(MarksBesideAnotherProgram, NoToggleIsLostBesideAnotherProgramsFlipsOfTheSameMarks) {
    if (browsetest::PythonFlipper::Python().empty()) GTEST_SKIP() << "python3 is not installed";
    const auto before = Keys("Mark=-1");
    std::map<long, int> toggled;
    {
        browsetest::PythonFlipper other(File(), Range(1, 40));
        ASSERT_EQ(other.Line(), "ready");
        for (int i = 0; i < 1200; ++i) {
            const int r = (i * 7) % 40;  // rows 0-39, keys 1-40
            Toggle(r, i % 4 != 3);
            ++toggled[r + 1];
        }
        const auto flipped = other.Stop();
        ASSERT_FALSE(flipped.empty()) << "the other program flipped nothing";
        for (const auto& [k, n] : flipped) toggled[k] += n;
    }
    EXPECT_FALSE(Failed());
    EXPECT_TRUE(shell.status.texts.isEmpty()) << shell.status.texts.back().toStdString();
    std::vector<long> expected;
    for (long k : before)
        if (k > 40) expected.push_back(k);
    for (long k = 1; k <= 40; ++k)
        if (std::count(before.begin(), before.end(), k) != toggled[k] % 2) expected.push_back(k);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Keys("Mark=-1"), expected);
    // The grid shows the stored marks.
    Model()->InvalidateAll();
    for (int r = 0; r < 40; ++r)
        EXPECT_EQ(Model()->data(Model()->index(r, 0), Qt::DecorationRole).isValid(),
                  std::binary_search(expected.begin(), expected.end(), long(r + 1)))
            << "row " << r;
}

// The toggle's transaction takes the project's write lock only: another
// program writing the data file the project links to keeps no mark waiting.
TEST_F(MarksBesideAnotherProgram, AToggleDoesNotWaitForAWriteOfTheLinkedDataFile) {
    testsupport::StockShell::Session other(dir + "/iris.mdb");
    ASSERT_EQ(other.Run("BEGIN IMMEDIATE; UPDATE iris SET Species = Species WHERE IndexCounter1 = 100;"), "");
    const auto before = Keys("Mark=-1");
    const auto start = std::chrono::steady_clock::now();
    Toggle(8);
    Toggle(9, false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(Keys("Mark=-1"), Flip(before, {9, 10}));
    EXPECT_FALSE(Failed());
    EXPECT_EQ(other.Run("COMMIT;"), "");
}
