// Record sets: movement, counts, bookmarks, editing, finding, seeking, GetRows.
#include <chrono>
#include <cmath>

#include <sqlite3.h>

#include "fixture.h"

using namespace daotest;
using dao::RecordsetType;

namespace {

class DaoRs : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<dao::Database> db;

    // Keys inserted out of order so that key order differs from stored order.
    void SetUp() override {
        db = dao::DBEngine::CreateDatabase(dir.File("rs.txp"), dao::dbLangGeneral);
        db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, Name TEXT(20), V DOUBLE, Mark SHORT)");
        int keys[] = {50, 10, 40, 20, 30};
        const char* names[] = {"e", "A", "d", "b", "C"};
        for (int i = 0; i < 5; ++i)
            db->Execute("INSERT INTO T VALUES (" + std::to_string(keys[i]) + ", '" + names[i] + "', " +
                        std::to_string(keys[i]) + ".5, 0)");
    }
    std::vector<int> Keys(dao::Recordset& rs) {
        std::vector<int> out;
        for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(rs.Fields("K").AsLong());
        return out;
    }
};

TEST_F(DaoRs, TableAndSnapshotPresentRowsInKeyOrder) {
    for (auto type : {RecordsetType::Table, RecordsetType::Snapshot, RecordsetType::Dynaset}) {
        auto rs = db->OpenRecordset("T", type);
        EXPECT_EQ(Keys(*rs), (std::vector<int>{10, 20, 30, 40, 50})) << int(type);
    }
    auto q = db->OpenRecordset("SELECT * FROM T;", RecordsetType::Snapshot);
    EXPECT_EQ(Keys(*q), (std::vector<int>{10, 20, 30, 40, 50}));
    auto o = db->OpenRecordset("SELECT * FROM T ORDER BY Name DESC", RecordsetType::Snapshot);
    EXPECT_EQ(Keys(*o), (std::vector<int>{50, 40, 30, 20, 10}));
}

TEST_F(DaoRs, MovementBofEofAndErrors) {
    auto rs = db->OpenRecordset("T", RecordsetType::Dynaset);
    EXPECT_FALSE(rs->Bof());
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(rs->AbsolutePosition(), 0);
    rs->MovePrevious();
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(ErrorOf([&] { rs->MovePrevious(); }), 3021);
    EXPECT_EQ(ErrorOf([&] { rs->Fields("K").Value(); }), 3021);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("K").AsLong(), 10);
    rs->Move(3);
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    rs->Move(-2);
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
    rs->Move(10);
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), 3021);
    rs->MoveLast();
    EXPECT_EQ(rs->Fields("K").AsLong(), 50);
    EXPECT_EQ(rs->AbsolutePosition(), 4);
    rs->SetAbsolutePosition(2);
    EXPECT_EQ(rs->Fields("K").AsLong(), 30);
    EXPECT_EQ(ErrorOf([&] { rs->Fields("Nope"); }), 3265);
    EXPECT_EQ(ErrorOf([&] { rs->Fields(9); }), 3265);
    EXPECT_EQ(rs->Fields(1).Name(), "Name");
    EXPECT_EQ(rs->Fields().Count(), 4);
    rs->Close();
    EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), 3420);
}

TEST_F(DaoRs, EmptyRecordset) {
    auto rs = db->OpenRecordset("SELECT * FROM T WHERE K > 1000", RecordsetType::Dynaset);
    EXPECT_TRUE(rs->Bof());
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), 3021);
    EXPECT_EQ(ErrorOf([&] { rs->MoveLast(); }), 3021);
    EXPECT_EQ(ErrorOf([&] { rs->Edit(); }), 3021);
    EXPECT_TRUE(rs->GetRows(10).IsEmpty());
    rs->FindFirst("K = 1");
    EXPECT_TRUE(rs->NoMatch());
}

TEST_F(DaoRs, RecordCountAsDaoReportsIt) {
    auto dyn = db->OpenRecordset("SELECT * FROM T", RecordsetType::Dynaset);
    EXPECT_EQ(dyn->RecordCount(), 1);  // only the rows reached so far
    dyn->MoveNext();
    EXPECT_EQ(dyn->RecordCount(), 2);
    dyn->MoveLast();
    EXPECT_EQ(dyn->RecordCount(), 5);
    auto tab = db->OpenRecordset("T", RecordsetType::Table);
    EXPECT_EQ(tab->RecordCount(), 5);  // a table knows its count
    auto fwd = db->OpenRecordset("T", RecordsetType::ForwardOnly);
    EXPECT_EQ(fwd->RecordCount(), 1);
    EXPECT_EQ(db->TableDefs()["T"].RecordCount(), 5);
}

TEST_F(DaoRs, ForwardOnlyOnlyMovesForward) {
    auto rs = db->OpenRecordset("SELECT * FROM T", RecordsetType::ForwardOnly);
    EXPECT_FALSE(rs->Updatable());
    EXPECT_FALSE(rs->Bookmarkable());
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
    EXPECT_EQ(ErrorOf([&] { rs->MovePrevious(); }), 3219);
    EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), 3219);
    EXPECT_EQ(ErrorOf([&] { rs->FindFirst("K = 10"); }), 3251);
    EXPECT_EQ(ErrorOf([&] { rs->Clone(); }), 3251);
    rs->Move(2);
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
}

TEST_F(DaoRs, EditAddNewDeleteAndCancel) {
    auto rs = db->OpenRecordset("T", RecordsetType::Dynaset);
    EXPECT_TRUE(rs->Updatable());
    EXPECT_EQ(ErrorOf([&] { rs->Update(); }), 3020);
    EXPECT_EQ(ErrorOf([&] { rs->Fields("Name").SetValue(S("x")); }), 3020);
    rs->Edit();
    EXPECT_EQ(rs->EditMode(), dao::dbEditInProgress);
    rs->Fields("Name").SetValue(S("changed"));
    EXPECT_EQ(rs->Fields("Name").AsString(), "changed");
    rs->Update();
    EXPECT_EQ(rs->Fields("Name").AsString(), "changed");
    EXPECT_EQ(rs->LastModified(), rs->Bookmark());
    // Moving away without Update drops the edit.
    rs->MoveNext();
    rs->Edit();
    rs->Fields("Name").SetValue(S("lost"));
    rs->MoveFirst();
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("Name").AsString(), "b");
    rs->Edit();
    rs->Fields("Name").SetValue(S("also lost"));
    rs->CancelUpdate();
    EXPECT_EQ(rs->Fields("Name").AsString(), "b");
    // AddNew keeps the current row; the new row comes at the end.
    rs->AddNew();
    EXPECT_TRUE(rs->Fields("Name").IsNull());
    rs->Fields("K").SetValue(L(60));
    rs->Fields("Name").SetValue(S("new"));
    rs->Update();
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
    rs->SetBookmark(rs->LastModified());
    EXPECT_EQ(rs->Fields("Name").AsString(), "new");
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 6);
    // Delete leaves the deleted row current until a move.
    rs->MoveFirst();
    rs->Delete();
    EXPECT_EQ(ErrorOf([&] { rs->Fields("K").Value(); }), 3167);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
    rs->MovePrevious();
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(rs->RecordCount(), 5);
    EXPECT_EQ(db->TableDefs()["T"].RecordCount(), 5);
    // Another cursor sees the changes.
    auto check = db->OpenRecordset("SELECT Name FROM T WHERE K = 10", RecordsetType::Snapshot);
    EXPECT_TRUE(check->Eof());
}

TEST_F(DaoRs, AssignmentsAreCheckedAsFieldsCheckThem) {
    auto rs = db->OpenRecordset("T", RecordsetType::Dynaset);
    rs->Edit();
    EXPECT_EQ(ErrorOf([&] { rs->Fields("Name").SetValue(S(std::string(21, 'x'))); }), 3163);
    EXPECT_EQ(ErrorOf([&] { rs->Fields("Mark").SetValue(L(40000)); }), 3349);
    EXPECT_EQ(ErrorOf([&] { rs->Fields("V").SetValue(S("abc")); }), 3421);
    rs->Fields("Mark").SetValue(S("12"));
    rs->Fields("V").SetValue(com::Variant::Bool(true));
    rs->Update();
    EXPECT_EQ(rs->Fields("Mark").Value().vt, VT_I2);
    EXPECT_EQ(rs->Fields("Mark").AsShort(), 12);
    EXPECT_DOUBLE_EQ(rs->Fields("V").AsDouble(), -1);
    rs->Edit();
    rs->Fields("K").SetValue(L(20));
    EXPECT_EQ(ErrorOf([&] { rs->Update(); }), 3022);
    rs->CancelUpdate();
    // A query with grouping cannot be edited.
    auto g = db->OpenRecordset("SELECT Mark, Count(*) FROM T GROUP BY Mark", RecordsetType::Dynaset);
    EXPECT_FALSE(g->Updatable());
    EXPECT_EQ(ErrorOf([&] { g->Edit(); }), 3027);
    auto snap = db->OpenRecordset("T", RecordsetType::Snapshot);
    EXPECT_EQ(ErrorOf([&] { snap->AddNew(); }), 3027);
}

TEST_F(DaoRs, SingleColumnsHoldEverySingleExactly) {
    db->Execute("CREATE TABLE S (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, F SINGLE)");
    // Singles that need eight or nine digits, and ones that read as short decimals.
    const float values[] = {std::nextafter(1.0f, 2.0f), 54.2545013f, 1.0f / 3.0f, 3.0e38f, 33.3f, 0.1f, -2.5f};
    auto rs = db->OpenRecordset("S", RecordsetType::Dynaset);
    int k = 0;
    for (float f : values) {
        rs->AddNew();
        rs->Fields("K").SetValue(L(++k));
        rs->Fields("F").SetValue(com::Variant::R4(f));
        rs->Update();
    }
    auto back = db->OpenRecordset("SELECT F FROM S ORDER BY K", RecordsetType::Snapshot);
    for (float f : values) {
        ASSERT_FALSE(back->Eof());
        EXPECT_EQ(back->Fields(0).Value().vt, VT_R4);
        EXPECT_EQ(back->Fields(0).Value().fltVal, f);
        back->MoveNext();
    }
    // A short single still compares equal to its decimal literal.
    auto q = db->OpenRecordset("SELECT COUNT(*) FROM S WHERE F = 33.3", RecordsetType::Snapshot);
    EXPECT_EQ(q->Fields(0).AsLong(), 1);
}

TEST_F(DaoRs, FindWithJetCriteria) {
    auto rs = db->OpenRecordset("T", RecordsetType::Dynaset);
    rs->FindFirst("Name = 'c'");
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(rs->Fields("K").AsLong(), 30);
    rs->FindNext("V > 11");
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    rs->FindPrevious("V > 11");
    EXPECT_EQ(rs->Fields("K").AsLong(), 30);
    rs->FindPrevious("V > 15");
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
    rs->FindLast("[Name] Like '[a-c]*'");
    EXPECT_EQ(rs->Fields("K").AsLong(), 30);
    rs->FindNext("Name Like 'zz*'");
    EXPECT_TRUE(rs->NoMatch());
    EXPECT_EQ(rs->Fields("K").AsLong(), 30);  // a failed find keeps the current row
    rs->FindFirst("K=50");
    EXPECT_EQ(rs->Fields("Name").AsString(), "e");
    rs->FindFirst("T.Mark = 0 And K < 30");
    EXPECT_EQ(rs->Fields("K").AsLong(), 10);
    EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Nope = 1"); }), 3070);
    EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Name = 'unterminated"); }), 3077);
    EXPECT_EQ(ErrorOf([&] { rs->FindFirst(""); }), 3077);
    // A property name holding a quote breaks the criterion, as it would in Jet.
    EXPECT_EQ(ErrorOf([&] { rs->FindFirst("Name = 'O'Brien'"); }), 3077);
    rs->FindFirst("Name = 'O''Brien'");
    EXPECT_TRUE(rs->NoMatch());
    // On a grouped (stored) result too.
    auto g = db->OpenRecordset("SELECT Mark, Count(*) AS N FROM T GROUP BY Mark", RecordsetType::Snapshot);
    g->FindFirst("N = 5");
    EXPECT_FALSE(g->NoMatch());
    g->FindFirst("N = 4");
    EXPECT_TRUE(g->NoMatch());
}

TEST_F(DaoRs, FindNextWrapsOverJoinAndBookmarksReturn) {
    db->Execute("CREATE TABLE U (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, Flag SHORT)");
    for (int k : {10, 20, 30, 40, 50})
        db->Execute("INSERT INTO U VALUES (" + std::to_string(k) + ", " + (k == 20 || k == 40 ? "1" : "0") + ")");
    auto rs = db->OpenRecordset("SELECT U.Flag, T.K, T.Name FROM T INNER JOIN U ON T.K = U.K ORDER BY T.K",
                                RecordsetType::Dynaset);
    rs->MoveLast();
    int64_t mark = rs->Bookmark();
    rs->FindNext("[Flag] = 1");
    EXPECT_TRUE(rs->NoMatch());
    rs->FindFirst("[Flag] = 1");
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
    rs->FindNext("[Flag] = 1");
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    rs->SetBookmark(mark);
    EXPECT_EQ(rs->Fields("K").AsLong(), 50);
    // Editing a joined column writes its own table.
    rs->Edit();
    rs->Fields("Flag").SetValue(L(7));
    rs->Update();
    auto u = db->OpenRecordset("SELECT Flag FROM U WHERE K = 50", RecordsetType::Snapshot);
    EXPECT_EQ(u->Fields(0).AsLong(), 7);
}

TEST_F(DaoRs, CloneWalksIndependently) {
    auto rs = db->OpenRecordset("T", RecordsetType::Dynaset);
    rs->MoveNext();
    auto c = rs->Clone();
    EXPECT_EQ(ErrorOf([&] { c->Fields("K").Value(); }), 3021);
    int marked = 0;
    for (c->MoveFirst(); !c->Eof(); c->MoveNext()) {
        c->Edit();
        c->Fields("Mark").SetValue(L(-1));
        c->Update();
        ++marked;
    }
    EXPECT_EQ(marked, 5);
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);  // the original did not move
    EXPECT_EQ(rs->Fields("Mark").AsLong(), -1);  // and sees the clone's edits
    c->SetBookmark(rs->Bookmark());
    EXPECT_EQ(c->Fields("K").AsLong(), 20);
    c->Close();
    EXPECT_EQ(rs->Fields("K").AsLong(), 20);
}

TEST_F(DaoRs, SeekOnTableIndexes) {
    db->Execute("CREATE INDEX ByName ON T (Name)");
    auto rs = db->OpenRecordset("T", RecordsetType::Table);
    EXPECT_EQ(rs->Index(), "PrimaryKey");
    rs->Seek("=", L(40));
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(rs->Fields("Name").AsString(), "d");
    rs->Seek(">=", L(35));
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    rs->Seek("<", L(35));
    EXPECT_EQ(rs->Fields("K").AsLong(), 30);
    rs->Seek("=", L(35));
    EXPECT_TRUE(rs->NoMatch());
    rs->SetIndex("ByName");
    EXPECT_EQ(Keys(*rs), (std::vector<int>{10, 20, 30, 40, 50}));
    rs->Seek("=", S("D"));
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    rs->Seek(">", S("c"));
    EXPECT_EQ(rs->Fields("K").AsLong(), 40);
    EXPECT_EQ(ErrorOf([&] { rs->SetIndex("Nope"); }), 3800);
    auto dyn = db->OpenRecordset("T", RecordsetType::Dynaset);
    EXPECT_EQ(ErrorOf([&] { dyn->Seek("=", L(1)); }), 3251);
}

TEST_F(DaoRs, GetRowsBatchesFieldIndexFirst) {
    auto rs = db->OpenRecordset("SELECT K, Name, V FROM T", RecordsetType::Snapshot);
    rs->Move(1);
    com::Variant batch = rs->GetRows(3);
    ASSERT_EQ(batch.vt, VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(SafeArrayGetDim(batch.parray), 2u);
    LONG ub1 = 0, ub2 = 0;
    SafeArrayGetUBound(batch.parray, 1, &ub1);
    SafeArrayGetUBound(batch.parray, 2, &ub2);
    EXPECT_EQ(ub1, 2);  // three fields
    EXPECT_EQ(ub2, 2);  // three rows
    LONG idx[2] = {0, 1};
    VARIANT v;
    VariantInit(&v);
    SafeArrayGetElement(batch.parray, idx, &v);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 30);
    VariantClear(&v);
    idx[0] = 1;
    SafeArrayGetElement(batch.parray, idx, &v);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), u"C");
    VariantClear(&v);
    // The row after the batch is current; the last batch is short.
    EXPECT_EQ(rs->Fields("K").AsLong(), 50);
    com::Variant rest = rs->GetRows(100);
    SafeArrayGetUBound(rest.parray, 2, &ub2);
    EXPECT_EQ(ub2, 0);
    EXPECT_TRUE(rs->Eof());
    EXPECT_TRUE(rs->GetRows(100).IsEmpty());
}

TEST_F(DaoRs, RequerySeesNewRowsAndDynasetSeesChanges) {
    auto rs = db->OpenRecordset("SELECT * FROM T WHERE Mark = 0", RecordsetType::Dynaset);
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 5);
    db->Execute("UPDATE T SET Name = 'zz', Mark = 1 WHERE K = 50");
    db->Execute("INSERT INTO T VALUES (70, 'g', 1, 0)");
    // The dynaset still holds row 50 and shows its new values.
    EXPECT_EQ(rs->Fields("Name").AsString(), "zz");
    EXPECT_EQ(rs->RecordCount(), 5);
    rs->Requery();
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 5);
    EXPECT_EQ(rs->Fields("K").AsLong(), 70);
}

TEST_F(DaoRs, WalkDataAndWriteResultsSideBySide) {
    // Results are written row by row into a second table while the data is
    // read in step with it; a missing result row is found by key.
    db->Execute("SELECT [K] As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO Test FROM T;");
    db->Execute("CREATE INDEX PrimaryKey ON Test(MainPrimaryKey)WITH PRIMARY;");
    db->Execute("DELETE * FROM Test WHERE MainPrimaryKey = 20");
    db->Execute("INSERT INTO Test VALUES (20, -1, -1, 0)");  // now stored last
    auto data = db->OpenRecordset("SELECT * FROM T ORDER BY V DESC", RecordsetType::Snapshot);
    auto test = db->OpenRecordset("Test", RecordsetType::Dynaset);
    int finds = 0;
    test->MoveLast();
    test->MoveFirst();
    data->Move(1);
    test->Move(1);
    int written = 0;
    while (!data->Eof() && !test->Eof()) {
        if (test->Fields("MainPrimaryKey").AsLong() != data->Fields("K").AsLong())
            test->FindFirst("MainPrimaryKey=" + std::to_string(data->Fields("K").AsLong())), ++finds;
        ASSERT_FALSE(test->NoMatch());
        test->Edit();
        test->Fields("Predicted").SetValue(L(data->Fields("K").AsLong() / 10));
        test->Fields("Actual").SetValue(com::Variant::I2(1));
        test->Update();
        ++written;
        data->MoveNext();
        test->MoveNext();
    }
    EXPECT_EQ(written, 4);
    EXPECT_EQ(finds, 4);
    auto check = db->OpenRecordset("SELECT Sum(Predicted) FROM Test WHERE Actual = 1", RecordsetType::Snapshot);
    EXPECT_EQ(check->Fields(0).AsLong(), 1 + 2 + 3 + 4);
}

TEST_F(DaoRs, LargeKeyLookupsStayFast) {
    // FindFirst on the key and Seek use the index: thousands of lookups over
    // a 20 000-row table finish quickly, where a scan per lookup would not.
    db->Execute("CREATE TABLE Big (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V LONG)");
    auto ins = db->OpenRecordset("Big", RecordsetType::Dynaset);
    db->BeginTrans();
    for (int i = 0; i < 20000; ++i) {
        ins->AddNew();
        ins->Fields(0).SetValue(L(i * 3));
        ins->Fields(1).SetValue(L(i));
        ins->Update();
    }
    db->CommitTrans();
    auto rs = db->OpenRecordset("Big", RecordsetType::Dynaset);
    rs->MoveLast();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; i += 7) {
        rs->FindFirst("K=" + std::to_string(i * 3));
        ASSERT_FALSE(rs->NoMatch());
        ASSERT_EQ(rs->Fields(1).AsLong(), i);
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(secs, 5.0);
}

}  // namespace

// A sort too large for memory runs on several threads; rows equal on the sort
// key must still come in one order, the same for keys and for whole rows.
TEST(DaoRsSort, TiesOfALargeSortKeepTheirStoredOrder) {
    TempDir dir;
    const std::string file = dir.File("sort.txp");
    dao::DBEngine::CreateDatabase(file, dao::dbLangGeneral)->Execute("CREATE TABLE S (K COUNTER PRIMARY KEY, G LONG)");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                           "INSERT INTO S SELECT i, (i * 7919) % 7 FROM n; COMMIT;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    auto db = dao::DBEngine::OpenDatabase(file, false, true);
    for (auto type : {RecordsetType::Dynaset, RecordsetType::Snapshot}) {
        auto rs = db->OpenRecordset("SELECT K, G FROM S ORDER BY G DESC", type);
        long rows = 0, lastG = 1 << 30, lastK = 0, unordered = 0;
        for (; !rs->Eof(); rs->MoveNext(), ++rows) {
            const long g = rs->Fields(1).AsLong(), k = rs->Fields(0).AsLong();
            if (g > lastG || (g == lastG && k <= lastK)) ++unordered;
            lastG = g;
            lastK = k;
        }
        EXPECT_EQ(rows, 300000) << int(type);
        EXPECT_EQ(unordered, 0) << int(type);
    }
}

// The keys of an unsorted join read on a second connection in one pass and
// taken over by a record set of the same statement: the rows and their order
// stay those of the record set's own walk.
class DaoSharedKeys : public ::testing::Test {
protected:
    TempDir dir;
    std::string file;
    std::shared_ptr<dao::Database> db;
    static constexpr int kRows = 300;
    const std::string join = "SELECT L.Id, L.V, M.Mark FROM L INNER JOIN M ON L.Id = M.K";

    // Stored order, key order and the other table's order all differ, so that
    // a join read in another way would give another order.
    void SetUp() override {
        file = dir.File("keys.txp");
        db = dao::DBEngine::CreateDatabase(file, dao::dbLangGeneral);
        db->Execute("CREATE TABLE L (Id LONG, V DOUBLE)");
        db->Execute("CREATE UNIQUE INDEX IdIndex ON L (Id)");
        db->Execute("CREATE TABLE M (K LONG, Mark SHORT)");
        db->Execute("CREATE INDEX KIndex ON M (K)");
        db->BeginTrans();
        for (int i = 0; i < kRows; ++i) {
            const int id = (i * 113) % kRows + 1, k = (i * 71) % kRows + 1;
            db->Execute("INSERT INTO L VALUES (" + std::to_string(id) + ", " + std::to_string(i) + ".5)");
            db->Execute("INSERT INTO M VALUES (" + std::to_string(k) + ", " + (k % 3 ? "0" : "-1") + ")");
        }
        db->CommitTrans();
    }

    // The ids in the order of a record set's own walk.
    static std::vector<int> Walk(dao::Recordset& rs) {
        std::vector<int> ids;
        for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) ids.push_back(rs.Fields("Id").AsLong());
        return ids;
    }

    std::shared_ptr<dao::Recordset> ReadElsewhere(const std::shared_ptr<dao::Database>& other, const std::string& sql) {
        auto rs = other->OpenRecordset(sql, RecordsetType::Dynaset, dao::dbReadOnly);
        EXPECT_TRUE(rs->ReadAllKeys());
        return rs;
    }
};

TEST_F(DaoSharedKeys, TakenKeysKeepTheRowsAndTheirOrder) {
    auto other = dao::DBEngine::OpenDatabase(file, false, true);
    for (const std::string& sql : {join, join + " WHERE M.Mark <> 0", join + " WHERE L.Id > 100 AND M.Mark = 0"}) {
        const std::vector<int> expected = Walk(*db->OpenRecordset(sql, RecordsetType::Dynaset));
        ASSERT_GT(expected.size(), 50u) << sql;
        auto rs = db->OpenRecordset(sql, RecordsetType::Dynaset);
        ASSERT_TRUE(rs->KeysShareable());
        rs->Move(3);  // some keys read here already
        auto keys = ReadElsewhere(other, sql);
        EXPECT_EQ(keys->RecordCount(), long(expected.size())) << sql;
        ASSERT_TRUE(rs->TakeKeys(*keys)) << sql;
        EXPECT_EQ(ErrorOf([&] { keys->MoveFirst(); }), 3420);
        EXPECT_EQ(rs->Fields("Id").AsLong(), expected[3]);  // the current row stays
        EXPECT_EQ(rs->RecordCount(), long(expected.size()));
        // The last rows first, then the whole walk.
        rs->SetAbsolutePosition(long(expected.size()) - 1);
        EXPECT_EQ(rs->Fields("Id").AsLong(), expected.back()) << sql;
        rs->MovePrevious();
        EXPECT_EQ(rs->Fields("Id").AsLong(), expected[expected.size() - 2]) << sql;
        EXPECT_EQ(Walk(*rs), expected) << sql;
        // Finds land on the taken keys, first and last alike.
        rs->FindFirst("Id = " + std::to_string(expected.back()));
        ASSERT_FALSE(rs->NoMatch()) << sql;
        EXPECT_EQ(rs->AbsolutePosition(), long(expected.size()) - 1) << sql;
        rs->FindPrevious("Id = " + std::to_string(expected.front()));
        EXPECT_EQ(rs->AbsolutePosition(), 0) << sql;
        // Bookmarks and edits work on the taken keys.
        rs->MoveLast();
        const int64_t last = rs->Bookmark();
        rs->Edit();
        rs->Fields("Mark").SetValue(com::Variant::I2(7));
        rs->Update();
        rs->MoveFirst();
        rs->SetBookmark(last);
        EXPECT_EQ(rs->Fields("Mark").AsLong(), 7);
    }
}

// A sorted dynaset opened for its first rows: they come from a LIMIT query,
// the rest from the whole sort, or from keys a second connection sorted; the
// rows and their order are those of the plain sort, ties included.
TEST_F(DaoSharedKeys, SortedFirstRowsThenTheWholeSortKeepOneOrder) {
    auto other = dao::DBEngine::OpenDatabase(file, false, true);
    for (const std::string& sql : {join + " ORDER BY L.V DESC", join + " ORDER BY M.Mark, L.V",
                                   join + " WHERE L.Id > 20 ORDER BY M.Mark"}) {
        const std::vector<int> expected = Walk(*db->OpenRecordset(sql, RecordsetType::Dynaset));
        ASSERT_GT(expected.size(), 200u) << sql;
        auto open = [&] { return db->OpenRecordset(sql, RecordsetType::Dynaset, dao::dbFirstRowsFast); };
        auto rs = open();
        rs->Move(127);
        EXPECT_EQ(rs->RecordCount(), 128) << sql;  // the first rows only
        EXPECT_EQ(rs->Fields("Id").AsLong(), expected[127]) << sql;
        EXPECT_EQ(Walk(*rs), expected) << sql;
        // Straight to the last row, and a find past the first rows.
        rs = open();
        rs->SetAbsolutePosition(long(expected.size()) - 1);
        EXPECT_EQ(rs->Fields("Id").AsLong(), expected.back()) << sql;
        rs = open();
        rs->FindFirst("Id = " + std::to_string(expected[150]));
        EXPECT_EQ(rs->AbsolutePosition(), 150) << sql;
        // Keys sorted on another connection are taken.
        rs = open();
        ASSERT_TRUE(rs->KeysShareable());
        auto keys = ReadElsewhere(other, sql);
        ASSERT_TRUE(rs->TakeKeys(*keys)) << sql;
        EXPECT_EQ(rs->RecordCount(), long(expected.size()));
        EXPECT_EQ(Walk(*rs), expected) << sql;
        // A requery reads its first rows the same way.
        rs->Requery();
        rs->Move(5);
        EXPECT_EQ(rs->RecordCount(), 128) << sql;
        EXPECT_EQ(Walk(*rs), expected) << sql;
    }
    // Fewer rows than a head: the LIMIT query read them all.
    auto few = db->OpenRecordset(join + " WHERE L.Id <= 10 ORDER BY L.V", RecordsetType::Dynaset, dao::dbFirstRowsFast);
    few->MoveLast();
    EXPECT_EQ(few->RecordCount(), 10);
    EXPECT_EQ(Walk(*few), Walk(*db->OpenRecordset(join + " WHERE L.Id <= 10 ORDER BY L.V", RecordsetType::Dynaset)));
}

TEST_F(DaoSharedKeys, TakenOnlyFromTheSameStatementReadThrough) {
    auto other = dao::DBEngine::OpenDatabase(file, false, true);
    const std::vector<int> expected = Walk(*db->OpenRecordset(join, RecordsetType::Dynaset));
    // A snapshot does not share its keys.
    {
        auto snapshot = db->OpenRecordset(join, RecordsetType::Snapshot);
        EXPECT_FALSE(snapshot->KeysShareable());
        EXPECT_FALSE(snapshot->ReadAllKeys());
    }
    auto rs = db->OpenRecordset(join, RecordsetType::Dynaset);
    // Another statement, or keys not read through.
    EXPECT_FALSE(rs->TakeKeys(*ReadElsewhere(other, join + " WHERE M.Mark = 0")));
    EXPECT_FALSE(rs->TakeKeys(*other->OpenRecordset(join, RecordsetType::Dynaset, dao::dbReadOnly)));
    // A write on this connection since the record set was opened: the keys
    // are taken all the same.
    rs->Edit();
    rs->Fields("Mark").SetValue(com::Variant::I2(1));
    rs->Update();
    EXPECT_TRUE(rs->TakeKeys(*ReadElsewhere(other, join)));
    EXPECT_EQ(rs->RecordCount(), long(expected.size()));
    EXPECT_EQ(Walk(*rs), expected);
    rs->Close();
    // The first row read here was deleted by another writer before the keys
    // were read there: it keeps its place, and every other row follows once.
    auto fresh = db->OpenRecordset(join, RecordsetType::Dynaset);
    dao::DBEngine::OpenDatabase(file)->Execute("DELETE FROM M WHERE K = " + std::to_string(expected[0]));
    EXPECT_TRUE(fresh->TakeKeys(*ReadElsewhere(other, join)));
    EXPECT_EQ(fresh->RecordCount(), long(expected.size()));
    std::vector<int> rest;
    for (fresh->SetAbsolutePosition(1); !fresh->Eof(); fresh->MoveNext()) rest.push_back(fresh->Fields("Id").AsLong());
    EXPECT_EQ(rest, std::vector<int>(expected.begin() + 1, expected.end()));
    fresh->MoveFirst();
    EXPECT_EQ(ErrorOf([&] { fresh->Fields("Id").Value(); }), 3167);
    // After a requery the row is gone.
    fresh->Requery();
    EXPECT_TRUE(fresh->TakeKeys(*ReadElsewhere(other, join)));
    EXPECT_EQ(fresh->RecordCount(), long(expected.size()) - 1);
}

// A large join read in runs on several connections: joined, the runs keep
// the order of the record set's own walk; a join that meets a row twice is
// read in one pass instead.
TEST(DaoSharedKeysLarge, RunsOnSeveralConnectionsKeepTheWalkOrder) {
    TempDir dir;
    const std::string file = dir.File("large.txp");
    {
        auto db = dao::DBEngine::CreateDatabase(file, dao::dbLangGeneral);
        db->Execute("CREATE TABLE L (Id LONG, V LONG)");
        db->Execute("CREATE TABLE M (K LONG, Mark SHORT)");
        db->Execute("CREATE INDEX KIndex ON M (K)");
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "BEGIN; WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 109999) "
                           "INSERT INTO L SELECT (i * 7919) % 110000 + 1, i FROM n; "
                           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 109999) "
                           "INSERT INTO M SELECT (i * 104729) % 110000 + 1, 0 FROM n; "
                           "INSERT INTO M SELECT K, 1 FROM M WHERE K % 20000 = 7; COMMIT;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    auto db = dao::DBEngine::OpenDatabase(file);
    auto other = dao::DBEngine::OpenDatabase(file, false, true);
    std::vector<std::shared_ptr<dao::Database>> helpers;
    for (int i = 0; i < 3; ++i) helpers.push_back(dao::DBEngine::OpenDatabase(file, false, true));
    const std::string join = "SELECT L.Id, M.Mark FROM L INNER JOIN M ON L.Id = M.K";
    for (const std::string& sql : {join + " WHERE M.Mark = 0", join}) {
        std::vector<std::pair<int, int>> expected, got;
        auto walk = db->OpenRecordset(sql, RecordsetType::Dynaset);
        for (; !walk->Eof(); walk->MoveNext()) expected.emplace_back(walk->Fields(0).AsLong(), walk->Fields(1).AsLong());
        walk->Close();
        auto rs = db->OpenRecordset(sql, RecordsetType::Dynaset);
        auto keys = other->OpenRecordset(sql, RecordsetType::Dynaset, dao::dbReadOnly);
        ASSERT_TRUE(keys->ReadAllKeys(helpers)) << sql;
        ASSERT_TRUE(rs->TakeKeys(*keys)) << sql;
        ASSERT_EQ(rs->RecordCount(), long(expected.size())) << sql;
        for (; !rs->Eof(); rs->MoveNext()) got.emplace_back(rs->Fields(0).AsLong(), rs->Fields(1).AsLong());
        EXPECT_EQ(got, expected) << sql;
    }
}
