// Reading a linked table through GetRows(100) batches: the same 1 000 000-row
// table as an SQLite link and as an ODBC link to a PostgreSQL server started
// here, and the largest table of the Access fixture as an Access link.
// Times include opening the project (the ODBC link's snapshot, the Access
// mirror's first build).
//
// Usage: link_bench [rows] [sqlite|odbc|access]   (defaults: 1000000, all three)
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tests/platform/dao/PgServer.h"
#include "dao/dao.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

const char* kColumns = "Id INTEGER PRIMARY KEY, L1 INTEGER, L2 INTEGER, D1 DOUBLE PRECISION, D2 DOUBLE PRECISION, "
                       "T1 VARCHAR(20), T2 VARCHAR(20)";
const char* kSelect = "SELECT g, g % 97, g % 13, g * 0.5, g / 3.0, 'text ' || (g % 1000), 'k' || g";

// Opens the project, reads every row of its link in batches of 100.
void Read(const std::string& label, const std::string& project, long expected) {
    auto start = std::chrono::steady_clock::now();
    auto db = dao::DBEngine::OpenDatabase(project);
    double opened = Seconds(start);
    auto rs = db->OpenRecordset("SELECT * FROM LinkDataSource ORDER BY 1", dao::RecordsetType::Snapshot);
    long rows = 0;
    while (!rs->Eof()) {
        com::Variant batch = rs->GetRows(100);
        if (batch.IsEmpty()) break;
        LONG hi = 0;
        SafeArrayGetUBound(batch.parray, 2, &hi);
        rows += hi + 1;
    }
    double total = Seconds(start);
    std::printf("%-8s rows %ld  open %.2f s  open+read %.2f s  %.0f rows/s\n", label.c_str(), rows, opened, total,
                rows / total);
    if (rows != expected) std::printf("  expected %ld rows\n", expected);
}

std::string NewProject(const std::string& dir, const std::string& name, const std::string& source,
                       const std::string& connect) {
    std::string path = dir + "/" + name + ".txp";
    auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
    db->TableDefs().Append(db->CreateTableDef("LinkDataSource", 0, source, connect));
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string only = argc > 2 ? argv[2] : "";
    std::string dir = (std::filesystem::temp_directory_path() / ("link-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    ::setenv("TESSARY_CACHE", (dir + "/cache").c_str(), 1);
    int status = 0;
    try {
        if (only.empty() || only == "sqlite") {
            std::string data = dir + "/data.db";
            sqlite3* db = nullptr;
            sqlite3_open(data.c_str(), &db);
            std::string sql = std::string("CREATE TABLE Big (") + kColumns +
                              "); INSERT INTO Big WITH RECURSIVE s(g) AS (SELECT 1 UNION ALL SELECT g + 1 FROM s "
                              "WHERE g < " + std::to_string(rows) + ") " + kSelect + " FROM s;";
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
            sqlite3_close(db);
            Read("sqlite", NewProject(dir, "sqlite", "Big", ";DATABASE=" + data), rows);
        }
        if (only.empty() || only == "odbc") {
            daotest::PgServer pg(dir + "/pg");
            if (!pg.Started()) throw std::runtime_error("the PostgreSQL server did not start");
            pg.Psql(std::string("CREATE TABLE big (") + kColumns + "); INSERT INTO big " + kSelect +
                    " FROM generate_series(1, " + std::to_string(rows) + ") g;");
            Read("odbc", NewProject(dir, "odbc", "big", pg.Connect()), rows);
        }
        if (only.empty() || only == "access") {
            const char* src = std::getenv("TESSARY_SOURCE_DIR");
            std::string mdb = dir + "/nwind.mdb";
            std::filesystem::copy_file(std::string(src ? src : ".") + "/tests/data/access/nwind.mdb", mdb);
            std::string project = NewProject(dir, "access", "Order Details", ";DATABASE=" + mdb);
            std::filesystem::remove_all(dir + "/cache");
            Read("access", project, 2155);
            Read("access*", project, 2155);  // the mirror built already
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "link_bench: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(dir);
    return status;
}
