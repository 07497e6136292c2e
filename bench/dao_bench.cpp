// Database layer throughput: a 1 000 000-row table of 20 fields read through
// GetRows(100) batches, then every row updated through a dynaset inside one
// transaction.
//
// Usage: dao_bench [rows] [folder]   (defaults: 1000000, the system temp folder)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dao/dao.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Fill(dao::Database& db, long rows) {
    // Id, 6 Long, 5 Double, 4 Single, 3 Text(20), 1 Integer: 20 fields.
    db.Execute("CREATE TABLE Big (Id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, L1 LONG, L2 LONG, L3 LONG, L4 LONG, "
               "L5 LONG, L6 LONG, D1 DOUBLE, D2 DOUBLE, D3 DOUBLE, D4 DOUBLE, D5 DOUBLE, S1 SINGLE, S2 SINGLE, "
               "S3 SINGLE, S4 SINGLE, T1 TEXT(20), T2 TEXT(20), T3 TEXT(20), N SHORT)");
    db.BeginTrans();
    db.Execute("INSERT INTO Big (L1, L2, L3, L4, L5, L6, D1, D2, D3, D4, D5, S1, S2, S3, S4, T1, T2, T3, N) VALUES "
               "(1, 2, 3, 4, 5, 6, 1.5, 2.5, 3.5, 4.5, 5.5, 0.25, 0.5, 0.75, 1.25, 'alpha', 'beta', 'gamma', 7)");
    long have = 1;
    while (have < rows) {
        db.Execute("INSERT INTO Big (L1, L2, L3, L4, L5, L6, D1, D2, D3, D4, D5, S1, S2, S3, S4, T1, T2, T3, N) "
                   "SELECT TOP " + std::to_string(rows - have) +
                   " L1 + Id, L2 * 2, L3, L4 + 1, L5, L6, D1 * 1.01, D2 + Id, D3, D4, D5 / 3, S1, S2 + 1, S3, S4, "
                   "T1 & Id, T2, T3, N FROM Big");
        have += db.RecordsAffected();
    }
    db.CommitTrans();
}

}  // namespace

int main(int argc, char** argv) {
    long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::filesystem::path dir = argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    std::string path = (dir / ("dao-bench-" + std::to_string(::getpid()) + ".txp")).string();
    std::filesystem::remove(path);
    int status = 0;
    try {
        {
            // The table exists before the measured work starts, as a user's data does.
            auto fresh = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
            Fill(*fresh, rows);
            fresh->Close();
        }
        auto db = dao::DBEngine::OpenDatabase(path);

        auto t0 = std::chrono::steady_clock::now();
        long read = 0;
        double checksum = 0;
        {
            auto rs = db->OpenRecordset("SELECT * FROM Big", dao::RecordsetType::Snapshot);
            while (!rs->Eof()) {
                com::Variant batch = rs->GetRows(100);
                LONG ub = -1;
                SafeArrayGetUBound(batch.parray, 2, &ub);
                read += ub + 1;
                VARIANT* data = nullptr;
                SafeArrayAccessData(batch.parray, reinterpret_cast<void**>(&data));
                checksum += data[1].lVal;  // field 1 of the batch's first row
                SafeArrayUnaccessData(batch.parray);
            }
        }
        double readTime = Seconds(t0);

        auto t1 = std::chrono::steady_clock::now();
        long updated = 0;
        {
            db->BeginTrans();
            auto rs = db->OpenRecordset("Big", dao::RecordsetType::Dynaset);
            dao::Field l6 = rs->Fields("L6");
            dao::Field d5 = rs->Fields("D5");
            while (!rs->Eof()) {
                rs->Edit();
                l6.SetValue(com::Variant::I4(LONG(updated)));
                d5.SetValue(com::Variant::R8(updated * 0.5));
                rs->Update();
                ++updated;
                rs->MoveNext();
            }
            db->CommitTrans();
        }
        double updateTime = Seconds(t1);

        auto check = db->OpenRecordset("SELECT Sum(L6) FROM Big", dao::RecordsetType::Snapshot);
        double sum = check->Fields(0).AsDouble();
        double expect = double(updated) * double(updated - 1) / 2;
        std::printf("rows: %ld, fields: 20\n", rows);
        std::printf("read (GetRows 100): %ld rows in %.3f s\n", read, readTime);
        std::printf("update (dynaset, one transaction): %ld rows in %.3f s\n", updated, updateTime);
        if (read != rows || updated != rows || sum != expect) {
            std::printf("check failed: read %ld, updated %ld, sum %.0f (want %.0f), checksum %.0f\n", read, updated, sum,
                        expect, checksum);
            status = 1;
        }
        db->Close();
    } catch (const dao::DaoError& e) {
        std::fprintf(stderr, "Error: %ld. %s\n", e.Number(), e.Description().c_str());
        status = 2;
    }
    for (const char* suffix : {"", "-wal", "-shm", ".lck"}) std::filesystem::remove(path + suffix);
    return status;
}
