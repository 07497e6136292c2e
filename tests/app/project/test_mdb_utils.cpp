#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"
#include "MdbUtils.h"
#include "ProjectTestSupport.h"
#include "StockShell.h"

#include "ui/testing.h"

using namespace MdbUtils;

namespace {

TEST(FieldTypeCodes, NamesOfEveryCode) {
    const std::pair<int16_t, const char*> names[] = {
        {1, "Boolean"}, {2, "Byte"},         {3, "Integer"},  {4, "Long"},       {5, "Currency"},
        {6, "Single"},  {7, "Double"},       {8, "Date/Time"}, {9, "Binary"},    {10, "Text"},
        {11, "Long Binary"}, {12, "Memo"},   {15, "GUID"},    {16, "Big Integer"}, {17, "VarBinary"},
        {18, "Char"},   {19, "Numeric"},     {20, "Decimal"}, {21, "Float"},     {22, "Time"},
        {23, "Time Stamp"}, {-4, "Long"}};
    for (auto [code, name] : names) EXPECT_EQ(FieldTypeName(code), name) << code;
    for (int16_t code : {0, 13, 14, -1, -2, -3, -5, 24, 100}) EXPECT_EQ(FieldTypeName(code), "Unknown") << code;
}

TEST(FieldTypeCodes, ClassesInOrderOfTheirTests) {
    for (int16_t c : {15, 11, 17, 12}) EXPECT_EQ(FieldTypeClass(c), TypeClassUnusable) << c;
    for (int16_t c : {9, 16, 2, 5, 20, 7, 21, 3, 4, 19, 6, -4, 8, 22, 23}) EXPECT_EQ(FieldTypeClass(c), 1) << c;
    for (int16_t c : {10, 18, 1}) EXPECT_EQ(FieldTypeClass(c), 2) << c;
    for (int16_t c : {0, 13, 14, -1, -2, 24}) EXPECT_EQ(FieldTypeClass(c), 0) << c;
}

TEST(FieldTypeCodes, Predicates) {
    for (int c = -6; c <= 25; ++c) {
        const int16_t code = int16_t(c);
        const bool numeric = code == 16 || code == 2 || code == 5 || code == 20 || code == 7 || code == 21 ||
                             code == 3 || code == 4 || code == 19 || code == 6 || code == -4;
        EXPECT_EQ(IsNumericType(code), numeric) << c;
        EXPECT_EQ(IsIntegerType(code), code == 16 || code == 2 || code == 3 || code == 4 || code == -4) << c;
        EXPECT_EQ(IsTextType(code), code == 10 || code == 18) << c;
        EXPECT_EQ(IsDateType(code), code == 8 || code == 22 || code == 23) << c;
        EXPECT_EQ(IsBlobType(code), code == 15 || code == 11 || code == 17 || code == 12) << c;
    }
    // Binary orders but is not a number; Boolean is categorical.
    EXPECT_EQ(FieldTypeClass(9), 1);
    EXPECT_FALSE(IsNumericType(9));
    EXPECT_EQ(FieldTypeClass(1), 2);
}

TEST(SqlQuoting, TextAndNames) {
    EXPECT_EQ(SqlText("O'Hara"), "'O''Hara'");
    EXPECT_EQ(SqlText(""), "''");
    EXPECT_EQ(SqlText("''"), "''''''");
    EXPECT_EQ(BracketName("Order Date"), "[Order Date]");
    EXPECT_EQ(BracketName("it's"), "[it's]");
    EXPECT_THROW(BracketName("a]b"), dao::DaoError);
}

// --- the per-row result table ------------------------------------------------

class TestTableTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ui::ScopedRecorder boxes;
    CProject project;
    CDataDef def;

    void Build(const std::vector<std::string>& statements, const std::string& table) {
        const std::string data = dir.File("data.db");
        auto src = dao::DBEngine::CreateDatabase(data, dao::dbLangGeneral);
        for (const auto& s : statements) src->Execute(s);
        src->Close();
        project.Create(dir.File("t.txp"));
        project.AttachDataSource(data, table);
        auto db = project.OpenProject(false);
        ASSERT_TRUE(db);
        def.Initialize(db, "LinkDataSource");
    }
};

TEST_F(TestTableTest, OneRowPerDataRowWithTheKeysOwnType) {
    Build({"CREATE TABLE Fruit (Code TEXT(10) CONSTRAINT PrimaryKey PRIMARY KEY, Weight DOUBLE);",
           "INSERT INTO Fruit VALUES ('pear', 1.5);", "INSERT INTO Fruit VALUES ('apple', 2);",
           "INSERT INTO Fruit VALUES ('fig', Null);"},
          "Fruit");
    ASSERT_EQ(def.PrimaryKeyField(), 0);
    MdbUtils::CreateTestTable(project, def);
    auto db = project.OpenProject(false);
    dao::TableDef test = db->TableDefs()["Test"];
    ASSERT_EQ(test.Fields().Count(), 4);
    EXPECT_EQ(test.Fields()[0].Name(), "MainPrimaryKey");
    EXPECT_EQ(test.Fields()[0].Type(), dao::dbText);
    EXPECT_EQ(test.Fields()[1].Name(), "Predicted");
    EXPECT_EQ(test.Fields()[1].Type(), dao::dbInteger);
    EXPECT_EQ(test.Fields()[2].Name(), "Actual");
    EXPECT_EQ(test.Fields()[3].Name(), "Mark");
    bool primary = false;
    for (dao::Index i : test.Indexes())
        if (i.Name() == "PrimaryKey" && i.Primary()) primary = i.Fields()[0].Name() == "MainPrimaryKey";
    EXPECT_TRUE(primary);
    auto rs = db->OpenRecordset("SELECT Count(*), Min(Predicted), Max(Actual), Sum(Mark) FROM Test;");
    EXPECT_EQ(rs->Fields(0).AsLong(), 3);
    EXPECT_EQ(rs->Fields(1).AsLong(), -1);
    EXPECT_EQ(rs->Fields(2).AsLong(), -1);
    EXPECT_EQ(rs->Fields(3).AsLong(), 0);
    rs = db->OpenRecordset("SELECT Count(*) FROM Test WHERE MainPrimaryKey = 'fig';");
    EXPECT_EQ(rs->Fields(0).AsLong(), 1);
    // A second build fails while Test exists; the caller drops it first.
    EXPECT_THROW(MdbUtils::CreateTestTable(project, def), dao::DaoError);
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(TestTableTest, CompositeKeyIsRefusedWithAReason) {
    Build({"CREATE TABLE Visits (Patient LONG, Day DATETIME, Result TEXT(10), "
           "CONSTRAINT PrimaryKey PRIMARY KEY (Patient, Day));",
           "INSERT INTO Visits VALUES (1, #1/2/2000#, 'ok');", "INSERT INTO Visits VALUES (1, #1/3/2000#, 'ok');"},
          "Visits");
    EXPECT_TRUE(def.CompositeKey());
    try {
        MdbUtils::CreateTestTable(project, def);
        FAIL() << "built a Test table over a key of two fields";
    } catch (const app::RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("primary key of several fields"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(MdbUtils::TableExists(project.OpenProject(false), "Test"));
}

// A Test that an earlier build made over numbers and texts in a key of no
// declared type: adding the rows it seems to lack names the keys in the way.
TEST_F(TestTableTest, AnEarlierTestOverNumbersAndTextsNamesThem) {
    if (testsupport::StockShell::Path().empty()) GTEST_SKIP() << "no sqlite3 shell";
    const std::string data = dir.File("data.db");
    ASSERT_EQ(testsupport::StockShell::Run(data, "CREATE TABLE Codes (Code PRIMARY KEY, Size REAL); "
                                                 "INSERT INTO Codes VALUES (1, 1), (2, 2), ('a', 3);"),
              "");
    project.Create(dir.File("t.txp"));
    project.AttachDataSource(data, "Codes");
    auto db = project.OpenProject(false);
    def.Initialize(db, "LinkDataSource");
    db->Execute("SELECT [Code] As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark "
                "INTO Test FROM LinkDataSource;");
    db->Execute("CREATE INDEX PrimaryKey ON Test(MainPrimaryKey)WITH PRIMARY;");
    try {
        MdbUtils::AddMissingTestRows(project, def);
        FAIL() << "rows added under keys that do not find their rows";
    } catch (const app::RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("holds the number 1 and the text \"a\"."), std::string::npos) << e.what();
    }
}

TEST_F(TestTableTest, TableWithoutKeyIsRefused) {
    Build({"CREATE TABLE Loose (A LONG, B TEXT(5));", "INSERT INTO Loose VALUES (1, 'x');"}, "Loose");
    EXPECT_EQ(def.PrimaryKeyField(), -1);
    EXPECT_THROW(MdbUtils::CreateTestTable(project, def), app::RuntimeError);
}

}  // namespace
