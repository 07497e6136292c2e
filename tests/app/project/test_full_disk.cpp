// Text import onto a disk that fills up: an error that names the cause, never
// "successful" over a damaged file, and an existing database left as it was.
#include "TextImport.h"

#include "CProject.h"
#include "MdbUtils.h"
#include "dao/dao.h"

#include "AppServicesTesting.h"
#include "IntegrityCheck.h"
#include "SmallDisk.h"

#include "ui/testing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteRows(const std::string& path, int rows) {
    std::ofstream out(path, std::ios::binary);
    out << "a,b,c\n";
    for (int i = 0; i < rows; ++i) out << i << ',' << i << ".5," << "t" << i % 97 << '\n';
}

std::vector<std::string> Hidden(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.front() == '.' && name != ".filler") out.push_back(name);
    }
    return out;
}

}  // namespace

TEST(ImportFullDisk, NoSuccessOverADamagedFileAndTheOldFileStays) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replacing a database" : "new database");
        testsupport::SmallDisk disk(1 << 20);
        if (!disk.Ready()) GTEST_SKIP() << disk.Why();
        const std::string csv = disk.File("big.csv");
        WriteRows(csv, 20000);
        const std::string db = MdbUtils::ImportDatabasePath(csv);
        std::string old;
        if (replace) {
            std::ofstream(disk.File("small.csv")) << "a\n1\n";
            ui::ScopedRecorder quiet;
            ASSERT_TRUE(MdbUtils::LoadTextFile(disk.File("small.csv")));
            std::filesystem::rename(disk.File("small.mdb"), db);
            old = ReadAll(db);
        }
        ui::ScopedRecorder dialogs;
        if (replace) dialogs.answers.push_back(ui::Answer::Yes);
        app::ScopedFakeShell shell;
        const bool done = MdbUtils::LoadTextFile(csv);
        std::filesystem::remove(csv);  // room for the check's own files
        if (done) {
            // Whatever says success must be a sound file with every row.
            EXPECT_EQ(testsupport::IntegrityCheck(db), "ok");
            continue;
        }
        ASSERT_FALSE(dialogs.Messages().empty());
        const auto& box = dialogs.Messages().back();
        EXPECT_EQ(box.title.toStdString(), "LoadTextFile");
        EXPECT_EQ(box.text.toStdString(),
                  "Error: 3035. \nSystem resource exceeded (disk full): no space left on the device for '" + db +
                      (replace ? "'. It is left as it was." : "'. It was not made."));
        // An earlier import's "successful" is cleared, and nothing else is said there.
        EXPECT_EQ(shell.status.texts, QStringList{QString()});
        if (replace) EXPECT_EQ(ReadAll(db), old);
        else EXPECT_FALSE(std::filesystem::exists(db));
        EXPECT_TRUE(Hidden(disk.Path()).empty()) << Hidden(disk.Path()).front();
    }
}

// A database that cannot be opened for lack of room is named in the box, as the
// person knows it.
TEST(ImportFullDisk, ADataSourceThatCannotOpenForLackOfRoomIsNamed) {
    testsupport::SmallDisk disk(1 << 20);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    const std::string path = disk.File("data.mdb");
    dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral)->Close();
    const std::string old = ReadAll(path);
    disk.LeaveFree(0);
    ui::ScopedRecorder dialogs;
    EXPECT_EQ(MdbUtils::OpenDataSource(path, false), nullptr);
    disk.Unfill();
    const auto m = dialogs.Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].title.toStdString(), "Open Database (3035)");
    EXPECT_NE(m[0].text.toStdString().find("'" + path + "' cannot be opened; it is not changed."), std::string::npos)
        << m[0].text.toStdString();
    EXPECT_TRUE(ReadAll(path) == old);
}

// A project file made again over an existing one on a disk that fills up:
// made whole with its settings, or one box saying the disk is full, and the
// existing file as it was.
TEST(ProjectCreateFullDisk, MadeWholeOrTheOldFileStays) {
    int failures = 0;
    for (const size_t free : {0u, 4u << 10, 8u << 10, 24u << 10, 64u << 10}) {
        SCOPED_TRACE(std::to_string(free >> 10) + " KB free");
        testsupport::SmallDisk disk(1 << 20);
        if (!disk.Ready()) GTEST_SKIP() << disk.Why();
        const std::string path = disk.File("p.txp");
        {
            CProject old;
            ui::ScopedRecorder quiet;
            old.SetFileName(path);
            old.SaveConfig("Kept", "old");
            ASSERT_TRUE(old.Create());
            old.CloseProject();
        }
        const std::string before = ReadAll(path);
        disk.LeaveFree(free);
        ui::ScopedRecorder dialogs;
        CProject p;
        p.SetFileName(path);
        const bool made = p.Create();
        p.CloseProject();
        disk.Unfill();
        if (made) {
            EXPECT_TRUE(dialogs.Messages().empty());
            EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
            EXPECT_EQ(p.GetConfig("ProjectType"), "Tessary");
            EXPECT_EQ(p.GetConfig("Kept", "<none>"), "<none>");
            continue;
        }
        ++failures;
        ASSERT_EQ(dialogs.Messages().size(), 1u);
        EXPECT_EQ(dialogs.Messages()[0].text.toStdString(),
                  "Project file: " + path +
                      " cannot be used: the disk is full (no space left on the device).  The file is not changed; "
                      "free some space and try again.");
        EXPECT_TRUE(ReadAll(path) == before) << "the old project changed";
        EXPECT_TRUE(Hidden(disk.Path()).empty()) << Hidden(disk.Path()).front();
    }
    EXPECT_GT(failures, 0);  // the sizes are chosen so that the disk does fill up
}
