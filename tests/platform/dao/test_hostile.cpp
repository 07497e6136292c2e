// Hostile names, files and statements: the layer refuses them cleanly or
// handles them right, and never hangs or crashes.
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>

#include "InChild.h"
#include "fixture.h"

using namespace daotest;
using dao::RecordsetType;

namespace {

using testsupport::InChild;

std::vector<std::string> Column(dao::Recordset& rs, const char* name) {
    std::vector<std::string> out;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(rs.Fields(name).AsString());
    return out;
}

}  // namespace

TEST(DaoHostile, ColumnsNamedLikeTheRowKeyDoNotRedirectEdits) {
    TempDir dir;
    auto db = dao::DBEngine::CreateDatabase(dir.File("r.txp"), dao::dbLangGeneral);
    // Every alias of the hidden key taken by a user's column, all holding the same value.
    db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, [rowid] LONG, [OID] LONG, V TEXT(10))");
    db->Execute("CREATE TABLE U (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, [RowID] LONG, W TEXT(10))");
    for (int k = 1; k <= 4; ++k) {
        db->Execute("INSERT INTO T VALUES (" + std::to_string(k * 10) + ", 1, 1, 'v" + std::to_string(k) + "')");
        db->Execute("INSERT INTO U VALUES (" + std::to_string(k * 10) + ", 1, 'w')");
    }
    for (auto type : {RecordsetType::Dynaset, RecordsetType::Table}) {
        auto rs = db->OpenRecordset("T", type);
        rs->MoveLast();
        EXPECT_EQ(rs->RecordCount(), 4);
        rs->MoveFirst();
        rs->MoveNext();
        rs->Edit();
        rs->Fields("V").SetValue(S(type == RecordsetType::Table ? "table" : "dyn"));
        rs->Update();
    }
    auto check = db->OpenRecordset("SELECT V FROM T ORDER BY K", RecordsetType::Snapshot);
    EXPECT_EQ(Column(*check, "V"), (std::vector<std::string>{"v1", "table", "v3", "v4"}));

    // Delete through a record set, and a find that lands on the right row.
    auto rs = db->OpenRecordset("SELECT * FROM T ORDER BY K", RecordsetType::Dynaset);
    rs->FindFirst("K = 30");
    ASSERT_FALSE(rs->NoMatch());
    EXPECT_EQ(rs->Fields("V").AsString(), "v3");
    rs->Delete();
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 3);
    auto tbl = db->OpenRecordset("T", RecordsetType::Table);
    tbl->SetIndex("PrimaryKey");
    tbl->Seek("=", {L(40)});
    ASSERT_FALSE(tbl->NoMatch());
    EXPECT_EQ(tbl->Fields("V").AsString(), "v4");

    // Joined statements address the first table's rows by its own key.
    db->Execute("UPDATE T INNER JOIN U ON T.K = U.K SET T.V = 'joined' WHERE U.K = 20;");
    check = db->OpenRecordset("SELECT V FROM T ORDER BY K", RecordsetType::Snapshot);
    EXPECT_EQ(Column(*check, "V"), (std::vector<std::string>{"v1", "joined", "v4"}));
    db->Execute("DELETE T.* FROM T INNER JOIN U ON T.K = U.K WHERE U.K = 40;");
    check = db->OpenRecordset("SELECT V FROM T ORDER BY K", RecordsetType::Snapshot);
    EXPECT_EQ(Column(*check, "V"), (std::vector<std::string>{"v1", "joined"}));
}

// A file's own triggers never run, whatever writes the table they sit on; the layer's
// counters that are not the row key still number new rows, in the order they come.
TEST(DaoHostile, StoredTriggersNeverRun) {
    TempDir dir;
    const std::string file = dir.File("t.txp");
    {
        auto db = dao::DBEngine::CreateDatabase(file, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Config (Name TEXT(50), [Value] TEXT(50))");
        db->Execute("CREATE TABLE Test (X LONG)");
        db->Execute("CREATE TABLE N (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, Seq COUNTER, V TEXT(5))");
        for (int x : {1, 2, 3}) db->Execute("INSERT INTO Test VALUES (" + std::to_string(x) + ")");
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    for (const char* when : {"AFTER INSERT ON Config", "BEFORE UPDATE ON Config", "AFTER INSERT ON N"})
        ASSERT_EQ(sqlite3_exec(raw,
                               ("CREATE TRIGGER [" + std::string(when) + "] " + when + " BEGIN DELETE FROM Test; END")
                                   .c_str(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    // Nor may its schema call the layer's own functions.
    sqlite3_create_function(raw, "jet_abs", 1, SQLITE_UTF8, nullptr,
                            [](sqlite3_context* c, int, sqlite3_value** v) { sqlite3_result_value(c, v[0]); }, nullptr,
                            nullptr);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE Guard (A INTEGER, B INTEGER DEFAULT (jet_abs(5)))", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);

    auto db = dao::DBEngine::OpenDatabase(file);
    EXPECT_NE(ErrorOf([&] { db->Execute("INSERT INTO Guard (A) VALUES (1)"); }), 0);
    db->Execute("INSERT INTO Config VALUES ('a', 'b')");
    db->Execute("UPDATE Config SET [Value] = 'c'");
    auto config = db->OpenRecordset("Config", RecordsetType::Dynaset);
    config->AddNew();
    config->Fields("Name").SetValue(S("d"));
    config->Update();
    db->Execute("INSERT INTO N (Id, V) VALUES (50, 'a')");
    db->Execute("INSERT INTO N (Id, V) SELECT 40 - X, 'b' FROM Test ORDER BY X;");
    EXPECT_EQ(db->RecordsAffected(), 3);
    auto n = db->OpenRecordset("N", RecordsetType::Dynaset);
    n->AddNew();
    n->Fields("Id").SetValue(L(10));
    n->Update();
    auto test = db->OpenRecordset("Test", RecordsetType::Dynaset);
    EXPECT_EQ(Column(*test, "X"), (std::vector<std::string>{"1", "2", "3"}));
    auto seq = db->OpenRecordset("SELECT Id, Seq FROM N ORDER BY Seq", RecordsetType::Snapshot);
    EXPECT_EQ(Column(*seq, "Id"), (std::vector<std::string>{"50", "39", "38", "37", "10"}));
    EXPECT_EQ(Column(*seq, "Seq"), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
}

// What a table computes as rows are written is named; the tables the layer
// itself makes, in every way it makes them, compute nothing.
TEST(DaoHostile, WhatATableComputesOnWritesIsNamed) {
    TempDir dir;
    const std::string file = dir.File("c.txp");
    {
        auto db = dao::DBEngine::CreateDatabase(file, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Made (Id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Seq COUNTER, T TEXT(20) NOT NULL)");
        db->Execute("SELECT Seq, CStr(T) AS V, CInt(-1) AS P INTO Copied FROM Made");
        db->Execute("ALTER TABLE Copied ADD COLUMN N AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY");
        db->Execute("CREATE INDEX ByV ON Copied (V DESC, P)");
    }
    const std::pair<std::string, const char*> cases[] = {
        {"Plain (A TEXT DEFAULT 'x''y', B DEFAULT (-1.5E+3), C DEFAULT 0x1F, D DEFAULT NULL, E DEFAULT x'00', "
         "F DEFAULT ((7)), G DEFAULT true, H DEFAULT CURRENT_DATE)", ""},
        {"Fn (A BLOB DEFAULT (zeroblob(200000000)))", "the default of column A"},
        {"Sum (A DEFAULT (1 + 1))", "the default of column A"},
        {"Big (A DEFAULT '" + std::string(256, 'x') + "')", "the default of column A"},
        {"Gen (A LONG, B GENERATED ALWAYS AS (A * 2) VIRTUAL)", "the generated column B"},
        {"Expr (A LONG); CREATE INDEX E ON Expr (A + 1)", "the index E on an expression"},
        {"Part (A LONG); CREATE INDEX P ON Part (A) WHERE A > 0", "the partial index P"},
    };
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    for (const auto& [sql, computed] : cases)
        ASSERT_EQ(sqlite3_exec(raw, ("CREATE TABLE " + sql).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    auto db = dao::DBEngine::OpenDatabase(file, false, true);
    for (const char* made : {"Made", "Copied"}) EXPECT_EQ(db->TableDefs()[made].ComputedPart(), "") << made;
    for (const auto& [sql, computed] : cases)
        EXPECT_EQ(db->TableDefs()[sql.substr(0, sql.find(' '))].ComputedPart(), computed) << sql;
}

TEST(DaoHostile, NamesTheLayerKeepsAreRefusedForNewTables) {
    TempDir dir;
    const std::string path = dir.File("n.txp");
    {
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Data (K LONG CONSTRAINT PrimaryKey PRIMARY KEY)");
        for (const char* name : {"MSysLinks", "msysObjects", "sqlite_stat9"}) {
            EXPECT_EQ(ErrorOf([&] { db->Execute(std::string("CREATE TABLE [") + name + "] (A LONG)"); }), 3125) << name;
            EXPECT_EQ(ErrorOf([&] { db->Execute(std::string("SELECT K INTO [") + name + "] FROM Data"); }), 3125)
                << name;
            dao::TableDef td = db->CreateTableDef(name);
            td.Fields().Append(dao::Field("A", dao::dbLong));
            EXPECT_EQ(ErrorOf([&] { db->TableDefs().Append(td); }), 3125) << name;
            EXPECT_EQ(ErrorOf([&] { db->TableDefs()["Data"].SetName(name); }), 3125) << name;
        }
    }
    // The file still opens.
    EXPECT_EQ(ErrorOf([&] { dao::DBEngine::OpenDatabase(path, false, false); }), 0);
}

TEST(DaoHostile, AFifoIsRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.txp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (bool readOnly : {false, true}) {
        const int rc = InChild([&] {
            try {
                dao::DBEngine::OpenDatabase(fifo, false, readOnly);
            } catch (const dao::DaoError& e) {
                return e.Number() == 3343 ? 0 : 1;
            }
            return 2;
        });
        EXPECT_EQ(rc, 0) << "read-only " << readOnly;
    }
    // A project whose linked table's source became a FIFO opens; the link reports it.
    const std::string project = dir.File("p.txp");
    const std::string source = dir.File("src.db");
    {
        auto src = dao::DBEngine::CreateDatabase(source, dao::dbLangGeneral);
        src->Execute("CREATE TABLE Data (K LONG CONSTRAINT PrimaryKey PRIMARY KEY)");
        auto db = dao::DBEngine::CreateDatabase(project, dao::dbLangGeneral);
        dao::TableDef link = db->CreateTableDef("LinkDataSource", 0, "Data", ";DATABASE=" + source);
        db->TableDefs().Append(link);
    }
    ASSERT_EQ(::unlink(source.c_str()), 0);
    ASSERT_EQ(::mkfifo(source.c_str(), 0600), 0);
    const int rc = InChild([&] {
        auto db = dao::DBEngine::OpenDatabase(project, false, false);
        try {
            db->OpenRecordset("LinkDataSource", RecordsetType::Snapshot);
        } catch (const dao::DaoError& e) {
            return e.Number() == 3343 ? 0 : 1;
        }
        return 2;
    });
    EXPECT_EQ(rc, 0);
}

namespace {

// Some shapes of nesting: each wraps the condition c (or value v) once more.
struct Shape {
    const char* name;
    std::string (*wrap)(const std::string& inner);
    bool value;  // wraps a value, not a condition
    int runs = 10;  // levels that must run
};

const Shape kShapes[] = {
    {"parentheses", [](const std::string& c) { return "(" + c + ")"; }, false},
    {"Not", [](const std::string& c) { return "Not (" + c + ")"; }, false},
    {"And/Or", [](const std::string& c) { return "(K > 0 Or (" + c + ")) And K < 100"; }, false},
    {"compare as value", [](const std::string& c) { return "(" + c + ") = True"; }, false},
    {"IIf", [](const std::string& c) { return "IIf(" + c + ", True, False)"; }, false},
    {"minus", [](const std::string& v) { return "-(" + v + ")"; }, true},
    {"functions", [](const std::string& v) { return "Abs(" + v + ")"; }, true},
    {"arithmetic", [](const std::string& v) { return "(1 + " + v + " * 1)"; }, true},
    {"concatenation", [](const std::string& v) { return "(" + v + " & '')"; }, true},
    {"division", [](const std::string& v) { return "(" + v + " / 1)"; }, true},
    {"Xor", [](const std::string& c) { return "(" + c + ") Xor False"; }, false, 7},
    {"Eqv as value", [](const std::string& v) { return "((" + v + " Eqv -1) + K)"; }, true, 7},
    {"subquery", [](const std::string& c) { return "K In (SELECT K FROM T WHERE " + c + ")"; }, false, 4},
};

std::string Nest(const Shape& s, int levels) {
    std::string e = s.value ? "K" : "K = 10";
    for (int i = 0; i < levels; ++i) e = s.wrap(e);
    return s.value ? "(" + e + ") = 10 Or (" + e + ") = -10" : e;
}

}  // namespace

TEST(DaoHostile, DeepNestingIsRefusedWithItsOwnErrorAndNeverCrashes) {
    TempDir dir;
    auto db = dao::DBEngine::CreateDatabase(dir.File("deep.txp"), dao::dbLangGeneral);
    db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, V TEXT(10))");
    for (int k = 10; k <= 30; k += 10) db->Execute("INSERT INTO T VALUES (" + std::to_string(k) + ", 'v')");
    auto count = [&](const std::string& where) {
        return db->OpenRecordset("SELECT * FROM T WHERE " + where, RecordsetType::Snapshot)->RecordCount();
    };
    // Every depth either runs or is refused as too complex; never another failure
    // (SQLite's parser stack overflowing), and what real queries nest always runs.
    for (const Shape& s : kShapes) {
        int firstRefused = 0;
        for (int levels = 1; levels <= 60 && !firstRefused; ++levels) {
            const std::string where = Nest(s, levels);
            try {
                count(where);
            } catch (const dao::DaoError& e) {
                ASSERT_EQ(e.Number(), 3360) << s.name << " at " << levels << ": " << e.what();
                firstRefused = levels;
            }
        }
        EXPECT_GT(firstRefused, s.runs) << s.name;
        EXPECT_NE(firstRefused, 0) << s.name << " never refused";
    }
    // Far past the limit: refused, not a stack overflow.
    const std::string open(20000, '('), close(20000, ')');
    EXPECT_EQ(ErrorOf([&] { count(open + "K = 10" + close); }), 3360);
    std::string nots;
    for (int i = 0; i < 20000; ++i) nots += "Not ";
    EXPECT_EQ(ErrorOf([&] { count(nots + "K = 10"); }), 3360);
    std::string sub = "SELECT K FROM T";
    for (int i = 0; i < 2000; ++i) sub = "SELECT K FROM (" + sub + ")";
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset(sub, RecordsetType::Snapshot); }), 3360);
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("SELECT * FROM " + open + "T" + close, RecordsetType::Snapshot); }),
              3360);
}

TEST(DaoHostile, LongOperatorChainsRunFlat) {
    TempDir dir;
    auto db = dao::DBEngine::CreateDatabase(dir.File("flat.txp"), dao::dbLangGeneral);
    db->Execute("CREATE TABLE T (K LONG CONSTRAINT PrimaryKey PRIMARY KEY)");
    for (int k = 1; k <= 400; ++k) db->Execute("INSERT INTO T VALUES (" + std::to_string(k) + ")");
    for (int terms : {90, 300, 500}) {
        std::string ors, ands, sum;
        for (int i = 1; i <= terms; ++i) {
            ors += (i > 1 ? " Or " : "") + std::string("K = ") + std::to_string(i * 2);
            ands += (i > 1 ? " And " : "") + std::string("K <> ") + std::to_string(i * 3);
            sum += (i > 1 ? " + " : "") + std::string("1");
        }
        auto rs = db->OpenRecordset("SELECT K FROM T WHERE " + ors, RecordsetType::Snapshot);
        rs->MoveLast();
        EXPECT_EQ(rs->RecordCount(), std::min(terms, 200)) << terms;
        rs = db->OpenRecordset("SELECT K FROM T WHERE " + ands, RecordsetType::Snapshot);
        rs->MoveLast();
        EXPECT_EQ(rs->RecordCount(), 400 - std::min(terms, 133)) << terms;
        rs = db->OpenRecordset("SELECT " + sum + " AS S FROM T WHERE K = 1", RecordsetType::Snapshot);
        EXPECT_EQ(rs->Fields("S").AsLong(), terms);
        db->Execute("UPDATE T SET K = K WHERE " + ors);
        EXPECT_EQ(db->RecordsAffected(), std::min(terms, 200)) << terms;
    }
    std::string huge;
    for (int i = 0; i < 20000; ++i) huge += (i ? " Or " : "") + std::string("K = ") + std::to_string(i);
    EXPECT_EQ(ErrorOf([&] { db->OpenRecordset("SELECT K FROM T WHERE " + huge, RecordsetType::Snapshot); }), 3360);
    EXPECT_EQ(ErrorOf([&] { db->Execute("DELETE FROM T WHERE " + huge); }), 3360);
}

// Statements of every kind the layer translates, mutated by seeded edits that
// also splice, repeat and nest pieces: each runs or raises a numbered error;
// none crashes, hangs or changes data outside the transaction it ran in.
TEST(DaoHostile, MutatedStatementsOfEveryKindOnlyRaiseNumberedErrors) {
    TempDir dir;
    auto db = dao::DBEngine::CreateDatabase(dir.File("fuzz.txp"), dao::dbLangGeneral);
    db->Execute("CREATE TABLE Data (K LONG CONSTRAINT PrimaryKey PRIMARY KEY, Name TEXT(20), Age SHORT, "
                "[When] DATETIME, [rowid] LONG)");
    db->Execute("CREATE TABLE Test (MainPrimaryKey LONG CONSTRAINT PrimaryKey PRIMARY KEY, Predicted SHORT, "
                "Actual SHORT, Mark SHORT)");
    for (int k = 1; k <= 20; ++k) {
        db->Execute("INSERT INTO Data VALUES (" + std::to_string(k) + ", 'n" + std::to_string(k % 4) + "', " +
                    std::to_string(k * 3) + ", #1/" + std::to_string(k) + "/2001#, 1)");
        db->Execute("INSERT INTO Test VALUES (" + std::to_string(k) + ", -1, -1, 0)");
    }
    const std::vector<std::string> seeds = {
        "SELECT Data.*, Test.Mark FROM Data INNER JOIN Test ON Data.K = Test.MainPrimaryKey WHERE (Test.Mark = 0) "
        "AND ((Data.Age > 3) OR (Data.Name Like 'n*')) ORDER BY Data.Age DESC;",
        "SELECT Name, Count(*) AS N, Sum(Age) FROM Data WHERE [When] Between #1/2/2001# And #1/9/2001# GROUP BY "
        "Name HAVING Count(*) > 1",
        "SELECT * FROM Data WHERE K In (SELECT MainPrimaryKey FROM Test WHERE Predicted <> Actual) AND Not "
        "IsNull(Name) AND IIf(Age Mod 2 = 0, True, False)",
        "UPDATE Test SET Mark = -1 WHERE MainPrimaryKey In (1, 2, 3) Or (Predicted = -1 And Actual = -1);",
        "UPDATE Data INNER JOIN Test ON Data.K = Test.MainPrimaryKey SET Data.Age = Data.Age + 1 WHERE Test.Mark = 0",
        "DELETE FROM Test WHERE MainPrimaryKey > 15 AND Mark = 0;",
        "INSERT INTO Test (MainPrimaryKey, Predicted, Actual, Mark) SELECT K + 100, -1, -1, 0 FROM Data WHERE K < 5",
        "CREATE TABLE Extra (Id AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY, Note TEXT(50), V DOUBLE)",
        "CREATE INDEX ByAge ON Data(Age DESC, Name)WITH DISALLOW NULL;",
        "SELECT CStr(Age) & '-' & UCase(Name), Format(Age / 7, '0.00'), Nz(Name, '?') FROM Data ORDER BY 1",
    };
    const std::vector<std::string> pieces = {"(", ")", "((", "))", "'", "\"", "[", "]", "#", ",", "*", " AND ",
                                             " OR ", " NOT ", "SELECT ", " FROM ", " WHERE ", "-", "Not ", "IIf(",
                                             "1", "0.5e3", "#1/1/2001#", "'x''y'", ";", " In (", " Is Null"};
    std::mt19937 gen(19991231);
    int ran = 0, raised = 0;
    for (int round = 0; round < 400; ++round) {
        std::string sql = seeds[gen() % seeds.size()];
        const int edits = int(gen() % 3);
        for (int e = 0; e < edits && !sql.empty(); ++e) {
            const size_t at = gen() % sql.size();
            switch (gen() % 6) {
            case 0: sql.erase(at, 1 + gen() % 8); break;
            case 1: sql.insert(at, pieces[gen() % pieces.size()]); break;
            case 2: sql[at] = char(32 + gen() % 95); break;
            case 3: {  // a piece repeated many times over: deep nesting or long chains
                const std::string p = pieces[gen() % pieces.size()];
                std::string run;
                for (int i = 0, n = 1 + int(gen() % 200); i < n; ++i) run += p;
                sql.insert(at, run);
                break;
            }
            case 4: {  // a slice of this statement repeated inside itself
                const size_t len = 1 + gen() % std::min<size_t>(40, sql.size() - at);
                const std::string slice = sql.substr(at, len);
                for (int i = 0, n = 1 + int(gen() % 30); i < n; ++i) sql.insert(at, slice);
                break;
            }
            default: {  // spliced with another statement
                const std::string& other = seeds[gen() % seeds.size()];
                sql = sql.substr(0, at) + other.substr(gen() % other.size());
                break;
            }
            }
        }
        db->BeginTrans();
        try {
            if (dao::RecordsetType type = gen() % 2 ? RecordsetType::Snapshot : RecordsetType::Dynaset;
                sql.rfind("SELECT", 0) == 0 && gen() % 3) {
                auto rs = db->OpenRecordset(sql, type);
                if (!rs->Eof()) rs->MoveLast();
            } else {
                db->Execute(sql);
            }
            ++ran;
        } catch (const dao::DaoError& e) {
            EXPECT_GT(e.Number(), 0) << sql;
            EXPECT_FALSE(e.Description().empty()) << sql;
            ++raised;
        }
        db->Rollback();
        // Criteria as FindFirst takes them.
        try {
            auto rs = db->OpenRecordset("Data", RecordsetType::Dynaset);
            const size_t where = sql.find("WHERE ");
            rs->FindFirst(where == std::string::npos ? sql : sql.substr(where + 6));
        } catch (const dao::DaoError& e) {
            EXPECT_GT(e.Number(), 0) << sql;
        }
    }
    EXPECT_GT(ran, 80);
    EXPECT_GT(raised, 130);
    auto rs = db->OpenRecordset("SELECT Count(*), Sum(Age) FROM Data", RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 20);
    EXPECT_EQ(rs->Fields(1).AsLong(), 3 * 210);
    EXPECT_EQ(db->TableDefs().Count(), 2);
}
