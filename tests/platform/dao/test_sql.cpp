// Jet SQL as the application writes it, translated and run on real files.
#include <cmath>
#include <random>

#include <sqlite3.h>

#include "fixture.h"

using namespace daotest;
using dao::RecordsetType;

namespace {

class DaoSql : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<dao::Database> db;

    void SetUp() override { db = dao::DBEngine::CreateDatabase(dir.File("p.txp"), dao::dbLangGeneral); }

    // The first field of the first row of a query.
    com::Variant One(const std::string& sql) {
        auto rs = db->OpenRecordset(sql, RecordsetType::Snapshot);
        return rs->Fields(0).Value();
    }
    std::string Text(const std::string& sql) { return dao::VarToString(One(sql)); }

    // A data table as the import makes it, with a counter key.
    void MakeData() {
        db->Execute("CREATE TABLE Data ( IndexCounter1 AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY, [Name] Text(255), "
                    "[Age] LONG, [Score] SINGLE, [When] DATETIME, [Flag] BIT);");
        db->Execute("INSERT INTO Data (Name, Age, Score, [When], Flag) VALUES ('beta', 30, 1.5, #1/2/2000#, True)");
        db->Execute("INSERT INTO Data (Name, Age, Score, [When], Flag) VALUES ('Alpha', 20, 2.25, #3/4/2001 13:30#, False)");
        db->Execute("INSERT INTO Data (Name, Age, Score, [When], Flag) VALUES ('ALPHA', 40, Null, Null, False)");
        db->Execute("INSERT INTO Data (Name, Age, Score, [When], Flag) VALUES ('?', Null, 3, #5/6/2002#, True)");
        db->Execute("INSERT INTO Data (Name, Age, Score, [When], Flag) VALUES (Null, 10, 4, #5/6/2002#, True)");
    }
};

TEST_F(DaoSql, ConfigTableStatementCreatesTextKeyTable) {
    db->Execute("CREATE TABLE Config (Property Text(255) CONSTRAINT PrimaryKey PRIMARY KEY, sValue Text(255) );");
    auto td = db->TableDefs()["Config"];
    EXPECT_EQ(td.Fields().Count(), 2);
    EXPECT_EQ(td.Fields()["Property"].Type(), dao::dbText);
    EXPECT_EQ(td.Fields()["Property"].Size(), 255);
    ASSERT_EQ(td.Indexes().Count(), 1);
    EXPECT_EQ(td.Indexes()[0].Name(), "PrimaryKey");
    EXPECT_TRUE(td.Indexes()[0].Primary());
    db->Execute("INSERT INTO Config VALUES ('TableName', 'x')");
    // The key compares without regard to case, as the engine's text does.
    EXPECT_EQ(ErrorOf([&] { db->Execute("INSERT INTO Config VALUES ('tablename', 'y')"); }), 3022);
}

TEST_F(DaoSql, NodeDataAndFieldConfigStatements) {
    db->Execute("CREATE TABLE NodeData(NodeData LONGTEXT, PruneRate SINGLE, MinItems LONG);");
    auto f = db->TableDefs()["NodeData"].Fields();
    EXPECT_EQ(f[0].Type(), dao::dbMemo);
    EXPECT_EQ(f[1].Type(), dao::dbSingle);
    EXPECT_EQ(f[2].Type(), dao::dbLong);
    db->Execute("CREATE TABLE FieldConfig (FieldOrder SHORT CONSTRAINT pKey PRIMARY KEY, FieldName TEXT, FieldType TEXT, "
                "FieldMax DOUBLE, FieldMin DOUBLE, FieldAvg DOUBLE, FieldStdDev DOUBLE, UserImportance SHORT, "
                "UserMatchType SHORT, UserMax DOUBLE, UserMin DOUBLE, UserOutOfRange SHORT, PrimaryKeyField SHORT, "
                "MaxClass SHORT, Missing LONG)");
    auto td = db->TableDefs()["FieldConfig"];
    EXPECT_EQ(td.Fields().Count(), 15);
    EXPECT_EQ(td.Indexes()["pKey"].Fields()[0].Name(), "FieldOrder");
    EXPECT_EQ(td.Fields()["FieldOrder"].Type(), dao::dbInteger);
}

TEST_F(DaoSql, ImportTableWithCounterKeyNumbersRows) {
    db->Execute("CREATE TABLE iris ( IndexCounter1 AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY, [a] LONG, [b] SINGLE, "
                "[c] Text(255));");
    auto f = db->TableDefs()["iris"].Fields()["IndexCounter1"];
    EXPECT_EQ(f.Type(), dao::dbLong);
    EXPECT_TRUE(f.Attributes() & dao::dbAutoIncrField);
    auto rs = db->OpenRecordset("iris", RecordsetType::Dynaset);
    for (int i = 0; i < 3; ++i) {
        rs->AddNew();
        rs->Fields(1).SetValue(L(i));
        rs->Update();
    }
    rs->Requery();
    rs->MoveLast();
    EXPECT_EQ(rs->Fields("IndexCounter1").AsLong(), 3);
}

TEST_F(DaoSql, StatisticsQueriesOfOneField) {
    MakeData();
    auto rs = db->OpenRecordset("SELECT Max([Data].[Age]), Min([Data].[Age]), Avg([Data].[Age]), StDev([Data].[Age]) FROM [Data];",
                                RecordsetType::ForwardOnly);
    EXPECT_DOUBLE_EQ(rs->Fields(0).AsDouble(), 40);
    EXPECT_DOUBLE_EQ(rs->Fields(1).AsDouble(), 10);
    EXPECT_DOUBLE_EQ(rs->Fields(2).AsDouble(), 25);
    // Sample deviation of 30, 20, 40, 10.
    EXPECT_NEAR(rs->Fields(3).AsDouble(), std::sqrt(500.0 / 3.0), 1e-12);
    EXPECT_EQ(rs->Fields(0).Name(), "Expr1000");
    // Max of a date column stays a date.
    EXPECT_EQ(One("SELECT Max([Data].[When]) FROM [Data];").vt, VT_DATE);
    // HAVING without GROUP BY filters the whole table.
    EXPECT_EQ(One("SELECT Count(*)  FROM Data HAVING ([Data].[Age] Is Null);").ToI4(), 1);
    EXPECT_EQ(One("SELECT Count(*)  FROM Data HAVING ([Data].[Name] Is Null);").ToI4(), 1);
    // An all-Null column aggregates to Null.
    db->Execute("UPDATE Data SET Age = Null");
    EXPECT_TRUE(One("SELECT Max([Data].[Age]) FROM [Data];").IsNull());
    EXPECT_TRUE(One("SELECT StDev([Data].[Age]) FROM [Data];").IsNull());
}

TEST_F(DaoSql, ValueTableBuildDeleteAndNumbering) {
    MakeData();
    db->Execute("SELECT TOP 257 CStr([Data].[Name]) As DValues, CLng(Count(*)) As Count INTO DValues_1 FROM [Data] WHERE "
                "Not IsNull([Data].[Name]) GROUP BY [Data].[Name] ORDER BY CStr([Data].[Name]);");
    db->TableDefs().Refresh();
    auto td = db->TableDefs()["DValues_1"];
    EXPECT_EQ(td.Fields()["DValues"].Type(), dao::dbText);
    EXPECT_EQ(td.Fields()["Count"].Type(), dao::dbLong);
    // Alpha and ALPHA group together; "?" sorts first.
    EXPECT_EQ(td.RecordCount(), 3);
    db->Execute("DELETE * FROM DValues_1 WHERE Trim(DValues)=\"?\";");
    EXPECT_EQ(db->RecordsAffected(), 1);
    EXPECT_EQ(td.RecordCount(), 2);
    db->Execute("ALTER TABLE DValues_1 ADD COLUMN ValueNum AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY;");
    db->TableDefs().Refresh();
    td = db->TableDefs()["DValues_1"];
    auto vn = td.Fields()["ValueNum"];
    EXPECT_TRUE(vn.Attributes() & dao::dbAutoIncrField);
    EXPECT_EQ(vn.OrdinalPosition(), 2);
    EXPECT_TRUE(td.Indexes()["PrimaryKey"].Primary());
    auto rs = db->OpenRecordset("DValues_1", RecordsetType::Table);
    EXPECT_EQ(rs->Fields("ValueNum").AsLong(), 1);
    EXPECT_EQ(rs->Fields("DValues").AsString().size(), 5u);
    EXPECT_EQ(dao::CompareText(rs->Fields("DValues").AsString(), "alpha"), 0);
    EXPECT_EQ(rs->Fields("Count").AsLong(), 2);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("ValueNum").AsLong(), 2);
    EXPECT_EQ(rs->Fields("DValues").AsString(), "beta");
    // New rows continue the numbering.
    db->Execute("INSERT INTO DValues_1 (DValues, [Count]) VALUES ('gamma', 1)");
    EXPECT_EQ(One("SELECT Max(ValueNum) FROM DValues_1").ToI4(), 3);
    db->Execute("DROP TABLE DValues_1;");
    db->TableDefs().Refresh();
    EXPECT_EQ(ErrorOf([&] { db->TableDefs()["DValues_1"]; }), 3265);
}

TEST_F(DaoSql, NumbersSortAsTextInValueTables) {
    db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V LONG)");
    for (int v : {9, 10, 2, 10})
        db->Execute("INSERT INTO T VALUES (" + std::to_string(v * 100 + std::rand() % 50) + ", " + std::to_string(v) + ")");
    db->Execute("SELECT TOP 257 CStr([T].[V]) As DValues, CLng(Count(*)) As Count INTO DValues_0 FROM [T] WHERE Not "
                "IsNull([T].[V]) GROUP BY [T].[V] ORDER BY CStr([T].[V]);");
    auto rs = db->OpenRecordset("SELECT * FROM DValues_0", RecordsetType::Snapshot);
    std::vector<std::string> got;
    for (; !rs->Eof(); rs->MoveNext()) got.push_back(rs->Fields("DValues").AsString());
    EXPECT_EQ(got, (std::vector<std::string>{"10", "2", "9"}));
}

TEST_F(DaoSql, TestTableMakeTableKeepsTypesAndIndex) {
    MakeData();
    db->Execute("SELECT [IndexCounter1] As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO "
                "Test FROM Data;");
    db->Execute("CREATE INDEX PrimaryKey ON Test(MainPrimaryKey)WITH PRIMARY;");
    auto td = db->TableDefs()["Test"];
    EXPECT_EQ(td.Fields()["MainPrimaryKey"].Type(), dao::dbLong);
    EXPECT_FALSE(td.Fields()["MainPrimaryKey"].Attributes() & dao::dbAutoIncrField);
    EXPECT_EQ(td.Fields()["Predicted"].Type(), dao::dbInteger);
    EXPECT_EQ(td.Fields()["Actual"].Type(), dao::dbInteger);
    EXPECT_EQ(td.Fields()["Mark"].Type(), dao::dbInteger);
    EXPECT_TRUE(td.Indexes()["PrimaryKey"].Primary());
    EXPECT_EQ(td.RecordCount(), 5);
    auto rs = db->OpenRecordset("SELECT * FROM Test;", RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields("Predicted").Value().vt, VT_I2);
    EXPECT_EQ(rs->Fields("Predicted").AsShort(), -1);
    // An existing Test makes the make-table fail.
    EXPECT_EQ(ErrorOf([&] {
                  db->Execute("SELECT [IndexCounter1] As MainPrimaryKey, CInt(-1) As Predicted INTO Test FROM Data;");
              }),
              3010);
    EXPECT_EQ(ErrorOf([&] { db->Execute("CREATE INDEX PrimaryKey ON Test(Mark)WITH PRIMARY;"); }), 3367);
    EXPECT_EQ(ErrorOf([&] { db->Execute("CREATE INDEX Other ON Test(Mark)WITH PRIMARY;"); }), 3283);
}

TEST_F(DaoSql, TextKeyKeepsItsTypeInMakeTable) {
    db->Execute("CREATE TABLE D (Code TEXT(12) CONSTRAINT PrimaryKey PRIMARY KEY, X LONG)");
    db->Execute("INSERT INTO D VALUES ('b', 1)");
    db->Execute("INSERT INTO D VALUES ('a', 2)");
    db->Execute("SELECT [Code] As MainPrimaryKey, CInt(-1) As Predicted INTO Test FROM D;");
    auto f = db->TableDefs()["Test"].Fields()["MainPrimaryKey"];
    EXPECT_EQ(f.Type(), dao::dbText);
    EXPECT_EQ(f.Size(), 12);
    // Rows are taken in the source's key order.
    auto rs = db->OpenRecordset("SELECT * FROM Test", RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsString(), "a");
}

TEST_F(DaoSql, MarkUpdatesAndXor) {
    MakeData();
    db->Execute("SELECT [IndexCounter1] As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO "
                "Test FROM Data;");
    db->Execute("UPDATE Test SET Mark = -1 ;");
    EXPECT_EQ(db->RecordsAffected(), 5);
    EXPECT_EQ(One("SELECT Count(*) FROM Test WHERE Test.Mark<>0").ToI4(), 5);
    db->Execute("UPDATE Test SET Mark = 0 ;");
    EXPECT_EQ(One("SELECT Count(*) FROM Test WHERE Test.Mark=0").ToI4(), 5);
    db->Execute("UPDATE Test SET Mark = -1 WHERE MainPrimaryKey <= 2");
    db->Execute("UPDATE Test SET Mark = [Mark] Xor -1;");
    EXPECT_EQ(One("SELECT Count(*) FROM Test WHERE Mark = -1").ToI4(), 3);
    EXPECT_EQ(One("SELECT Count(*) FROM Test WHERE Mark = 0").ToI4(), 2);
    EXPECT_EQ(One("SELECT Count(*) FROM Test WHERE Mark <> 0 And Mark <> -1").ToI4(), 0);
}

TEST_F(DaoSql, BrowseJoinWhereAndOrder) {
    MakeData();
    db->Execute("SELECT [IndexCounter1] As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO "
                "Test FROM Data;");
    db->Execute("UPDATE Test SET Actual = 1, Predicted = 2 WHERE MainPrimaryKey = 2");
    db->Execute("UPDATE Test SET Actual = 1, Predicted = 1, Mark = -1 WHERE MainPrimaryKey = 3");
    std::string from = " FROM Data INNER JOIN Test ON Data.[IndexCounter1] = Test.MainPrimaryKey ";
    auto rs = db->OpenRecordset("SELECT Test.Mark, Test.Actual, Test.Predicted, Data.[IndexCounter1], Data.[Name], Data.[Age]" +
                                    from + " WHERE  (Age>1) AND (Test.Mark=0)  ORDER BY Data.[Age] DESC, Test.[Mark];",
                                RecordsetType::Dynaset);
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 3);
    rs->MoveFirst();
    EXPECT_EQ(rs->Fields("Age").AsLong(), 30);
    EXPECT_EQ(rs->Fields("Mark").SourceTable(), "Test");
    EXPECT_EQ(rs->Fields("Mark").SourceField(), "Mark");
    EXPECT_EQ(rs->Fields("Name").SourceTable(), "Data");
    EXPECT_EQ(One("SELECT COUNT(*) " + from + " WHERE  [Actual]>0 AND [Predicted]<>[Actual]  ;").ToI4(), 1);
    EXPECT_EQ(One("SELECT COUNT(*) " + from + " WHERE  MainPrimaryKey>=2 AND  MainPrimaryKey<=4 ").ToI4(), 3);
    auto all = db->OpenRecordset("SELECT Test.Predicted, Data.* " + from + "WHERE Test.Mark<>0", RecordsetType::ForwardOnly);
    EXPECT_EQ(all->Fields().Count(), 7);
    EXPECT_EQ(all->Fields(1).Name(), "IndexCounter1");
    EXPECT_EQ(all->Fields("Name").AsString(), "ALPHA");
    all->MoveNext();
    EXPECT_TRUE(all->Eof());
}

TEST_F(DaoSql, LiteralsAndNames) {
    MakeData();
    EXPECT_EQ(Text("SELECT Name FROM Data WHERE Name = 'beta'"), "beta");
    EXPECT_EQ(Text("SELECT Name FROM Data WHERE Name = \"BETA\""), "beta");
    EXPECT_EQ(Text("SELECT [Data].[Name] FROM [Data] WHERE [Data].[When] = #1/2/2000#"), "beta");
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE [When] > #1/1/2001#").ToI4(), 3);
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Flag = True").ToI4(), 3);
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Flag = False").ToI4(), 2);
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Not Flag").ToI4(), 2);
    EXPECT_EQ(Text("SELECT 'it''s'"), "it's");
    EXPECT_EQ(Text("SELECT \"say \"\"hi\"\"\""), "say \"hi\"");
    EXPECT_EQ(One("SELECT True").ToI4(), -1);
    EXPECT_EQ(One("SELECT 1 = 1").ToI4(), -1);
    EXPECT_EQ(One("SELECT Not 0").ToI4(), -1);
    // A name with a quote in it, in brackets.
    db->Execute("CREATE TABLE [Bob's \"Table\"] ([It's] TEXT(10))");
    db->Execute("INSERT INTO [Bob's \"Table\"] VALUES ('x''y')");
    EXPECT_EQ(Text("SELECT [It's] FROM [Bob's \"Table\"]"), "x'y");
}

TEST_F(DaoSql, OperatorsFollowJetPrecedence) {
    EXPECT_EQ(Text("SELECT 1 + 2 & 3"), "33");
    EXPECT_EQ(Text("SELECT 'a' & Null & 'b'"), "ab");
    EXPECT_TRUE(One("SELECT Null & Null").IsNull());
    EXPECT_EQ(One("SELECT 7 \\ 2").ToI4(), 3);
    EXPECT_EQ(One("SELECT 7 Mod 3").ToI4(), 1);
    EXPECT_EQ(One("SELECT -7 Mod 3").ToI4(), -1);
    EXPECT_DOUBLE_EQ(One("SELECT 7 / 2").ToR8(), 3.5);
    EXPECT_DOUBLE_EQ(One("SELECT -2 ^ 2").ToR8(), -4);
    EXPECT_DOUBLE_EQ(One("SELECT 2 ^ 3 ^ 2").ToR8(), 64);
    EXPECT_EQ(One("SELECT 5 Xor 3").ToI4(), 6);
    EXPECT_EQ(One("SELECT -1 Xor -1").ToI4(), 0);
    EXPECT_EQ(One("SELECT Not 1 = 2").ToI4(), -1);
    EXPECT_EQ(One("SELECT 3 Between 1 And 5").ToI4(), -1);
    EXPECT_EQ(One("SELECT 3 In (1, 2)").ToI4(), 0);
    EXPECT_EQ(One("SELECT Null Is Null").ToI4(), -1);
    EXPECT_EQ(ErrorOf([&] { One("SELECT 1 / 0"); }), 11);
}

TEST_F(DaoSql, LikePatterns) {
    auto like = [&](const std::string& text, const std::string& pat) {
        return One("SELECT '" + text + "' Like '" + pat + "'").ToI4() == -1;
    };
    EXPECT_TRUE(like("Hello", "h*"));
    EXPECT_TRUE(like("Hello", "*LL*"));
    EXPECT_TRUE(like("Hello", "H?llo"));
    EXPECT_FALSE(like("Hello", "H?lo"));
    EXPECT_TRUE(like("a1b", "a#b"));
    EXPECT_FALSE(like("aXb", "a#b"));
    EXPECT_TRUE(like("cat", "[bc]at"));
    EXPECT_FALSE(like("hat", "[bc]at"));
    EXPECT_TRUE(like("hat", "[!bc]at"));
    EXPECT_TRUE(like("m", "[a-z]"));
    EXPECT_TRUE(like("a*b", "a[*]b"));
    EXPECT_FALSE(like("axb", "a[*]b"));
    EXPECT_EQ(One("SELECT 'x' Not Like 'y*'").ToI4(), -1);
    // Letters compare as everywhere: A to Z in either case, every other letter as itself.
    EXPECT_TRUE(dao::LikeText(u"ÉCOLE", u"Éco*"));
    EXPECT_FALSE(dao::LikeText(u"ÉCOLE", u"éco*"));
    // Without wildcards: the whole text, A to Z in either case.
    EXPECT_TRUE(like("École", "ÉCOLE"));
    EXPECT_FALSE(like("École", "école"));
    EXPECT_FALSE(like("Hello", "Hell"));
    EXPECT_FALSE(like("Hell", "Hello"));
    EXPECT_EQ(One("SELECT 12 Like '12'").ToI4(), -1);
    EXPECT_EQ(One("SELECT 2.5 Like '2.5'").ToI4(), -1);
    // A constant pattern over many rows, and a pattern that changes from row to row.
    MakeData();
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Name Like 'ALPHA'").ToI4(), 2);
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Name Like '?ET*'").ToI4(), 1);
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Name Like IIf(Age > 25, 'a*', 'b*')").ToI4(), 1);
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Name Like IIf(Age < 35, '*a', 'x')").ToI4(), 2);
}

TEST_F(DaoSql, ConversionFunctionsFollowVbRules) {
    EXPECT_EQ(One("SELECT CInt(2.5)").ToI4(), 2);
    EXPECT_EQ(One("SELECT CInt(3.5)").ToI4(), 4);
    EXPECT_EQ(One("SELECT CInt(-2.5)").ToI4(), -2);
    EXPECT_EQ(One("SELECT CInt('12.5')").ToI4(), 12);
    EXPECT_EQ(ErrorOf([&] { One("SELECT CInt(40000)"); }), 6);
    EXPECT_EQ(ErrorOf([&] { One("SELECT CInt(Null)"); }), 94);
    EXPECT_EQ(One("SELECT CLng(2147483647)").ToI4(), 2147483647);
    EXPECT_EQ(ErrorOf([&] { One("SELECT CLng(2147483648)"); }), 6);
    EXPECT_EQ(Text("SELECT CStr(CSng(1.1))"), "1.1");
    EXPECT_EQ(Text("SELECT CStr(CSng(1/3))"), "0.3333333");
    EXPECT_EQ(Text("SELECT CStr(1/3)"), "0.333333333333333");
    EXPECT_EQ(Text("SELECT CStr(0.1 + 0.2)"), "0.3");
    EXPECT_EQ(Text("SELECT CStr(1E+15)"), "1E+15");
    EXPECT_EQ(Text("SELECT CStr(123456789012345)"), "123456789012345");
    EXPECT_EQ(Text("SELECT CStr(0.00001)"), "1E-05");
    EXPECT_EQ(Text("SELECT CStr(-0.5)"), "-0.5");
    EXPECT_EQ(Text("SELECT CStr(True)"), "-1");
    EXPECT_EQ(Text("SELECT CStr(CDbl(2))"), "2");
    EXPECT_DOUBLE_EQ(One("SELECT Val('  12.5abc')").ToR8(), 12.5);
    EXPECT_DOUBLE_EQ(One("SELECT Val('1 2 3')").ToR8(), 123);
    EXPECT_DOUBLE_EQ(One("SELECT Val('x')").ToR8(), 0);
    EXPECT_EQ(Text("SELECT Trim('  a b  ')"), "a b");
    EXPECT_EQ(Text("SELECT Nz(Null, 'd')"), "d");
    EXPECT_EQ(Text("SELECT IIf(1 > 2, 'yes', 'no')"), "no");
    EXPECT_EQ(One("SELECT IsNull(Null)").ToI4(), -1);
    EXPECT_EQ(One("SELECT IsNull(1)").ToI4(), 0);
    EXPECT_DOUBLE_EQ(One("SELECT CVDate('1/2/2000')").ToR8(), 36527);
    EXPECT_TRUE(One("SELECT CVDate(Null)").IsNull());
    EXPECT_EQ(Text("SELECT UCase(Left('hello', 2)) & Mid('hello', 4)"), "HElo");
    EXPECT_EQ(One("SELECT Len('hello')").ToI4(), 5);
    EXPECT_EQ(One("SELECT Len('\xC3\xA9\xF0\x9F\x98\x80')").ToI4(), 3);  // a letter beyond ASCII, a surrogate pair
    EXPECT_EQ(One("SELECT Len(12.5)").ToI4(), 4);
    EXPECT_EQ(One("SELECT InStr('Hello', 'LL')").ToI4(), 3);
}

// Numbers far beyond a target's range are an error or kept whole, never an
// arbitrary number (the conversions below are undefined for them in C++).
TEST_F(DaoSql, NumbersBeyondATypesRangeAreErrorsNotArbitraryValues) {
    const std::pair<const char*, long> errors[] = {
        {"SELECT Weekday(1e300)", 6},        {"SELECT Weekday(-1e300)", 6},
        {"SELECT Year(1e300)", 6},           {"SELECT Hour(-1e19)", 6},
        {"SELECT DateSerial(1e300, 1, 1)", 6}, {"SELECT DateSerial(2000, 1e19, 1)", 6},
        {"SELECT DateSerial(2000, 1, -1e300)", 6}, {"SELECT DateSerial(2147483647, 2147483647, 1)", 5},
    };
    for (const auto& [sql, number] : errors) EXPECT_EQ(ErrorOf([&] { One(sql); }), number) << sql;
    EXPECT_EQ(One("SELECT Weekday(36527)").ToI4(), 1);  // 2000-01-02, a Sunday

    // Values the file holds beyond its column's type.
    db->Execute("CREATE TABLE Wide (Id LONG, C CURRENCY, S SINGLE, D DATETIME)");
    db->Execute("INSERT INTO Wide VALUES (1, 1.5, 2.5, 36527)");
    db->Close();
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(dir.File("p.txp").c_str(), &raw), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(raw, "INSERT INTO Wide VALUES (2, 1e300, 1e300, 1e300); "
                                    "INSERT INTO Wide VALUES (3, 9000000000000000, 1, 1)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
    }
    db = dao::DBEngine::OpenDatabase(dir.File("p.txp"));
    EXPECT_EQ(ErrorOf([&] { One("SELECT C FROM Wide WHERE Id = 2"); }), 6);
    EXPECT_EQ(ErrorOf([&] { One("SELECT C FROM Wide WHERE Id = 3"); }), 6);
    EXPECT_EQ(One("SELECT C FROM Wide WHERE Id = 1").cyVal.int64, 15000);
    const com::Variant big = One("SELECT S FROM Wide WHERE Id = 2");
    EXPECT_EQ(big.vt, VT_R8);
    EXPECT_EQ(big.ToR8(), 1e300);
    EXPECT_EQ(One("SELECT S FROM Wide WHERE Id = 1").vt, VT_R4);
    // A date no calendar holds is shown as its number.
    EXPECT_EQ(Text("SELECT CStr(D) FROM Wide WHERE Id = 2"), "1E+300");
    EXPECT_EQ(Text("SELECT CStr(D) FROM Wide WHERE Id = 1"), "1/2/2000");
}

TEST_F(DaoSql, DateColumnsBecomeDateTextInCStr) {
    MakeData();
    EXPECT_EQ(Text("SELECT CStr([When]) FROM Data WHERE Name = 'beta'"), "1/2/2000");
    EXPECT_EQ(Text("SELECT CStr([When]) FROM Data WHERE Age = 20"), "3/4/2001 1:30:00 PM");
    auto rs = db->OpenRecordset("SELECT [When] FROM Data WHERE Name = 'beta'", RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).Value().vt, VT_DATE);
    EXPECT_DOUBLE_EQ(rs->Fields(0).AsDate(), 36527);
}

TEST_F(DaoSql, GroupingSortingAndComparingIgnoreCase) {
    MakeData();
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Name = 'ALPHA'").ToI4(), 2);
    EXPECT_EQ(One("SELECT Count(*) FROM (SELECT Name FROM Data GROUP BY Name)").ToI4(), 4);
    auto rs = db->OpenRecordset("SELECT Name FROM Data WHERE Not IsNull(Name) ORDER BY Name DESC", RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsString(), "beta");
    rs->MoveLast();
    EXPECT_EQ(rs->Fields(0).AsString(), "?");
    EXPECT_EQ(One("SELECT UCase('abc') = 'ABC'").ToI4(), -1);
    EXPECT_LT(dao::CompareText(u"apple", u"Banana"), 0);
    EXPECT_EQ(dao::CompareText(u"straße", u"STRASSE") != 0, true);
    // As SQLite's NOCASE: only A to Z fold, to lower case, which decides where punctuation falls.
    EXPECT_NE(dao::CompareText(u"émile", u"ÉMILE"), 0);
    EXPECT_EQ(dao::CompareText(u"émile", u"éMILE"), 0);
    EXPECT_GT(dao::CompareText(u"ax", u"_x"), 0);
}

TEST_F(DaoSql, TopGroupHavingAndUnion) {
    MakeData();
    EXPECT_EQ(One("SELECT Count(*) FROM (SELECT TOP 2 * FROM Data ORDER BY Age)").ToI4(), 2);
    auto rs = db->OpenRecordset("SELECT TOP 1 Name FROM Data ORDER BY Age DESC", RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsString(), "ALPHA");
    auto g = db->OpenRecordset("SELECT Flag, Count(*) AS N FROM Data GROUP BY Flag HAVING Count(*) > 2", RecordsetType::Snapshot);
    EXPECT_EQ(g->Fields("Flag").AsBool(), true);
    EXPECT_EQ(g->Fields("N").AsLong(), 3);
    g->MoveNext();
    EXPECT_TRUE(g->Eof());
    EXPECT_EQ(One("SELECT Count(*) FROM (SELECT Name FROM Data UNION SELECT 'zeta' FROM Data)").ToI4(), 5);
}

// A column made distinct reads as the same column read plainly: its type,
// size, attributes, source and values, its text still compared as one.
TEST_F(DaoSql, DistinctAndUnionColumnsKeepWhatAPlainSelectGives) {
    MakeData();
    const std::string head = "(SELECT TOP 20000 %c AS v FROM Data ORDER BY IndexCounter1)";
    const std::pair<std::string, std::string> forms[] = {  // plain, made distinct; %c stands for the column
        {"SELECT %c FROM Data", "SELECT DISTINCT %c FROM Data"},
        {"SELECT %c FROM Data", "SELECT %c FROM Data UNION SELECT %c FROM Data"},
        {"SELECT v FROM " + head, "SELECT DISTINCT TOP 257 v FROM " + head},
    };
    auto with = [](std::string sql, const std::string& column) {
        for (size_t at; (at = sql.find("%c")) != std::string::npos;) sql.replace(at, 2, column);
        return sql;
    };
    for (const std::string column : {"Name", "Age", "Score", "[When]", "Flag"}) {
        for (const auto& [plainSql, distinctSql] : forms) {
            SCOPED_TRACE(with(distinctSql, column));
            auto plain = db->OpenRecordset(with(plainSql, column), RecordsetType::Snapshot);
            auto distinct = db->OpenRecordset(with(distinctSql, column), RecordsetType::Snapshot);
            const dao::Field p = plain->Fields(0), d = distinct->Fields(0);
            EXPECT_EQ(d.Type(), p.Type());
            EXPECT_EQ(d.Size(), p.Size());
            EXPECT_EQ(d.Attributes(), p.Attributes() & ~long(dao::dbUpdatableField));
            EXPECT_EQ(d.SourceTable(), p.SourceTable());
            EXPECT_EQ(d.SourceField(), p.SourceField());
            // Each value once, as the one comparison tells values apart, and typed as the plain column.
            std::vector<std::string> values;
            VARTYPE type = VT_EMPTY;
            for (; !plain->Eof(); plain->MoveNext()) {
                const com::Variant v = plain->Fields(0).Value();
                const std::string text = v.IsNull() ? "(Null)" : dao::VarToString(v);
                if (!v.IsNull()) type = v.vt;
                if (std::none_of(values.begin(), values.end(), [&](const auto& x) { return dao::CompareText(x, text) == 0; }))
                    values.push_back(text);
            }
            size_t rows = 0;
            for (; !distinct->Eof(); distinct->MoveNext(), ++rows) {
                const com::Variant v = distinct->Fields(0).Value();
                if (!v.IsNull()) {
                    EXPECT_EQ(v.vt, type) << dao::VarToString(v);
                }
            }
            EXPECT_EQ(rows, values.size());
        }
    }
}

TEST_F(DaoSql, DdlVariants) {
    db->Execute("CREATE TABLE A (Id COUNTER CONSTRAINT PK PRIMARY KEY, Code TEXT(5) NOT NULL, Amount CURRENCY, "
                "Ratio DOUBLE, Small BYTE, Big BIGINT, Note MEMO, Day DATETIME, Yes BIT, Tiny SMALLINT, R REAL)");
    auto f = db->TableDefs()["A"].Fields();
    EXPECT_EQ(f["Amount"].Type(), dao::dbCurrency);
    EXPECT_EQ(f["Small"].Type(), dao::dbByte);
    EXPECT_EQ(f["Big"].Type(), dao::dbBigInt);
    EXPECT_EQ(f["Note"].Type(), dao::dbMemo);
    EXPECT_EQ(f["Day"].Type(), dao::dbDate);
    EXPECT_EQ(f["Yes"].Type(), dao::dbBoolean);
    EXPECT_EQ(f["Tiny"].Type(), dao::dbInteger);
    EXPECT_EQ(f["R"].Type(), dao::dbSingle);
    EXPECT_EQ(f["Code"].Size(), 5);
    EXPECT_TRUE(f["Code"].Required());
    EXPECT_EQ(ErrorOf([&] { db->Execute("INSERT INTO A (Code) VALUES (Null)"); }), 3314);
    db->Execute("INSERT INTO A (Code, Amount, Yes) VALUES ('x', 1.23456, True)");
    auto rs = db->OpenRecordset("A");
    EXPECT_EQ(rs->Fields("Amount").Value().vt, VT_CY);
    EXPECT_EQ(rs->Fields("Amount").Value().cyVal.int64, 12346);
    EXPECT_EQ(rs->Fields("Yes").Value().vt, VT_BOOL);
    db->Execute("CREATE UNIQUE INDEX ByCode ON A (Code DESC)");
    auto ix = db->TableDefs()["A"].Indexes()["ByCode"];
    EXPECT_TRUE(ix.Unique());
    EXPECT_FALSE(ix.Primary());
    EXPECT_EQ(ErrorOf([&] { db->Execute("INSERT INTO A (Code) VALUES ('X')"); }), 3022);
    db->Execute("DROP INDEX ByCode ON A");
    db->Execute("INSERT INTO A (Code) VALUES ('X')");
    db->Execute("ALTER TABLE A ADD COLUMN Extra TEXT(20)");
    EXPECT_EQ(db->TableDefs()["A"].Fields().Count(), 12);
    db->Execute("ALTER TABLE A DROP COLUMN Extra");
    EXPECT_EQ(db->TableDefs()["A"].Fields().Count(), 11);
    db->Execute("DROP TABLE A");
    EXPECT_EQ(ErrorOf([&] { db->Execute("DROP TABLE A"); }), 3376);
}

TEST_F(DaoSql, BadStatementsGiveNumberedErrors) {
    MakeData();
    EXPECT_EQ(ErrorOf([&] { db->Execute("SELECT Foo(Age) INTO X FROM Data"); }), 3085);
    EXPECT_EQ(ErrorOf([&] { One("SELECT Bogus([Age]) FROM Data"); }), 3085);
    EXPECT_EQ(ErrorOf([&] { One("SELECT * FROM Missing"); }), 3078);
    EXPECT_EQ(ErrorOf([&] { One("SELECT Nope FROM Data"); }), 3061);
    EXPECT_EQ(ErrorOf([&] { One("SELECT * FROM Data WHERE Name = 'unterminated"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { One("SELECT * FROM Data WHERE [Name = 'x'"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { One("SELECT * FROM Data WHERE Name = #not a date#"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { db->Execute("FROB Data"); }), 3129);
    EXPECT_EQ(ErrorOf([&] { db->Execute("SELECT * FROM Data"); }), 3065);
    EXPECT_EQ(ErrorOf([&] { One("SELECT * FROM Data WHERE Name = 'it's'"); }), 3075);
    EXPECT_EQ(ErrorOf([&] { One("SELECT * FROM Data WHERE ((Age > 1)"); }), 3075);
    // A value holding a quote, written with the quote doubled, is data.
    db->Execute("INSERT INTO Data (Name) VALUES ('O''Brien')");
    EXPECT_EQ(One("SELECT Count(*) FROM Data WHERE Name = 'o''brien'").ToI4(), 1);
    // Injection through an unescaped value stays a syntax error, never a second statement.
    EXPECT_NE(ErrorOf([&] { db->Execute("DELETE * FROM Data WHERE Name = 'x'; DROP TABLE Data; --'"); }), 0);
    EXPECT_EQ(db->TableDefs()["Data"].RecordCount(), 6);
}

TEST_F(DaoSql, SettingsRowsThroughFindFirst) {
    db->Execute("CREATE TABLE Config (Property Text(255) CONSTRAINT PrimaryKey PRIMARY KEY, sValue Text(255) );");
    auto save = [&](const std::string& prop, const std::string& value) {
        auto rs = db->OpenRecordset("Config", RecordsetType::Dynaset);
        rs->FindFirst("Property = '" + prop + "'");
        if (rs->NoMatch()) {
            rs->AddNew();
            rs->Fields("Property").SetValue(S(prop));
        } else {
            rs->Edit();
        }
        rs->Fields("sValue").SetValue(S(value));
        rs->Update();
        rs->Close();
    };
    save("TableName", "iris");
    save("TableName", "wine");
    save("RecordCount", "178");
    auto snap = db->OpenRecordset("SELECT * FROM Config;", RecordsetType::Snapshot);
    snap->FindFirst("Property='TableName'");
    ASSERT_FALSE(snap->NoMatch());
    EXPECT_EQ(snap->Fields("sValue").AsString(), "wine");
    snap->FindFirst("Property = 'tablename'");
    EXPECT_FALSE(snap->NoMatch());
    snap->FindFirst("Property = 'Missing'");
    EXPECT_TRUE(snap->NoMatch());
    EXPECT_EQ(One("SELECT COUNT(*) FROM [Config];").ToI4(), 2);
    EXPECT_EQ(One("SELECT COUNT(*) FROM Config").ToI4(), 2);
}

TEST_F(DaoSql, GridSearchCriteria) {
    MakeData();
    auto rs = db->OpenRecordset("SELECT * FROM Data", RecordsetType::Dynaset);
    rs->FindFirst("[Name]  Like  'alp*'");
    EXPECT_EQ(rs->Fields("IndexCounter1").AsLong(), 2);
    rs->FindNext("[Name]  Like  'alp*'");
    EXPECT_EQ(rs->Fields("IndexCounter1").AsLong(), 3);
    rs->FindFirst("[Name] = 'ALPHA'");
    EXPECT_EQ(rs->Fields("IndexCounter1").AsLong(), 2);
    rs->FindFirst("[When] =37382");
    EXPECT_EQ(rs->Fields("IndexCounter1").AsLong(), 4);
    rs->FindFirst("[Age]  Like  '3*'");
    EXPECT_EQ(rs->Fields("Age").AsLong(), 30);
    rs->FindFirst("[Age]=40");
    EXPECT_EQ(rs->Fields("Name").AsString(), "ALPHA");
    rs->FindFirst("[Age]  Like  'forty'");
    EXPECT_TRUE(rs->NoMatch());
    rs->FindLast("[Flag]=-1");
    EXPECT_EQ(rs->Fields("IndexCounter1").AsLong(), 5);
    auto vals = db->OpenRecordset("SELECT * FROM Data;", RecordsetType::ForwardOnly);
    int n = 0;
    for (; !vals->Eof(); vals->MoveNext()) ++n;
    EXPECT_EQ(n, 5);
}

TEST_F(DaoSql, MangledStatementsOnlyEverRaiseNumberedErrors) {
    MakeData();
    db->Execute("SELECT [IndexCounter1] As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO "
                "Test FROM Data;");
    const std::vector<std::string> seeds = {
        "SELECT TOP 257 CStr([Data].[Name]) As DValues, CLng(Count(*)) As Count FROM [Data] WHERE Not "
        "IsNull([Data].[Name]) GROUP BY [Data].[Name] ORDER BY CStr([Data].[Name]);",
        "SELECT Count(*)  FROM Data HAVING ([Data].[Age] Is Null);",
        "SELECT Test.Mark, Test.Actual, Data.[Name] FROM Data INNER JOIN Test ON Data.[IndexCounter1] = "
        "Test.MainPrimaryKey WHERE  (Age>1) AND (Test.Mark=0)  ORDER BY Data.[Age] DESC;",
        "SELECT * FROM Data WHERE [When] > #1/1/2001# AND Name Like 'a*' OR Age Between 1 And 9",
        "SELECT IIf(Age > 20, 'old' & Name, Nz(Name, \"?\")), Val(Trim(' 12 ')) FROM Data",
    };
    const char alphabet[] = "[]()'\"#*,.;& =<>-+/\\^aZ0 AND OR NOT SELECT FROM";
    std::mt19937 gen(20261209);
    int ran = 0, raised = 0;
    for (int round = 0; round < 600; ++round) {
        std::string sql = seeds[size_t(round) % seeds.size()];
        int edits = 1 + int(gen() % 4);
        for (int e = 0; e < edits && !sql.empty(); ++e) {
            size_t at = gen() % sql.size();
            switch (gen() % 3) {
            case 0: sql.erase(at, 1 + gen() % 3); break;
            case 1: sql.insert(at, 1, alphabet[gen() % (sizeof alphabet - 1)]); break;
            default: sql[at] = alphabet[gen() % (sizeof alphabet - 1)]; break;
            }
        }
        try {
            auto rs = db->OpenRecordset(sql, RecordsetType::Snapshot);
            if (!rs->Eof()) rs->MoveLast();
            ++ran;
        } catch (const dao::DaoError& e) {
            EXPECT_GT(e.Number(), 0) << sql;
            EXPECT_FALSE(e.Description().empty()) << sql;
            ++raised;
        }
    }
    EXPECT_GT(raised, 0);
    EXPECT_EQ(db->TableDefs()["Data"].RecordCount(), 5);
}

}  // namespace
