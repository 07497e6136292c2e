// The browse statement: its exact text for every combination of filters and
// sort keys, and the rows it gives on a real project.
#include "CSqlMachine.h"

#include "model_fixture.h"

#include <algorithm>
#include <array>

namespace {

// Mark, Actual, Predicted of the rows with keys 1 .. 12; column A is key * 10.
constexpr std::array<int, 12> kMark = {0, -1, 0, 0, -1, 0, -1, 0, 0, 0, -1, 0};
constexpr std::array<int, 12> kActual = {1, 2, 3, 1, 2, 3, -1, 1, 2, 3, 0, 1};
constexpr std::array<int, 12> kPredicted = {1, 2, 1, -1, 3, 3, 2, 1, 2, 1, 1, 2};

struct Combo {
    int browse = 0, mark = 0, predictType = 0, actual = -1, predicted = -1;
    std::string keyMin, keyMax, where;
    int sort = 0;  // 0 none, 1 A descending, 2 Mark descending then A
};

// The statement as the browse view is to read it, written out independently.
std::string ExpectedSql(const Combo& c) {
    std::string sql = "SELECT Test.Mark, ";
    sql += c.browse == 0 ? "LinkDataSource.[Class], " : "Test.Actual, Test.Predicted, ";
    sql += "LinkDataSource.[Id], LinkDataSource.[A], LinkDataSource.[B] FROM LinkDataSource INNER JOIN Test ON "
           "LinkDataSource.[Id] = Test.MainPrimaryKey";
    std::vector<std::string> parts;
    std::string w = c.mark == 1 ? " Test.Mark<>0" : c.mark == 2 ? " Test.Mark=0" : "";
    auto andPiece = [&](const std::string& p) { w += (w.empty() ? "" : " AND ") + p; };
    if (c.browse == 1) {
        if (c.actual != -1) andPiece("Actual=" + std::to_string(c.actual));
        if (c.predicted != -1) andPiece("Predicted=" + std::to_string(c.predicted));
        if (c.predictType == 1) andPiece(" [Actual]>0 AND [Predicted]=[Actual] ");
        if (c.predictType == 2) andPiece(" [Actual]>0 AND [Predicted]<>[Actual] ");
    }
    if (!c.keyMin.empty()) andPiece(" MainPrimaryKey>=" + c.keyMin);
    if (!c.keyMax.empty()) andPiece(" MainPrimaryKey<=" + c.keyMax);
    while (!w.empty() && w.front() == ' ') w.erase(0, 1);
    while (!w.empty() && w.back() == ' ') w.pop_back();
    if (!c.where.empty()) w = w.empty() ? c.where : " (" + c.where + ") AND (" + w + ") ";
    if (!w.empty()) sql += " WHERE " + w + " ";
    if (c.sort == 1) sql += " ORDER BY LinkDataSource.[A] DESC;";
    if (c.sort == 2) sql += " ORDER BY Test.[Mark] DESC, LinkDataSource.[A];";
    return sql;
}

// The keys of the rows the statement should give, in its order.
std::vector<int> ExpectedKeys(const Combo& c) {
    std::vector<int> keys;
    for (int id = 1; id <= 12; ++id) {
        const int m = kMark[id - 1], a = kActual[id - 1], p = kPredicted[id - 1];
        if (c.mark == 1 && m == 0) continue;
        if (c.mark == 2 && m != 0) continue;
        if (c.browse == 1) {
            if (c.actual != -1 && a != c.actual) continue;
            if (c.predicted != -1 && p != c.predicted) continue;
            if (c.predictType == 1 && !(a > 0 && p == a)) continue;
            if (c.predictType == 2 && !(a > 0 && p != a)) continue;
        }
        if (!c.keyMin.empty() && id < std::stoi(c.keyMin)) continue;
        if (!c.keyMax.empty() && id > std::stoi(c.keyMax)) continue;
        if (!c.where.empty() && !(id * 10 > 30)) continue;
        keys.push_back(id);
    }
    if (c.sort == 1) std::sort(keys.begin(), keys.end(), [](int x, int y) { return x > y; });
    if (c.sort == 2)
        std::stable_sort(keys.begin(), keys.end(), [](int x, int y) { return kMark[x - 1] > kMark[y - 1]; });
    return keys;
}

class SqlMachineTest : public ModelFixture {
protected:
    void SetUp() override {
        std::vector<std::string> sql = {
            "CREATE TABLE Items (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, A LONG, B Text(20), Class Text(10));"};
        for (int id = 1; id <= 12; ++id)
            sql.push_back("INSERT INTO Items VALUES (" + std::to_string(id) + ", " + std::to_string(id * 10) + ", 'b" +
                          std::to_string(id) + "', '" + std::string(1, char('x' + id % 3)) + "');");
        MakeData(sql);
        MakeProject("Items", "Class");
        for (int id = 1; id <= 12; ++id)
            Exec("UPDATE Test SET Mark = " + std::to_string(kMark[id - 1]) + ", Actual = " +
                 std::to_string(kActual[id - 1]) + ", Predicted = " + std::to_string(kPredicted[id - 1]) +
                 " WHERE MainPrimaryKey = " + std::to_string(id) + ";");
        machine.Initialize(def, project);
    }
    void Apply(const Combo& c) {
        machine.SetBrowseType(int16_t(c.browse));
        machine.SetMarkView(int16_t(c.mark));
        machine.SetPredictType(int16_t(c.predictType));
        machine.SetActual(int16_t(c.actual));
        machine.SetPredicted(int16_t(c.predicted));
        machine.SetKeyMin(c.keyMin);
        machine.SetKeyMax(c.keyMax);
        machine.SetReplaceWhere(c.where);
        if (c.sort == 1) machine.AddSort("A", true);
        if (c.sort == 2) {
            machine.AddSort("Mark", false);
            machine.AddSort("A", false);
            machine.AddSort(" Mark ", true);
        }
    }
    // Keys of the rows a statement gives (the key column follows the shown class columns).
    std::vector<int> Keys(const std::string& sql, int keyColumn) {
        auto rs = project->OpenProject(false)->OpenRecordset(sql, dao::RecordsetType::Snapshot);
        std::vector<int> keys;
        for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Fields(keyColumn).AsLong());
        return keys;
    }
    long Count() {
        auto rs = project->OpenProject(false)->OpenRecordset("SELECT COUNT(*) " + machine.GetFrom() + machine.GetWhere(),
                                                             dao::RecordsetType::Snapshot);
        return rs->Fields(0).AsLong();
    }
    CSqlMachine machine;
};

}  // namespace

TEST_F(SqlMachineTest, EveryCombinationGivesItsStatementAndItsRows) {
    int combos = 0;
    for (int browse : {0, 1})
        for (int mark : {0, 1, 2})
            for (int predictType : {0, 1, 2})
                for (int actual : {-1, 2})
                    for (int predicted : {-1, 1})
                        for (int range : {0, 1, 2})
                            for (const char* where : {"", "A>30"})
                                for (int sort : {0, 1, 2}) {
                                    Combo c;
                                    c.browse = browse, c.mark = mark, c.predictType = predictType;
                                    c.actual = actual, c.predicted = predicted, c.where = where, c.sort = sort;
                                    if (range >= 1) c.keyMin = "3";
                                    if (range == 2) c.keyMax = "10";
                                    Apply(c);
                                    const std::string sql = machine.GetSql();
                                    ASSERT_EQ(sql, ExpectedSql(c)) << combos;
                                    ASSERT_EQ(Keys(sql, browse == 0 ? 2 : 3), ExpectedKeys(c)) << sql;
                                    ++combos;
                                }
    EXPECT_EQ(combos, 1296);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(SqlMachineTest, StatementsTheBrowseViewsRelyOn) {
    EXPECT_EQ(machine.GetSql(),
              "SELECT Test.Mark, LinkDataSource.[Class], LinkDataSource.[Id], LinkDataSource.[A], LinkDataSource.[B] "
              "FROM LinkDataSource INNER JOIN Test ON LinkDataSource.[Id] = Test.MainPrimaryKey");
    EXPECT_EQ(machine.GetWhere(), "");
    EXPECT_EQ(machine.GetFrom(), " FROM LinkDataSource INNER JOIN Test ON LinkDataSource.[Id] = Test.MainPrimaryKey ");
    EXPECT_EQ(Count(), 12);

    machine.SetMarkView(2);
    machine.SetReplaceWhere("A>1");
    EXPECT_EQ(machine.GetWhere(), " WHERE  (A>1) AND (Test.Mark=0)  ");
    EXPECT_EQ(Count(), 8);

    // The all-rows view ignores the class filters.
    machine.SetBrowseType(0);
    machine.SetReplaceWhere("");
    machine.SetActual(2);
    machine.SetPredicted(1);
    machine.SetPredictType(2);
    EXPECT_EQ(machine.GetWhere(), "");

    machine.SetKeyMin("3");
    machine.SetKeyMax("10");
    EXPECT_EQ(machine.GetWhere(), " WHERE MainPrimaryKey>=3 AND  MainPrimaryKey<=10 ");
    EXPECT_EQ(Count(), 8);
}

TEST_F(SqlMachineTest, SortKeys) {
    EXPECT_EQ(machine.SortFields(), "");
    machine.AddSort("A", false);
    machine.AddSort("B", true);
    machine.AddSort("A", true);
    EXPECT_EQ(machine.GetSql().substr(machine.GetSql().find(" ORDER BY")),
              " ORDER BY LinkDataSource.[A] DESC, LinkDataSource.[B] DESC;");
    EXPECT_EQ(machine.SortFields(), "[A], [B]");

    // Four different keys keep the last three; the grid's own columns sort in Test.
    machine.AddSort("Id", false);
    machine.AddSort("Predicted", true);
    EXPECT_EQ(machine.SortFields(), "[Predicted], [Id], [A]");
    EXPECT_NE(machine.GetSql().find(" ORDER BY Test.[Predicted] DESC, LinkDataSource.[Id], LinkDataSource.[A] DESC;"),
              std::string::npos);
    // Field names are matched as the database matches them.
    machine.AddSort("a", false);
    EXPECT_EQ(machine.SortFields(), "[a], [Predicted], [Id]");

    // A new view clears the keys and the class filters, and keeps the range and the condition.
    machine.SetKeyMin("2");
    machine.SetReplaceWhere("A>0");
    machine.SetPredictType(1);
    machine.SetMarkView(1);
    machine.SetActual(1);
    machine.SetThreshold(0.5);
    machine.SetBrowseType(1);
    EXPECT_EQ(machine.SortFields(), "");
    EXPECT_EQ(machine.MarkView(), 0);
    EXPECT_EQ(machine.Actual(), -1);
    EXPECT_EQ(machine.Predicted(), -1);
    EXPECT_EQ(machine.Threshold(), 0);
    EXPECT_EQ(machine.PredictType(), 1);
    EXPECT_EQ(machine.KeyMin(), "2");
    EXPECT_EQ(machine.ReplaceWhere(), "A>0");
}

TEST_F(SqlMachineTest, ValuesCannotBreakOutOfTheStatement) {
    // A numeric key that is not a number is compared as text, quoted.
    machine.SetKeyMin("0 OR 1=1");
    EXPECT_EQ(machine.GetWhere(), " WHERE MainPrimaryKey>='0 OR 1=1' ");
    EXPECT_EQ(Count(), 0);
    machine.SetKeyMin("1'; DELETE FROM Test; --");
    EXPECT_EQ(machine.GetWhere(), " WHERE MainPrimaryKey>='1''; DELETE FROM Test; --' ");
    EXPECT_EQ(Count(), 0);
    machine.SetKeyMin("");
    EXPECT_TRUE(dialogs.Messages().empty());

    // A condition that would close the statement's parentheses, end it or
    // comment out its rest is refused and shows no rows.
    for (const char* bad : {"A>1) OR (1=1", "A>1; DELETE FROM Test", "A>1 --", "[A]>1 /* x", "B='x", "[A>1",
                            "A>1]", "(A>1"}) {
        dialogs.Clear();
        machine.SetReplaceWhere(bad);
        EXPECT_EQ(machine.GetWhere(), " WHERE 1=0 ") << bad;
        auto m = dialogs.Messages();
        ASSERT_EQ(m.size(), 1u) << bad;
        EXPECT_EQ(m[0].title.toStdString(), "CSqlMachine::BuildWHERE");
        EXPECT_EQ(Count(), 0) << bad;
    }
    EXPECT_EQ(project->OpenProject(false)->TableDefs()["Test"].RecordCount(), 12);

    // Quotes, brackets and parentheses inside literals are fine.
    dialogs.Clear();
    for (const char* good : {"B='b1'' OR (1=1'", "[A]>=(20) AND [B]<>\"x)\"", "B Like '[b]1*'", "A>#1/1/2000#"}) {
        machine.SetReplaceWhere(good);
        EXPECT_TRUE(CSqlMachine::IsSelfContainedCondition(good)) << good;
        EXPECT_EQ(machine.GetWhere(), std::string(" WHERE ") + good + " ") << good;
    }
    // Nesting the parser would refuse is refused before it; what it takes runs.
    auto nested = [](int levels) { return std::string(size_t(levels), '(') + "A>1" + std::string(size_t(levels), ')'); };
    EXPECT_TRUE(CSqlMachine::IsSelfContainedCondition(nested(20)));
    machine.SetReplaceWhere("A>1");
    const long plain = Count();
    machine.SetReplaceWhere(nested(20));
    EXPECT_EQ(Count(), plain);
    for (int levels : {25, 100, 20000}) {
        EXPECT_FALSE(CSqlMachine::IsSelfContainedCondition(nested(levels))) << levels;
        dialogs.Clear();
        machine.SetReplaceWhere(nested(levels));
        EXPECT_EQ(machine.GetWhere(), " WHERE 1=0 ") << levels;
        EXPECT_EQ(dialogs.Messages().size(), 1u) << levels;
    }
    dialogs.Clear();
    machine.SetReplaceWhere("B='b1'' OR (1=1'");
    EXPECT_EQ(Count(), 0);
    machine.SetReplaceWhere("[A]>=(20) AND [B]<>\"x)\"");
    EXPECT_EQ(Count(), 11);
    EXPECT_TRUE(dialogs.Messages().empty());

    // A sort field that would end its bracket is refused; the keys stay.
    machine.AddSort("A", false);
    machine.AddSort("B] DESC, [A", false);
    EXPECT_EQ(machine.SortFields(), "[A]");
    auto m = dialogs.Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].title.toStdString(), "CSqlMachine::AddSort");
}

namespace {

class TextKeyTest : public ModelFixture {
protected:
    void SetUp() override {
        std::vector<std::string> sql = {
            "CREATE TABLE Codes (Code Text(20) CONSTRAINT PrimaryKey PRIMARY KEY, V LONG, Out Text(10));"};
        for (const char* code : {"a", "B", "c'x", "d", "j", "K", "l", "m"})
            sql.push_back(std::string("INSERT INTO Codes VALUES ('") + MdbUtils::SqlText(code).substr(1) +
                          ", 1, 'o');");
        MakeData(sql);
        MakeProject("Codes", "Out");
        machine.Initialize(def, project);
    }
    long Count() {
        auto rs = project->OpenProject(false)->OpenRecordset("SELECT COUNT(*) " + machine.GetFrom() + machine.GetWhere(),
                                                             dao::RecordsetType::Snapshot);
        return rs->Fields(0).AsLong();
    }
    CSqlMachine machine;
};

}  // namespace

TEST_F(TextKeyTest, TextKeysAreQuoted) {
    machine.SetKeyMin("a");
    machine.SetKeyMax("k");
    EXPECT_EQ(machine.GetWhere(), " WHERE MainPrimaryKey>='a' AND  MainPrimaryKey<='k' ");
    // The database compares text without letter case: a, B, c'x, d, j, K.
    EXPECT_EQ(Count(), 6);
    machine.SetKeyMin("c'x");
    machine.SetKeyMax("c'x");
    EXPECT_EQ(machine.GetWhere(), " WHERE MainPrimaryKey>='c''x' AND  MainPrimaryKey<='c''x' ");
    EXPECT_EQ(Count(), 1);
    machine.SetKeyMin("x' OR 'a'='a");
    machine.SetKeyMax("");
    EXPECT_EQ(Count(), 0);
    EXPECT_TRUE(dialogs.Messages().empty());
}
