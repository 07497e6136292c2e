#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

namespace {

class DataDefTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ui::ScopedRecorder boxes;
    CProject project;
    std::string data;

    DatabasePtr Link(const std::vector<std::string>& statements, const std::string& table) {
        data = dir.File("data.db");
        auto src = dao::DBEngine::CreateDatabase(data, dao::dbLangGeneral);
        for (const auto& s : statements) src->Execute(s);
        src->Close();
        project.Create(dir.File("d.txp"));
        project.AttachDataSource(data, table);
        return project.OpenProject(false);
    }

    DatabasePtr LinkMixed() {
        return Link({"CREATE TABLE Mixed (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Name TEXT(40), Notes MEMO, "
                     "Tag GUID, Pic LONGBINARY, Born DATETIME, Flag BIT, Score DOUBLE, Qty SHORT, Raw VARBINARY(8), "
                     "Price CURRENCY);",
                     "INSERT INTO Mixed (Name, Score) VALUES ('a', 1.5);"},
                    "Mixed");
    }
};

TEST_F(DataDefTest, InitializeFromALinkedTable) {
    auto db = LinkMixed();
    ASSERT_TRUE(db);
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    EXPECT_EQ(def.TableName(), "LinkDataSource");
    ASSERT_EQ(def.FieldCount(), 11);
    const int16_t types[] = {-4, 10, 12, 15, 11, 8, 1, 7, 3, 17, 5};
    const int16_t match[] = {-1, -1, -2, -2, -2, -1, -1, -1, -1, -2, -1};
    const int16_t outOfRange[] = {1, 0, 0, 0, 0, 1, 0, 1, 1, 0, 1};
    for (int16_t i = 0; i < def.FieldCount(); ++i) {
        EXPECT_EQ(def.FieldType(i), types[i]) << def.FieldName(i);
        EXPECT_EQ(def.UserMatchType(i), match[i]) << def.FieldName(i);
        EXPECT_EQ(def.UserOutOfRange(i), outOfRange[i]) << def.FieldName(i);
        EXPECT_EQ(def.UserImportance(i), -1);
        EXPECT_EQ(def.MaxClass(i), 0);
        EXPECT_EQ(def.MissingValues(i), 0);
        EXPECT_EQ(def.FieldMax(i), 0);
        EXPECT_EQ(def.UserMin(i), 0);
    }
    EXPECT_EQ(def.FieldName(0), "ID");
    EXPECT_EQ(MdbUtils::FieldTypeName(def.FieldType(0)), "Long");
    EXPECT_EQ(def.PrimaryKeyField(), 0);
    EXPECT_FALSE(def.CompositeKey());
    EXPECT_EQ(def.RecordCount(), -1);  // a linked table's count is not kept
    EXPECT_FALSE(def.InitDone());
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(DataDefTest, InitializeMatchesTheTableNameExactly) {
    auto db = LinkMixed();
    CDataDef def;
    def.Initialize(db, "linkdatasource");
    EXPECT_EQ(def.FieldCount(), 0);
    EXPECT_EQ(def.TableName(), "");
    def.Initialize(nullptr, "LinkDataSource");
    def.Initialize(db, "");
    EXPECT_EQ(def.FieldCount(), 0);
    EXPECT_EQ(def.PrimaryKeyField(), -1);
}

TEST_F(DataDefTest, NoPrimaryIndexLeavesKeyUnset) {
    auto db = Link({"CREATE TABLE Loose (A LONG, B TEXT(5));"}, "Loose");
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    EXPECT_EQ(def.FieldCount(), 2);
    EXPECT_EQ(def.PrimaryKeyField(), -1);
}

TEST_F(DataDefTest, IndexOutsideTheFieldsIsSubscriptError) {
    auto db = LinkMixed();
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    for (int16_t bad : {int16_t(-1), int16_t(11), int16_t(300)}) {
        try {
            def.FieldName(bad);
            FAIL() << bad;
        } catch (const app::RuntimeError& e) {
            EXPECT_EQ(e.Number(), 9);
        }
        EXPECT_THROW(def.SetUserMatchType(bad, 1), app::RuntimeError);
    }
}

// --- FieldConfig ----------------------------------------------------------------

TEST_F(DataDefTest, SaveWritesExactlyFifteenColumnsAndLoadReadsThemBack) {
    auto db = LinkMixed();
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    def.SetUserMatchType(1, MatchType::Output);
    def.SetUserMatchType(7, MatchType::Numeric);
    def.SetUserMax(7, 9.75);
    def.SetUserMin(7, -1.25);
    def.SetUserImportance(7, 3);
    def.Save(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].text.toStdString();

    dao::TableDef table = db->TableDefs()["FieldConfig"];
    const char* columns[] = {"FieldOrder", "FieldName", "FieldType",      "FieldMax",        "FieldMin",
                             "FieldAvg",   "FieldStdDev", "UserImportance", "UserMatchType", "UserMax",
                             "UserMin",    "UserOutOfRange", "PrimaryKeyField", "MaxClass",  "Missing"};
    const int16_t types[] = {3, 10, 10, 7, 7, 7, 7, 3, 3, 7, 7, 3, 3, 3, 4};
    ASSERT_EQ(table.Fields().Count(), 15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(table.Fields()[i].Name(), columns[i]);
        EXPECT_EQ(table.Fields()[i].Type(), types[i]) << columns[i];
    }
    auto rs = db->OpenRecordset("SELECT FieldType, PrimaryKeyField FROM FieldConfig WHERE FieldOrder = 0;");
    EXPECT_EQ(rs->Fields(0).AsString(), "-4");
    EXPECT_EQ(rs->Fields(1).AsLong(), -1);
    rs = db->OpenRecordset("SELECT Count(*) FROM FieldConfig WHERE PrimaryKeyField <> 0;");
    EXPECT_EQ(rs->Fields(0).AsLong(), 1);

    CDataDef loaded;
    loaded.Load(db);
    EXPECT_TRUE(loaded.InitDone());
    ASSERT_EQ(loaded.FieldCount(), def.FieldCount());
    for (int16_t i = 0; i < def.FieldCount(); ++i) {
        EXPECT_EQ(loaded.FieldName(i), def.FieldName(i));
        EXPECT_EQ(loaded.FieldType(i), def.FieldType(i));
        EXPECT_EQ(loaded.UserMatchType(i), def.UserMatchType(i));
        EXPECT_EQ(loaded.UserOutOfRange(i), def.UserOutOfRange(i));
        EXPECT_EQ(loaded.UserImportance(i), def.UserImportance(i));
    }
    EXPECT_EQ(loaded.UserMax(7), 9.75);
    EXPECT_EQ(loaded.UserMin(7), -1.25);
    EXPECT_EQ(loaded.PrimaryKeyField(), 0);
    EXPECT_EQ(loaded.RecordCount(), 0);  // the row count lives in Config
    EXPECT_EQ(loaded.TableName(), "");
}

TEST_F(DataDefTest, SaveTwiceUpdatesByNameWithoutDuplicates) {
    auto db = LinkMixed();
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    def.Save(db);
    def.SetUserMatchType(2, MatchType::Text);
    def.Save(db);
    auto rs = db->OpenRecordset("SELECT Count(*) FROM FieldConfig;");
    EXPECT_EQ(rs->Fields(0).AsLong(), 11);
    CDataDef loaded;
    loaded.Load(db);
    EXPECT_EQ(loaded.UserMatchType(2), MatchType::Text);
}

TEST_F(DataDefTest, NamesWithQuotesAndBrackets) {
    auto db = Link({"CREATE TABLE Odd ([Key] COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, [O'Hara's] TEXT(10), "
                    "[Size (cm)] DOUBLE, [a[b] LONG);",
                    "INSERT INTO Odd ([O'Hara's], [Size (cm)], [a[b]) VALUES ('x', 2, 3);"},
                   "Odd");
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    ASSERT_EQ(def.FieldCount(), 4);
    EXPECT_EQ(def.FieldName(1), "O'Hara's");
    EXPECT_EQ(def.FieldName(3), "a[b");
    def.SetUserMatchType(1, MatchType::Output);
    def.Save(db);
    def.Save(db);
    ASSERT_TRUE(boxes.calls.empty()) << boxes.calls[0].text.toStdString();
    auto rs = db->OpenRecordset("SELECT Count(*) FROM FieldConfig;");
    EXPECT_EQ(rs->Fields(0).AsLong(), 4);
    CDataDef loaded;
    loaded.Load(db);
    ASSERT_EQ(loaded.FieldCount(), 4);
    EXPECT_EQ(loaded.FieldName(1), "O'Hara's");
    EXPECT_EQ(loaded.UserMatchType(1), MatchType::Output);
    EXPECT_EQ(loaded.FieldName(2), "Size (cm)");
    EXPECT_EQ(loaded.FieldName(3), "a[b");
}

TEST_F(DataDefTest, LoadStopsAtTheFirstMissingOrder) {
    auto db = LinkMixed();
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    def.Save(db);
    db->Execute("DELETE FROM FieldConfig WHERE FieldOrder > 3;");
    db->Execute("DELETE FROM FieldConfig WHERE FieldOrder = 2;");
    CDataDef loaded;
    loaded.Load(db);
    EXPECT_EQ(loaded.FieldCount(), 3);  // rows 0, 1 and 3
    EXPECT_EQ(loaded.FieldName(0), "ID");
    EXPECT_EQ(loaded.FieldName(1), "Name");
    EXPECT_EQ(loaded.FieldName(2), "");  // slot 2 never filled
    EXPECT_TRUE(loaded.InitDone());
}

TEST_F(DataDefTest, LoadWithoutTableOrRowsIsNotDone) {
    auto db = LinkMixed();
    CDataDef def;
    def.Load(db);
    EXPECT_FALSE(def.InitDone());
    db->Execute(
        "CREATE TABLE FieldConfig (FieldOrder SHORT CONSTRAINT pKey PRIMARY KEY, FieldName TEXT(255), FieldType "
        "TEXT(255), FieldMax DOUBLE, FieldMin DOUBLE, FieldAvg DOUBLE, FieldStdDev DOUBLE, UserImportance SHORT, "
        "UserMatchType SHORT, UserMax DOUBLE, UserMin DOUBLE, UserOutOfRange SHORT, PrimaryKeyField SHORT, MaxClass "
        "SHORT, Missing LONG);");
    def.Load(db);
    EXPECT_FALSE(def.InitDone());
    EXPECT_TRUE(boxes.calls.empty());
    // A Null in a numeric column is an error of Load.
    db->Execute("INSERT INTO FieldConfig (FieldOrder, FieldName, FieldType) VALUES (0, 'A', '4');");
    def.Load(db);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].title, "CDataDef::Load");
    EXPECT_EQ(boxes.calls[0].text, "Error: 94. \nInvalid use of Null");
    EXPECT_FALSE(def.InitDone());
}

TEST_F(DataDefTest, ReadOnlyDatabaseIsLeftAlone) {
    auto db = LinkMixed();
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    db.reset();
    project.CloseProject();
    auto ro = dao::DBEngine::OpenDatabase(project.FileName(), false, true);
    def.Save(ro);
    EXPECT_FALSE(MdbUtils::TableExists(ro, "FieldConfig"));
    CDataDef other;
    other.Load(ro);
    EXPECT_FALSE(other.InitDone());
    EXPECT_TRUE(boxes.calls.empty());
}

}  // namespace
