// The SQL texts the grid writes itself: find criteria by field type and the
// key criteria that find a row again, and what the database makes of them.
#include "MBrowseSql.h"

#include "dao/dao.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using MBrowseSql::FindCriterion;
using MBrowseSql::FindResult;

TEST(FindCriterionTest, ByFieldTypeAndMatchCase) {
    std::string c;
    EXPECT_EQ(FindCriterion("City", dao::dbText, "Oslo", false, c), FindResult::Ok);
    EXPECT_EQ(c, "[City] Like 'Oslo'");
    EXPECT_EQ(FindCriterion("City", dao::dbMemo, "O'Brien", false, c), FindResult::Ok);
    EXPECT_EQ(c, "[City] Like 'O''Brien'");
    EXPECT_EQ(FindCriterion("City", dao::dbText, "x' OR '1'='1", true, c), FindResult::Ok);
    EXPECT_EQ(c, "[City] = 'x'' OR ''1''=''1' AND InStr(1, [City], 'x'' OR ''1''=''1', 0) = 1 AND Len([City]) = "
                 "Len('x'' OR ''1''=''1')");
    EXPECT_EQ(FindCriterion("Size", dao::dbDouble, "12.5", false, c), FindResult::Ok);
    EXPECT_EQ(c, "[Size] Like 12.5");
    EXPECT_EQ(FindCriterion("Size", dao::dbLong, "-3", true, c), FindResult::Ok);
    EXPECT_EQ(c, "[Size] = -3");
    // Not a plain number: the text form, or no search at all with Match Case.
    EXPECT_EQ(FindCriterion("Size", dao::dbDouble, "1,000", false, c), FindResult::Ok);
    EXPECT_EQ(c, "[Size] Like '1,000'");
    EXPECT_EQ(FindCriterion("Size", dao::dbDouble, "abc", true, c), FindResult::NotFound);
    // Dates: a literal the database reads, whatever Match Case says; a bare number is no date.
    EXPECT_EQ(FindCriterion("When", dao::dbDate, "3/10/2024 10:30", true, c), FindResult::Ok);
    EXPECT_EQ(c, "[When] = #03/10/2024 10:30:00#");
    EXPECT_EQ(FindCriterion("When", dao::dbDate, "2024-12-31", false, c), FindResult::Ok);
    EXPECT_EQ(c, "[When] = #12/31/2024 00:00:00#");
    EXPECT_EQ(FindCriterion("When", dao::dbDate, "tomorrow", false, c), FindResult::InvalidDate);
    EXPECT_EQ(FindCriterion("When", dao::dbDate, "45000", false, c), FindResult::InvalidDate);
    // A name with a blank is bracketed.
    EXPECT_EQ(FindCriterion("Home Town", dao::dbText, "a*", false, c), FindResult::Ok);
    EXPECT_EQ(c, "[Home Town] Like 'a*'");
}

TEST(KeyCriterionTest, QuotingByKeyType) {
    EXPECT_EQ(MBrowseSql::KeyCriterion("Id", dao::dbLong, com::Variant::I4(42)), "[Id]=42");
    EXPECT_EQ(MBrowseSql::KeyCriterion("Key Name", dao::dbText, com::Variant::Str("k'07")), "[Key Name]='k''07'");
    DATE d = 0;
    VariantTimeFromParts(2023, 1, 2, 3, 4, 5, &d);
    EXPECT_EQ(MBrowseSql::KeyCriterion("When", dao::dbDate, com::Variant::Date(d)), "[When]=#01/02/2023 03:04:05#");
    EXPECT_EQ(MBrowseSql::KeyCriterion("When", dao::dbDate, com::Variant::Str("1/2/2023 3:04:05 AM")),
              "[When]=#01/02/2023 03:04:05#");
    EXPECT_EQ(MBrowseSql::KeyCriterion("Flag", dao::dbBoolean, com::Variant::Bool(true)), "[Flag]=True");
    EXPECT_EQ(MBrowseSql::KeyCriterion("Id", dao::dbLong, com::Variant::Null()), "");
}

TEST(BrowseSqlOnData, CriteriaFindTheirRows) {
    const auto dir = std::filesystem::temp_directory_path() / ("tessary-browse-sql-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto db = dao::DBEngine::CreateDatabase((dir / "t.mdb").string(), dao::dbLangGeneral);
    db->Execute("CREATE TABLE T (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, [Home Town] TEXT(50), [When] DATETIME, "
                "Size DOUBLE, Flag BIT);");
    db->Execute("INSERT INTO T VALUES (1, 'Oslo', #03/10/2024 10:30:00#, 12.5, True);");
    db->Execute("INSERT INTO T VALUES (2, 'OSLO', #03/11/2024#, 3, False);");
    db->Execute("INSERT INTO T VALUES (3, 'x'' OR ''1''=''1', #03/12/2024#, 1000, False);");
    auto rs = db->OpenRecordset("SELECT * FROM T ORDER BY Id", dao::RecordsetType::Dynaset);
    auto find = [&](const std::string& field, short type, const std::string& text, bool matchCase) {
        std::string c;
        if (FindCriterion(field, type, text, matchCase, c) != FindResult::Ok) return -2L;
        rs->FindFirst(c);
        return rs->NoMatch() ? -1L : long(rs->Fields("Id").AsLong());
    };
    EXPECT_EQ(find("Home Town", dao::dbText, "oslo", false), 1);
    EXPECT_EQ(find("Home Town", dao::dbText, "OSLO", true), 2);
    EXPECT_EQ(find("Home Town", dao::dbText, "oslo", true), -1);
    EXPECT_EQ(find("Home Town", dao::dbText, "x' OR '1'='1", false), 3);
    EXPECT_EQ(find("Home Town", dao::dbText, "' OR '1'='1", false), -1);
    EXPECT_EQ(find("When", dao::dbDate, "3/10/2024 10:30:00", false), 1);
    EXPECT_EQ(find("When", dao::dbDate, "2024-03-12", true), 3);
    EXPECT_EQ(find("Size", dao::dbDouble, "1000", true), 3);
    EXPECT_EQ(find("Size", dao::dbDouble, "12.5", false), 1);
    // Rows found again by their key.
    rs->FindFirst(MBrowseSql::KeyCriterion("Home Town", dao::dbText, com::Variant::Str("x' OR '1'='1")));
    EXPECT_EQ(rs->Fields("Id").AsLong(), 3);
    DATE d = 0;
    VariantTimeFromParts(2024, 3, 11, 0, 0, 0, &d);
    rs->FindFirst(MBrowseSql::KeyCriterion("When", dao::dbDate, com::Variant::Date(d)));
    EXPECT_EQ(rs->Fields("Id").AsLong(), 2);
    rs->FindFirst(MBrowseSql::KeyCriterion("Flag", dao::dbBoolean, com::Variant::Bool(true)));
    EXPECT_EQ(rs->Fields("Id").AsLong(), 1);
    rs.reset();
    db->Close();
    std::filesystem::remove_all(dir);
}
