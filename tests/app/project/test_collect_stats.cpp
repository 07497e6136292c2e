#include "CDataDef.h"
#include "CProject.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string Num(int i, int width = 3) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, i);
    return buf;
}

class StatsTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ui::ScopedRecorder boxes;
    CProject project;
    DatabasePtr db;
    CDataDef def;
    std::vector<int16_t> progress;

    // Makes the data table with the statements, links it and initialises the definitions.
    void Link(const std::vector<std::string>& statements, const std::string& table) {
        const std::string data = dir.File("data.db");
        auto src = dao::DBEngine::CreateDatabase(data, dao::dbLangGeneral);
        src->BeginTrans();
        for (const auto& s : statements) src->Execute(s);
        src->CommitTrans();
        src->Close();
        project.Create(dir.File("s.txp"));
        project.AttachDataSource(data, table);
        db = project.OpenProject(false);
        ASSERT_TRUE(db);
        def.Initialize(db, "LinkDataSource");
        def.OnProgress = [this](int16_t p) { progress.push_back(p); };
    }

    int16_t Field(const std::string& name) const {
        for (int16_t i = 0; i < def.FieldCount(); ++i)
            if (def.FieldName(i) == name) return i;
        return -1;
    }

    struct ValueRow {
        std::string value;
        int32_t count;
        int32_t num;
    };
    std::vector<ValueRow> Values(int16_t field) {
        std::vector<ValueRow> rows;
        auto rs = db->OpenRecordset("SELECT DValues, [Count], ValueNum FROM DValues_" + std::to_string(field) +
                                    " ORDER BY ValueNum;");
        for (; !rs->Eof(); rs->MoveNext())
            rows.push_back({rs->Fields(0).AsString(), rs->Fields(1).AsLong(), rs->Fields(2).AsLong()});
        return rows;
    }
    bool HasValues(int16_t field) { return MdbUtils::TableExists(db, "DValues_" + std::to_string(field)); }
};

TEST_F(StatsTest, NumericFieldStatisticsAndMissingCounts) {
    Link({"CREATE TABLE M (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, X DOUBLE, N LONG, T TEXT(10));",
          "INSERT INTO M (X, N, T) VALUES (2, 10, 'a');", "INSERT INTO M (X, N, T) VALUES (4, 9, Null);",
          "INSERT INTO M (X, N, T) VALUES (4, 10, 'b');", "INSERT INTO M (X, N, T) VALUES (5, Null, 'a');",
          "INSERT INTO M (X, N, T) VALUES (Null, 9, Null);"},
         "M");
    def.CollectStats(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].title.toStdString() << boxes.calls[0].text.toStdString();
    EXPECT_TRUE(def.InitDone());
    EXPECT_EQ(def.RecordCount(), 5);
    const int16_t x = Field("X");
    EXPECT_DOUBLE_EQ(def.FieldMax(x), 5);
    EXPECT_DOUBLE_EQ(def.FieldMin(x), 2);
    EXPECT_DOUBLE_EQ(def.FieldAvg(x), 3.75);
    EXPECT_NEAR(def.FieldStdDev(x), std::sqrt(4.75 / 3), 1e-12);  // sample deviation
    EXPECT_DOUBLE_EQ(def.UserMax(x), 5);
    EXPECT_DOUBLE_EQ(def.UserMin(x), 2);
    EXPECT_EQ(def.MissingValues(x), 1);
    EXPECT_EQ(def.MissingValues(Field("N")), 1);
    EXPECT_EQ(def.MissingValues(Field("T")), 2);
    EXPECT_EQ(def.MissingValues(Field("ID")), 0);
    // Text fields have no numeric statistics.
    EXPECT_EQ(def.FieldMax(Field("T")), 0);
    EXPECT_EQ(def.UserMax(Field("T")), 0);
    // Few distinct numbers also get a value table, ordered as text: "10" before "9".
    const auto n = Values(Field("N"));
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].value, "10");
    EXPECT_EQ(n[0].count, 2);
    EXPECT_EQ(n[0].num, 1);
    EXPECT_EQ(n[1].value, "9");
    EXPECT_EQ(n[1].num, 2);
    EXPECT_EQ(def.MaxClass(Field("N")), 2);
    const auto t = Values(Field("T"));
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].value, "a");
    EXPECT_EQ(t[0].count, 2);
    EXPECT_EQ(def.MaxClass(Field("T")), 2);
    EXPECT_EQ(def.UserMatchType(Field("T")), MatchType::NotUsed);
    // Column order of a value table.
    dao::TableDef vt = db->TableDefs()["DValues_" + std::to_string(Field("T"))];
    ASSERT_EQ(vt.Fields().Count(), 3);
    EXPECT_EQ(vt.Fields()[0].Name(), "DValues");
    EXPECT_EQ(vt.Fields()[1].Name(), "Count");
    EXPECT_EQ(vt.Fields()[2].Name(), "ValueNum");
    EXPECT_EQ(vt.Fields()[1].Type(), dao::dbLong);
    EXPECT_TRUE(vt.Fields()[2].Attributes() & dao::dbAutoIncrField);
    // Five distinct keys: still a value table (the key is a field like any other).
    EXPECT_EQ(def.MaxClass(Field("ID")), 5);
}

TEST_F(StatsTest, AllNullNumericFieldGetsTheMarkerEverywhere) {
    Link({"CREATE TABLE E (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, X DOUBLE);", "INSERT INTO E (X) VALUES (Null);",
          "INSERT INTO E (X) VALUES (Null);"},
         "E");
    def.CollectStats(db);
    const int16_t x = Field("X");
    for (double v : {def.FieldMax(x), def.FieldMin(x), def.FieldAvg(x), def.FieldStdDev(x), def.UserMax(x),
                     def.UserMin(x)})
        EXPECT_EQ(v, -660000);
    EXPECT_EQ(def.MissingValues(x), 2);
    EXPECT_EQ(def.MaxClass(x), 0);
    EXPECT_FALSE(HasValues(x));
}

TEST_F(StatsTest, DateStatisticsAreDaySerials) {
    Link({"CREATE TABLE D (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Day DATETIME);",
          "INSERT INTO D (Day) VALUES (#12/31/1999#);", "INSERT INTO D (Day) VALUES (#1/2/2000#);",
          "INSERT INTO D (Day) VALUES (#1/4/2000#);", "INSERT INTO D (Day) VALUES (Null);"},
         "D");
    def.CollectStats(db);
    const int16_t d = Field("Day");
    EXPECT_DOUBLE_EQ(def.FieldMin(d), 36525);  // not 12, the month of "12/31/1999"
    EXPECT_DOUBLE_EQ(def.FieldMax(d), 36529);
    EXPECT_DOUBLE_EQ(def.FieldAvg(d), 36527);
    EXPECT_DOUBLE_EQ(def.FieldStdDev(d), 2);
    EXPECT_DOUBLE_EQ(def.UserMin(d), 36525);
    EXPECT_DOUBLE_EQ(def.UserMax(d), 36529);
    EXPECT_EQ(def.MissingValues(d), 1);
    EXPECT_EQ(def.MaxClass(d), 3);
}

TEST_F(StatsTest, ValueTableLimitOf256) {
    std::vector<std::string> sql = {
        "CREATE TABLE V (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Exact TEXT(10), Over TEXT(10), "
        "WithQ TEXT(10), Under TEXT(10), OnlyQ TEXT(10), Blank TEXT(10));"};
    for (int i = 0; i < 257; ++i) {
        const std::string v = "'v" + Num(i) + "'";
        const std::string exact = i < 256 ? v : "'v000'";
        const std::string withQ = i < 256 ? v : "' ? '";   // 256 values and "?": 257 groups
        const std::string under = i < 255 ? v : "'?'";      // 255 values and "?"
        sql.push_back("INSERT INTO V (Exact, Over, WithQ, Under, OnlyQ) VALUES (" + exact + ", " + v + ", " + withQ +
                      ", " + under + ", '?');");
    }
    Link(sql, "V");
    def.CollectStats(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].text.toStdString();

    const auto exact = Values(Field("Exact"));
    ASSERT_EQ(exact.size(), 256u);
    EXPECT_EQ(exact.front().value, "v000");
    EXPECT_EQ(exact.front().count, 2);
    EXPECT_EQ(exact.back().value, "v255");
    EXPECT_EQ(exact.back().num, 256);
    EXPECT_EQ(def.MaxClass(Field("Exact")), 256);

    for (const char* name : {"Over", "WithQ"}) {
        EXPECT_FALSE(HasValues(Field(name))) << name;
        EXPECT_EQ(def.MaxClass(Field(name)), 0) << name;
        EXPECT_EQ(def.UserMatchType(Field(name)), MatchType::Unusable) << name;
    }
    const auto under = Values(Field("Under"));
    ASSERT_EQ(under.size(), 255u);
    EXPECT_EQ(under[0].num, 1);
    EXPECT_EQ(under[254].value, "v254");
    EXPECT_EQ(def.MaxClass(Field("Under")), 255);

    // Only "?": an empty value table, and the field cannot be used.
    EXPECT_TRUE(HasValues(Field("OnlyQ")));
    EXPECT_TRUE(Values(Field("OnlyQ")).empty());
    EXPECT_EQ(def.MaxClass(Field("OnlyQ")), 0);
    EXPECT_EQ(def.UserMatchType(Field("OnlyQ")), MatchType::Unusable);
    // No values at all: no table.
    EXPECT_FALSE(HasValues(Field("Blank")));
    EXPECT_EQ(def.UserMatchType(Field("Blank")), MatchType::Unusable);
}

// Values are grouped, numbered and counted as text compares everywhere: A to Z
// in either case are one value, other letters in two cases two values.
TEST_F(StatsTest, ValuesWrittenInTwoCasesAreGroupedAsTheyCompare) {
    std::vector<std::string> sql = {"CREATE TABLE W (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Two TEXT(10), "
                                    "Ascii TEXT(10), Many TEXT(10));"};
    for (int i = 0; i < 400; ++i) {
        const std::string n = Num(i / 4 % 100);
        const bool upper = i % 2 == 1;
        const std::string two = upper ? "\xC3\x89T\xC3\x89" + n : "\xC3\xA9t\xC3\xA9" + n;  // ÉTÉ / été
        const std::string ascii = (upper ? "AB" : "ab") + n;
        const std::string many = (upper ? "\xC3\x89" : "\xC3\xA9") + Num(i / 2);  // 400 values
        sql.push_back("INSERT INTO W (Two, Ascii, Many) VALUES ('" + two + "', '" + ascii + "', '" + many + "');");
    }
    Link(sql, "W");
    def.CollectStats(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].text.toStdString();

    const auto two = Values(Field("Two"));
    ASSERT_EQ(def.MaxClass(Field("Two")), 200);
    ASSERT_EQ(two.size(), 200u);
    for (size_t k = 0; k < two.size(); ++k) {
        EXPECT_EQ(two[k].count, 2) << two[k].value;
        if (k > 0) {
            EXPECT_LT(dao::CompareText(two[k - 1].value, two[k].value), 0) << "numbered in the order of the comparison";
        }
    }
    const auto ascii = Values(Field("Ascii"));
    ASSERT_EQ(ascii.size(), 100u);
    EXPECT_EQ(ascii.front().count, 4);
    EXPECT_EQ(def.MaxClass(Field("Many")), 0);
    EXPECT_EQ(def.UserMatchType(Field("Many")), MatchType::Unusable);
}

TEST_F(StatsTest, ProgressSequenceAndSecondCallDoesNothing) {
    Link({"CREATE TABLE P (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, A DOUBLE, B TEXT(5), C BIT);",
          "INSERT INTO P (A, B, C) VALUES (1, 'x', True);", "INSERT INTO P (A, B, C) VALUES (2, 'y', False);"},
         "P");
    def.CollectStats(db);
    EXPECT_EQ(progress, (std::vector<int16_t>{25, 50, 75, 100, -1}));
    EXPECT_EQ(def.MaxClass(Field("C")), 2);
    progress.clear();
    def.CollectStats(db);
    EXPECT_TRUE(progress.empty());
    EXPECT_TRUE(def.InitDone());
}

TEST_F(StatsTest, ThreeFieldsRoundHalfToEven) {
    Link({"CREATE TABLE R (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, A DOUBLE, B TEXT(5));",
          "INSERT INTO R (A, B) VALUES (1, 'x');"},
         "R");
    def.CollectStats(db);
    EXPECT_EQ(progress, (std::vector<int16_t>{33, 67, 100, -1}));
}

TEST_F(StatsTest, CancelAfterTheFirstFieldLeavesTheRestUntouched) {
    std::vector<std::string> sql = {"CREATE TABLE C (F0 LONG CONSTRAINT PrimaryKey PRIMARY KEY, F1 DOUBLE, F2 TEXT(5), "
                                    "F3 DOUBLE, F4 TEXT(5), F5 DOUBLE, F6 TEXT(5), F7 DOUBLE, F8 TEXT(5), F9 DOUBLE);"};
    for (int i = 0; i < 20; ++i)
        sql.push_back("INSERT INTO C VALUES (" + std::to_string(i) + ", 1.5, 'a', 2, 'b', 3, 'c', 4, Null, 5);");
    Link(sql, "C");
    def.OnProgress = [this](int16_t p) {
        progress.push_back(p);
        def.SetCancel(true);  // as the progress window's Cancel button would
    };
    def.CollectStats(db);
    EXPECT_EQ(progress, (std::vector<int16_t>{10}));
    EXPECT_FALSE(def.InitDone());
    EXPECT_EQ(def.RecordCount(), -1);
    EXPECT_DOUBLE_EQ(def.FieldMax(0), 19);
    EXPECT_EQ(def.MaxClass(0), 20);
    EXPECT_TRUE(HasValues(0));
    for (int16_t i = 1; i < 10; ++i) {
        EXPECT_EQ(def.FieldMax(i), 0) << i;
        EXPECT_EQ(def.UserMax(i), 0) << i;
        EXPECT_EQ(def.MissingValues(i), 0) << i;
        EXPECT_EQ(def.MaxClass(i), 0) << i;
        EXPECT_EQ(def.UserMatchType(i), MatchType::NotUsed) << i;
        EXPECT_FALSE(HasValues(i)) << i;
    }
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(StatsTest, OddFieldNames) {
    Link({"CREATE TABLE [Odd's] ([Key] COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, [O'Hara] DOUBLE, [Size (cm)] "
          "TEXT(5), [a[b] LONG);",
          "INSERT INTO [Odd's] ([O'Hara], [Size (cm)], [a[b]) VALUES (3, 'x', 1);",
          "INSERT INTO [Odd's] ([O'Hara], [Size (cm)], [a[b]) VALUES (5, 'y', 1);"},
         "Odd's");
    def.CollectStats(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].title.toStdString() << ": " << boxes.calls[0].text.toStdString();
    EXPECT_DOUBLE_EQ(def.FieldAvg(Field("O'Hara")), 4);
    EXPECT_EQ(def.MaxClass(Field("Size (cm)")), 2);
    EXPECT_EQ(def.MaxClass(Field("a[b")), 1);
    EXPECT_EQ(def.RecordCount(), 2);
}

// Held exclusively, the project cannot lend the scans connections of their
// own: the same results come from the one connection.
TEST_F(StatsTest, ExclusiveConnectionGivesTheSameResults) {
    Link({"CREATE TABLE X (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, A DOUBLE, B TEXT(5), C DATETIME);",
          "INSERT INTO X (A, B, C) VALUES (1, 'x', #1/1/2001#);", "INSERT INTO X (A, B, C) VALUES (3, 'X', Null);",
          "INSERT INTO X (A, B, C) VALUES (Null, 'y', #1/3/2001#);"},
         "X");
    db.reset();
    project.CloseProject();
    db = project.OpenProject(true);
    ASSERT_TRUE(db);
    def.CollectStats(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].text.toStdString();
    EXPECT_EQ(progress, (std::vector<int16_t>{25, 50, 75, 100, -1}));
    EXPECT_DOUBLE_EQ(def.FieldAvg(Field("A")), 2);
    EXPECT_EQ(def.MissingValues(Field("A")), 1);
    EXPECT_DOUBLE_EQ(def.FieldMax(Field("C")), 36894);
    // Text groups without regard to case, as the database compares.
    const auto b = Values(Field("B"));
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].count, 2);
    EXPECT_EQ(b[1].value, "y");
    EXPECT_EQ(def.RecordCount(), 3);
}

TEST_F(StatsTest, FailureIsReportedAndLeavesCollectionUndone) {
    Link({"CREATE TABLE G (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, A DOUBLE);", "INSERT INTO G (A) VALUES (1);"},
         "G");
    {
        auto src = dao::DBEngine::OpenDatabase(dir.File("data.db"));
        src->Execute("DROP TABLE G;");
    }
    def.CollectStats(db);
    ASSERT_FALSE(boxes.calls.empty());
    EXPECT_EQ(boxes.calls.back().title, "CDataDef::GatherStats");
    EXPECT_EQ(boxes.calls.back().icon, ui::Icon::Critical);
    EXPECT_FALSE(def.InitDone());
    EXPECT_TRUE(std::find(progress.begin(), progress.end(), -1) == progress.end());
}

TEST_F(StatsTest, NothingToDoWithoutFieldsOrDatabase) {
    CDataDef empty;
    std::vector<int16_t> seen;
    empty.OnProgress = [&](int16_t p) { seen.push_back(p); };
    Link({"CREATE TABLE Z (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY);"}, "Z");
    empty.CollectStats(db);
    def.CollectStats(nullptr);
    EXPECT_TRUE(seen.empty());
    EXPECT_FALSE(empty.InitDone());
    EXPECT_FALSE(def.InitDone());
}

}  // namespace

TEST_F(StatsTest, YesNoValuesNumberTrueFirstWhateverTheStoredForm) {
    // Source files written by other programs often store True as 1, not -1.
    Link({"CREATE TABLE B (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Flag BIT);",
          "INSERT INTO B (Flag) VALUES (1);", "INSERT INTO B (Flag) VALUES (0);", "INSERT INTO B (Flag) VALUES (1);",
          "INSERT INTO B (Flag) VALUES (-1);", "INSERT INTO B (Flag) VALUES (Null);"},
         "B");
    def.CollectStats(db);
    const int16_t f = Field("Flag");
    const auto rows = Values(f);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value, "-1");
    EXPECT_EQ(rows[0].count, 3);
    EXPECT_EQ(rows[0].num, 1);
    EXPECT_EQ(rows[1].value, "0");
    EXPECT_EQ(rows[1].count, 1);
    EXPECT_EQ(def.MaxClass(f), 2);
    EXPECT_EQ(def.MissingValues(f), 1);
}
