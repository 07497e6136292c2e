// The marked rows exported to a database on a disk that fills up: either a
// sound file with every row, or an error that says the disk is full and names
// the chosen file, which is then as it was.
#include "ExportFixture.h"

#include "IntegrityCheck.h"
#include "MExport.h"
#include "SmallDisk.h"

#include <sqlite3.h>

using namespace exporttest;

namespace {


// What the stock library counts in a table, -1 when it cannot.
long long PlainCount(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    long long n = -1;
    if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

}  // namespace

TEST(DatabaseExportFullDisk, SoundFileOrDiskFullNamingTheChosenFile) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({Cell::T(std::string(60, char('a' + i % 26))), Cell::D(i), Cell::T(i % 2 ? "x" : "y")});
    ExportProject p("db-full", NameSizeKindColumns(), rows);
    p.Run("UPDATE Test SET Mark=-1");
    int failures = 0;
    for (const bool existing : {false, true}) {
        for (const size_t free : {0u, 4u << 10, 8u << 10, 16u << 10, 300u << 10, 400u << 10, 510u << 10}) {
            SCOPED_TRACE((existing ? "existing database, " : "new database, ") + std::to_string(free >> 10) +
                         " KB free");
            testsupport::SmallDisk disk(2 << 20);
            if (!disk.Ready()) GTEST_SKIP() << disk.Why();
            const std::string path = disk.File("out.mdb");
            std::string before;
            if (existing) {
                // As another program leaves it, with a rollback journal: opening it
                // to write would already change it.
                sqlite3* db = nullptr;
                ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
                ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE Mine (A TEXT(5)); INSERT INTO Mine VALUES ('kept')", nullptr,
                                       nullptr, nullptr),
                          SQLITE_OK);
                sqlite3_close(db);
                before = ReadFile(path);
            }
            disk.LeaveFree(free);
            p.dialogs.Clear();
            const bool done = MExport::MDBExportMarked(p.ctx, QString::fromStdString(path), 0);
            disk.Unfill();
            if (done) {
                EXPECT_TRUE(p.Boxes().empty());
                EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
                EXPECT_EQ(PlainCount(path, "Tessary_Import"), 3000);
                if (existing) {
                    EXPECT_EQ(PlainCount(path, "Mine"), 1);
                }
            } else {
                ++failures;
                ASSERT_EQ(p.Boxes().size(), 1u);
                // The chosen file is named, by the failure itself or after it.
                const std::string box = p.Boxes()[0];
                const std::string state = existing ? " is left as it was." : " was not made.";
                EXPECT_EQ(box.rfind("MTessary::MDBExportMarked | Error: 3035. \nSystem resource exceeded (disk "
                                    "full): no space left on the device",
                                    0),
                          0u)
                    << box;
                EXPECT_NE(box.find("'" + path + "'"), std::string::npos) << box;
                EXPECT_EQ(box.substr(box.size() - std::min(box.size(), state.size())), state) << box;
                if (existing) {
                    EXPECT_TRUE(ReadFile(path) == before) << "the existing file was changed";
                } else {
                    EXPECT_FALSE(std::filesystem::exists(path));
                }
            }
            std::vector<std::string> left;
            for (const auto& e : std::filesystem::directory_iterator(disk.Path()))
                left.push_back(e.path().filename().string());
            EXPECT_EQ(left, existing ? std::vector<std::string>{"out.mdb"} : std::vector<std::string>(done, "out.mdb"));
        }
    }
    // The sizes are chosen so that the disk does fill up.
    EXPECT_GT(failures, 0);
}

// The text files the person exports, the marked rows and the tree's diagram:
// on a disk that fills up, an error that says the disk is full and names the
// chosen file, which is then as it was.
TEST(TextExportFullDisk, DiskFullNamingTheChosenFile) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({Cell::T(std::string(60, char('a' + i % 26))), Cell::D(i), Cell::T(i % 2 ? "x" : "y")});
    ExportProject p("text-full", NameSizeKindColumns(), rows);
    p.Run("UPDATE Test SET Mark=-1");
    ExportProject fruit("tree-full", FruitColumns(), FruitRows());
    auto tree = Built(fruit, 0, 52);
    struct Writer {
        const char* name;
        std::function<bool(const std::string&)> write;
        const char* title;
    };
    const Writer writers[] = {
        {"marked rows", [&](const std::string& path) {
             return MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0);
         }, "MTessary::ExportMarkedRS"},
        {"tree diagram", [&](const std::string& path) { return tree->Export2CSV(path); }, "CTRX::Export2CSV"},
    };
    for (const Writer& w : writers) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::string(w.name) + (existing ? ", existing file" : ", new file"));
            testsupport::SmallDisk disk(1 << 20);
            if (!disk.Ready()) GTEST_SKIP() << disk.Why();
            const std::string path = disk.File("out.txt");
            if (existing) WriteFile(path, "old");
            disk.LeaveFree(0);
            auto& dialogs = fruit.dialogs;  // the recorder made last takes every box
            dialogs.Clear();
            EXPECT_FALSE(w.write(path));
            disk.Unfill();
            std::vector<std::string> boxes;
            for (const auto& m : dialogs.Messages()) boxes.push_back((m.title + " | " + m.text).toStdString());
            EXPECT_EQ(boxes, std::vector<std::string>{std::string(w.title) +
                                                      " | Error: 3035. \nSystem resource exceeded (disk full): no space "
                                                      "left on the device for '" +
                                                      path + (existing ? "'. It is left as it was." : "'. It was not made.")});
            if (existing) {
                EXPECT_EQ(ReadFile(path), "old");
            }
            std::vector<std::string> left;
            for (const auto& e : std::filesystem::directory_iterator(disk.Path()))
                left.push_back(e.path().filename().string());
            EXPECT_EQ(left, existing ? std::vector<std::string>{"out.txt"} : std::vector<std::string>{});
        }
    }
}
