// Damaged stored trees, killed classifications and data that outgrew Test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <limits>

#include "CTRX.h"
#include "CTreeBlob.h"
#include "CTreeError.h"
#include "TreeFixture.h"
#include "LargestAllocation.h"

using treetest::Cell;
using treetest::Column;
using treetest::GeneratedProject;

namespace {

const std::vector<Column> kColumns = {
    {"X", "REAL", MatchType::Numeric},
    {"Colour", "TEXT", MatchType::Text},
    {"Class", "TEXT", MatchType::Output},
};

std::vector<std::vector<Cell>> Rows(int n) {
    const char* colours[] = {"red", "green", "blue"};
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < n; ++i) {
        const double x = (i * 37) % 100;
        const int c = (i * 7) % 3;
        const char* cls = x < 40 ? "A" : (c == 0 ? "B" : "C");
        rows.push_back({Cell::D(x), Cell::T(colours[c]), Cell::T(cls)});
    }
    return rows;
}

// A project with a stored tree built on its first 300 rows.
struct TreeProject {
    explicit TreeProject(const char* tag, int rows = 600) : p(tag, kColumns, Rows(rows)) {
        EXPECT_TRUE(trx.Initialize(p.dataDef, &p.project));
        EXPECT_TRUE(trx.LoadData(1, 300));
        trx.SetMinItems(2);
        EXPECT_TRUE(trx.BuildTree());
        EXPECT_GT(trx.Nodes(), 3);
        trx.SaveTree(&p.project);
    }
    GeneratedProject p;
    CTRX trx;

    // Loading through `load` is refused as a damaged tree whose message holds `expected`.
    void ExpectRefused(const std::string& what, const std::function<void(CTRX&)>& load, const std::string& expected) {
        CTRX back;
        ASSERT_TRUE(back.Initialize(p.dataDef, &p.project));
        try {
            load(back);
            ADD_FAILURE() << what << ": the tree was loaded";
        } catch (const CTreeError& e) {
            EXPECT_EQ(e.Number(), 13) << what;
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << what << ": " << e.what();
        }
        EXPECT_FALSE(back.HasTree()) << what;
    }
};

// Runs work in a child process that is expected to die by SIGKILL.
template <class F>
void InKilledChild(F&& work) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            work();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended with " << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

int Classified(const std::map<long, std::pair<int, int>>& test, long from, long to) {
    int n = 0;
    for (long k = from; k <= to; ++k)
        if (test.at(k).second != -1) ++n;
    return n;
}

}  // namespace

TEST(HostileTree, ShortBlobWithHugeCountsIsRefusedBeforeAllocating) {
    CTreeModel tree;
    for (const auto& [count, width] : {std::pair{32767, 32767}, std::pair{2, 32767}, std::pair{32767, 1}}) {
        std::string blob = CTreeBlob::Pack(tree);  // an empty model gives the bare header
        ASSERT_EQ(blob.size(), 32u);
        blob[12] = char(count & 0xFF);
        blob[13] = char(count >> 8);
        blob[14] = char(width & 0xFF);
        blob[15] = char(width >> 8);
        blob += std::string(size_t(count == 2 ? 44 : 0), '\0');
        gLargest = 0;
        try {
            CTreeBlob::Unpack(blob, &tree);
            ADD_FAILURE() << count << " nodes, " << width << " slots loaded";
        } catch (const CTreeError& e) {
            EXPECT_EQ(e.Number(), 13);
            EXPECT_NE(std::string(e.what()).find("NodeData is damaged"), std::string::npos);
        }
        EXPECT_LT(gLargest.load(), size_t(1) << 20) << count << " x " << width;
        EXPECT_TRUE(tree.Empty());
    }
}

TEST(HostileTree, TreeThatDoesNotFitTheFieldsIsRefusedOnLoad) {
    TreeProject t("misfit");
    const CTreeModel& good = t.trx.Tree();
    // Find a threshold test and a categorical test to damage.
    int32_t threshold = -1, categorical = -1;
    for (int32_t n = 1; n < good.Nodes(); ++n) {
        if (good.Node(n).NodeType == 2 && threshold < 0) threshold = n;
        if (good.Node(n).NodeType == 1 && categorical < 0) categorical = n;
    }
    ASSERT_GT(threshold, 0);
    ASSERT_GT(categorical, 0);

    struct Damage {
        const char* what;
        int32_t node;
        std::function<void(TRXNode&)> change;
    };
    const std::vector<Damage> damages = {
        {"field beyond the inputs", threshold, [](TRXNode& n) { n.FieldNum = 40; }},
        {"the output field tested", threshold, [](TRXNode& n) { n.FieldNum = 2; }},
        {"negative field", threshold, [](TRXNode& n) { n.FieldNum = -3; }},
        {"class the output lacks", 0, [](TRXNode& n) { n.Class = 3; }},
        {"negative class", threshold, [](TRXNode& n) { n.Class = -1; }},
        {"branch class beyond the field's", categorical, [](TRXNode& n) { n.DisClass = 4; }},
        {"branch class 0", categorical, [](TRXNode& n) { n.DisClass = 0; }},
        {"threshold on a categorical field", threshold, [](TRXNode& n) { n.FieldNum = 1; }},
        {"classes of a numeric field", categorical, [](TRXNode& n) { n.FieldNum = 0; }},
        {"unknown test kind", threshold, [](TRXNode& n) { n.NodeType = 7; }},
    };
    for (const Damage& d : damages) {
        std::vector<TRXNode> nodes = good.AllNodes();
        d.change(nodes[size_t(d.node)]);
        CTreeModel bad;
        bad.Assign(nodes, good.Slots(), good.AllChildren());
        t.p.SetNodeDataBytes(CTreeBlob::Pack(bad));
        CTRX back;
        ASSERT_TRUE(back.Initialize(t.p.dataDef, &t.p.project));
        try {
            back.LoadTree(&t.p.project);
            ADD_FAILURE() << d.what << ": the tree was loaded";
        } catch (const CTreeError& e) {
            EXPECT_EQ(e.Number(), 13) << d.what;
            EXPECT_NE(std::string(e.what()).find("NodeData is damaged: node"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(back.HasTree()) << d.what;
    }
    // The undamaged tree still loads.
    t.p.SetNodeDataBytes(CTreeBlob::Pack(good));
    CTRX back;
    ASSERT_TRUE(back.Initialize(t.p.dataDef, &t.p.project));
    back.LoadTree(&t.p.project);
    EXPECT_TRUE(back.HasTree());
}

// A threshold that is no number, or that no single holds, would classify every row
// one way and reach SQL as "nan": refused, naming the node, in either stored form.
TEST(HostileTree, ThresholdThatIsNoNumberIsRefusedOnLoad) {
    TreeProject t("cut");
    const CTreeModel& good = t.trx.Tree();
    int32_t threshold = -1;
    for (int32_t n = 1; n < good.Nodes() && threshold < 0; ++n)
        if (good.Node(n).NodeType == 2) threshold = n;
    ASSERT_GT(threshold, 0);
    const std::string node = "node " + std::to_string(threshold) + " has ";
    auto refused = [&](const std::string& what, const std::function<void(CTRX&)>& load, const char* table) {
        t.ExpectRefused(what, load, std::string(table) + " is damaged: " + node);
    };

    const float inf = std::numeric_limits<float>::infinity();
    for (float cut : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
        std::vector<TRXNode> nodes = good.AllNodes();
        nodes[size_t(threshold)].Cut = cut;
        CTreeModel bad;
        bad.Assign(nodes, good.Slots(), good.AllChildren());
        t.p.SetNodeDataBytes(CTreeBlob::Pack(bad));
        refused("NodeData cut " + std::to_string(cut), [&](CTRX& c) { c.LoadTree(&t.p.project); }, "NodeData");
    }
    // The older tables hold the cut as a number of any size.
    t.trx.OldSaveTree(&t.p.project);
    for (const char* cut : {"1e39", "-1e39", "3.5e38", "1e308", "9e999", "-9e999"}) {
        sqlite3* db = t.p.OpenRaw();
        ASSERT_EQ(sqlite3_exec(db, ("UPDATE TreeNodes SET Cut = " + std::string(cut) + " WHERE NodeNum = " +
                                    std::to_string(threshold)).c_str(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        refused(std::string("TreeNodes cut ") + cut, [&](CTRX& c) { c.OldLoadTree(&t.p.project); },
                "TreeNodes and TreeLinks");
    }

    // The largest cuts a single holds still load.
    for (float cut : {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()}) {
        std::vector<TRXNode> nodes = good.AllNodes();
        nodes[size_t(threshold)].Cut = cut;
        CTreeModel edge;
        edge.Assign(nodes, good.Slots(), good.AllChildren());
        t.p.SetNodeDataBytes(CTreeBlob::Pack(edge));
        CTRX back;
        ASSERT_TRUE(back.Initialize(t.p.dataDef, &t.p.project));
        back.LoadTree(&t.p.project);
        EXPECT_TRUE(back.HasTree()) << cut;
    }
}

// A count, error or threshold that is no number or infinite is refused on load,
// in either stored form; the display would show it as an arbitrary whole number.
TEST(HostileTree, CountsThatAreNoFiniteNumberAreRefusedOnLoad) {
    TreeProject t("counts");
    const CTreeModel& good = t.trx.Tree();
    int32_t category = -1;
    for (int32_t n = 1; n < good.Nodes() && category < 0; ++n)
        if (good.Node(n).NodeType == 1) category = n;
    ASSERT_GT(category, 0);
    struct Field {
        const char* name;
        float TRXNode::*member;
        const char* column;
    };
    const Field fields[] = {{"threshold", &TRXNode::Cut, "Cut"},
                            {"item count", &TRXNode::Items, "Items"},
                            {"error count", &TRXNode::Errors, "Errors"}};
    const float inf = std::numeric_limits<float>::infinity();
    for (const Field& f : fields) {
        for (int32_t node : {0, category}) {
            for (float bad : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
                std::vector<TRXNode> nodes = good.AllNodes();
                nodes[size_t(node)].*f.member = bad;
                CTreeModel damaged;
                damaged.Assign(nodes, good.Slots(), good.AllChildren());
                t.p.SetNodeDataBytes(CTreeBlob::Pack(damaged));
                t.ExpectRefused(std::string("NodeData ") + f.name + " " + std::to_string(bad) + " at node " +
                            std::to_string(node),
                        [&](CTRX& c) { c.LoadTree(&t.p.project); },
                        "NodeData is damaged: node " + std::to_string(node) + " has ");
            }
        }
    }
    // The older tables: SQLite keeps no NaN (it reads back as missing), but infinities.
    t.trx.OldSaveTree(&t.p.project);
    for (const Field& f : fields) {
        for (const char* bad : {"9e999", "-9e999"}) {
            sqlite3* db = t.p.OpenRaw();
            ASSERT_EQ(sqlite3_exec(db, ("UPDATE TreeNodes SET " + std::string(f.column) + " = " + bad +
                                        " WHERE NodeNum = " + std::to_string(category)).c_str(),
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(db);
            t.ExpectRefused(std::string("TreeNodes ") + f.name + " " + bad, [&](CTRX& c) { c.OldLoadTree(&t.p.project); },
                    "TreeNodes and TreeLinks is damaged: node " + std::to_string(category) + " has the " + f.name);
            t.trx.OldSaveTree(&t.p.project);
        }
    }

    // A finite count beyond the 32-bit range is shown as the largest one.
    std::vector<TRXNode> nodes = good.AllNodes();
    nodes[0].Items = 3e9f;
    nodes[0].Errors = 2.9e9f;
    CTreeModel huge;
    huge.Assign(nodes, good.Slots(), good.AllChildren());
    t.p.SetNodeDataBytes(CTreeBlob::Pack(huge));
    CTRX back;
    ASSERT_TRUE(back.Initialize(t.p.dataDef, &t.p.project));
    back.LoadTree(&t.p.project);
    ASSERT_TRUE(back.HasTree());
    EXPECT_EQ(back.Items(), INT32_MAX);
    EXPECT_EQ(back.MissFits(), INT32_MAX);
    EXPECT_EQ(CTRX::WholeCount(-3e38f), INT32_MIN);
    EXPECT_EQ(CTRX::WholeCount(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(CTRX::WholeCount(12.5f), 12);
    EXPECT_EQ(CTRX::WholeCount(13.5f), 14);
}

// Counts below zero, and errors above the items of their node, are a damaged
// tree too, in either stored form, naming the node; counts that meet, or pass
// by no more than rounding, are a tree.
TEST(HostileTree, CountsBelowZeroOrErrorsAboveItemsAreRefusedOnLoad) {
    TreeProject t("negative");
    const CTreeModel& good = t.trx.Tree();
    const int32_t leaf = good.Nodes() - 1;
    struct Case {
        float items, errors;
        const char* fault;  // "" loads
    };
    const Case cases[] = {{-1e38f, 1e38f, "has the item count -1e+38, below zero"},
                          {-1, 0, "has the item count -1, below zero"},
                          {5, -0.5f, "has the error count -0.5, below zero"},
                          {5, 5.5f, "has the error count 5.5, more than its 5 items"},
                          {0, 1, "has the error count 1, more than its 0 items"},
                          {5, 5, ""},
                          {0, 0, ""},
                          {3e5f, 3e5f * (1 + 1e-6f), ""}};
    for (const Case& c : cases) {
        for (int32_t node : {0, leaf}) {
            const std::string what = std::to_string(c.items) + "/" + std::to_string(c.errors) + " at node " +
                                     std::to_string(node);
            std::vector<TRXNode> nodes = good.AllNodes();
            nodes[size_t(node)].Items = c.items;
            nodes[size_t(node)].Errors = c.errors;
            CTreeModel stored;
            stored.Assign(nodes, good.Slots(), good.AllChildren());
            t.p.SetNodeDataBytes(CTreeBlob::Pack(stored));
            std::vector<std::function<void(CTRX&)>> loads = {[&](CTRX& back) { back.LoadTree(&t.p.project); }};
            t.trx.OldSaveTree(&t.p.project);
            sqlite3* db = t.p.OpenRaw();
            char sql[160];
            std::snprintf(sql, sizeof sql, "UPDATE TreeNodes SET Items = %.9g, Errors = %.9g WHERE NodeNum = %d",
                          double(c.items), double(c.errors), node);
            ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
            loads.push_back([&](CTRX& back) { back.OldLoadTree(&t.p.project); });
            for (size_t form = 0; form < loads.size(); ++form) {
                const std::string table = form == 0 ? "NodeData" : "TreeNodes and TreeLinks";
                if (*c.fault) {
                    t.ExpectRefused(table + " " + what, loads[form],
                                    table + " is damaged: node " + std::to_string(node) + " " + c.fault + ".");
                    continue;
                }
                CTRX back;
                ASSERT_TRUE(back.Initialize(t.p.dataDef, &t.p.project));
                loads[form](back);
                EXPECT_TRUE(back.HasTree()) << table << " " << what;
            }
        }
    }
}

// A damaged Test table: the error names the project file and what happened.
TEST(HostileTree, DamagedTestTableNamesTheProjectFile) {
    TreeProject t("damagedtest");
    t.p.project.CloseProject();
    sqlite3* raw = t.p.OpenRaw();
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master "
                                      "WHERE name = 'Test'", -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    const int64_t root = sqlite3_column_int64(st, 0), page = sqlite3_column_int64(st, 1);
    sqlite3_finalize(st);
    sqlite3_close(raw);
    ASSERT_GT(root, 1);
    {
        std::fstream f(t.p.projectPath, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp((root - 1) * page);
        f.put('\x7f');  // no such kind of page
    }
    try {
        t.trx.Classify(301, 600);
        ADD_FAILURE() << "Classify ran on a damaged Test table";
    } catch (const dao::DaoError& e) {
        EXPECT_EQ(e.Number(), 3049);
        const std::string text = e.Description();
        EXPECT_EQ(text.rfind("The database file '" + t.p.projectPath + "'", 0), 0u) << text;
        EXPECT_NE(text.find("is damaged"), std::string::npos) << text;
        EXPECT_EQ(text.find("UPDATE"), std::string::npos) << text;
        EXPECT_EQ(text.find("Cannot open database"), std::string::npos) << text;
    }
}

TEST(HostileTree, KilledClassifyKeepsWhatProgressReported) {
    TreeProject t("killed");
    t.p.project.CloseProject();
    // Killed right after progress said 50: the first half is stored.
    InKilledChild([&] {
        CTRX trx;
        if (!trx.Initialize(t.p.dataDef, &t.p.project)) ::_exit(4);
        trx.LoadTree(&t.p.project);
        trx.OnProgress = [](int16_t pc) {
            if (pc == 50) ::raise(SIGKILL);
        };
        trx.Classify(301, 600);
    });
    auto test = t.p.TestRows();
    // 50 % is first reached at row 149 of 300 (49.7 rounds to 50): those rows, in order.
    EXPECT_EQ(Classified(test, 301, 449), 149);
    EXPECT_EQ(Classified(test, 450, 600), 0);

    // Killed when progress said 100: every row is stored.
    InKilledChild([&] {
        CTRX trx;
        if (!trx.Initialize(t.p.dataDef, &t.p.project)) ::_exit(4);
        trx.LoadTree(&t.p.project);
        trx.OnProgress = [](int16_t pc) {
            if (pc == 100) ::raise(SIGKILL);
        };
        trx.Classify(1, 600);
    });
    test = t.p.TestRows();
    EXPECT_EQ(Classified(test, 1, 600), 600);
    // The same as an undisturbed run gives.
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(t.p.dataDef, &t.p.project));
    trx.LoadTree(&t.p.project);
    trx.Classify(1, 600);
    EXPECT_EQ(t.p.TestRows(), test);
}

TEST(HostileTree, ClassifyAddsDataRowsThatTestLacks) {
    TreeProject t("missing", 400);
    // Rows added to the data after the project was made, and Test rows lost.
    sqlite3* raw = nullptr;
    sqlite3_open(t.p.dataPath.c_str(), &raw);
    for (int k = 401; k <= 420; ++k)
        treetest::Sql(raw, "INSERT INTO Data VALUES (" + std::to_string(k) + ", 10, 'red', 'A')");
    sqlite3_close(raw);
    raw = t.p.OpenRaw();
    treetest::Sql(raw, "DELETE FROM Test WHERE MainPrimaryKey BETWEEN 350 AND 359 OR MainPrimaryKey < 5");
    sqlite3_close(raw);

    t.trx.Classify(301, 420);
    const auto test = t.p.TestRows();
    EXPECT_EQ(test.size(), 420u);
    for (long k = 301; k <= 420; ++k) {
        ASSERT_TRUE(test.count(k)) << k;
        EXPECT_NE(test.at(k).second, -1) << k;
        EXPECT_NE(test.at(k).first, 0) << k;
    }
    // Rows outside the range come back too, unclassified.
    for (long k = 1; k < 5; ++k) EXPECT_EQ(test.at(k), (std::pair<int, int>{-1, -1})) << k;
}

TEST(HostileTree, AProjectWithoutFieldDefinitionsSaysSo) {
    ui::ScopedRecorder dialogs;
    CProject project;
    CTRX trx;
    EXPECT_FALSE(trx.Initialize(std::make_shared<CDataDef>(), &project));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title.toStdString(), "CTRX::Initialize");
    EXPECT_TRUE(dialogs.Messages()[0].text.contains(QStringLiteral("no field definitions")))
        << dialogs.Messages()[0].text.toStdString();
}
