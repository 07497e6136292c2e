// A sound project on a full disk: the person is told the disk is full, not
// that the project is damaged, and it opens once there is room again.
#include "RoadFixture.h"

#include "AppGlobals.h"
#include "IntegrityCheck.h"
#include "SmallDisk.h"

#include <filesystem>

using namespace shelltest;

namespace {

class ProjectFullDisk : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(Start());
    }
    // The sample project and its data copied onto the disk; the project's path.
    std::string SampleOn(const testsupport::SmallDisk& disk) {
        const std::string sample = CopySample("sample");
        for (const char* name : {"iris.txp", "iris.mdb"})
            std::filesystem::copy_file(std::filesystem::path(sample).parent_path() / name, disk.File(name));
        return disk.File("iris.txp");
    }
};

}  // namespace

TEST_F(ProjectFullDisk, IsReportedAsAFullDiskAndOpensOnceThereIsRoom) {
    testsupport::SmallDisk disk(4 << 20);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    const std::string path = SampleOn(disk);
    disk.LeaveFree(0);
    MTessary::LoadProject(QString::fromStdString(path));
    EXPECT_FALSE(app::Globals().gProject);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    // The one box of a full disk under the project, as when it is written.
    EXPECT_EQ(dialogs.Messages()[0].title, "Project Operation Failed");
    EXPECT_EQ(dialogs.Messages()[0].text.toStdString(),
              "Project file: " + path + " cannot be used: the disk is full (no space left on the device).  The file "
                                        "is not changed; free some space and try again.");

    disk.Unfill();
    dialogs.Clear();
    MTessary::LoadProject(QString::fromStdString(path));
    EXPECT_TRUE(app::Globals().gProject);
    EXPECT_TRUE(dialogs.Messages().empty());
}

namespace {

class NewProjectFullDisk : public RoadTest {};

}  // namespace

// A new project made on a disk that fills up at any step (the file, its
// settings, the statistics, the Test table, the field definitions): either a
// sound project at the field step, or one box that says the disk is full and
// names the project, no success, and no project file that claims to be made.
TEST_F(NewProjectFullDisk, IsMadeWholeOrReportedAsAFullDisk) {
    const std::string data = CopyData(SamplesDir() + "/iris.mdb", "iris-data.mdb");
    int failures = 0;
    for (const size_t free : {0u, 16u << 10, 48u << 10, 96u << 10, 128u << 10, 144u << 10, 160u << 10, 320u << 10}) {
        SCOPED_TRACE(std::to_string(free >> 10) + " KB free");
        testsupport::SmallDisk disk(4 << 20);
        if (!disk.Ready()) GTEST_SKIP() << disk.Why();
        const std::string project = disk.File("new.txp");
        disk.LeaveFree(free);
        dialogs.Clear();
        NewProject(project);
        ChooseSource(data);
        ASSERT_TRUE(ChooseTable("iris"));
        TableOK()->click();
        disk.Unfill();
        if (Main().State().State() == 2) {
            EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages()[0].text.toStdString();
            EXPECT_EQ(testsupport::IntegrityCheck(project), "ok");
            EXPECT_EQ(ConfigOf(project, "LastState"), "2");
            EXPECT_EQ(Count(project, "SELECT COUNT(*) FROM FieldConfig"), 6);
        } else {
            ++failures;
            EXPECT_EQ(Main().State().State(), 1);
            EXPECT_NE(StatusMain(), " Stats Collected. ");
            ASSERT_EQ(dialogs.Messages().size(), 1u);
            const std::string text = dialogs.Messages()[0].text.toStdString();
            EXPECT_NE(text.find("no space left on the device"), std::string::npos) << text;
            EXPECT_NE(text.find(project), std::string::npos) << text;
            if (free == 0) {
                EXPECT_FALSE(std::filesystem::exists(project));
            }
            // What is left opens, and does not claim the statistics step done.
            if (std::filesystem::exists(project)) {
                EXPECT_EQ(testsupport::IntegrityCheck(project), "ok");
                EXPECT_EQ(ConfigOf(project, "ProjectType"), "Tessary");
                EXPECT_NE(ConfigOf(project, "LastState"), "2");
            }
        }
        MTessary::MenuCommand(QStringLiteral("mnuFileClose"));
        for (const auto& e : std::filesystem::directory_iterator(disk.Path()))
            EXPECT_NE(e.path().filename().string().substr(0, 9), ".new.txp.") << "left: " << e.path();
    }
    EXPECT_GT(failures, 0);  // the sizes are chosen so that the disk does fill up
}

// An older project opened on a disk that fills up: opened and upgraded, or
// one box that says the disk is full, and not opened without its upgrade.
TEST_F(ProjectFullDisk, AnUpgradeThatCannotBeStoredIsToldOnce) {
    for (const size_t free : {0u, 32u << 10, 64u << 10, 96u << 10}) {
        SCOPED_TRACE(std::to_string(free >> 10) + " KB free");
        testsupport::SmallDisk disk(4 << 20);
        if (!disk.Ready()) GTEST_SKIP() << disk.Why();
        const std::string path = SampleOn(disk);
        Sql(path, "UPDATE Config SET sValue = '0' WHERE Property = 'VersionMinor'");
        disk.LeaveFree(free);
        dialogs.Clear();
        MTessary::LoadProject(QString::fromStdString(path));
        disk.Unfill();
        std::string boxes;
        for (const auto& m : dialogs.Messages()) boxes += (m.title + " | " + m.text + "\n").toStdString();
        if (app::Globals().gProject) {
            // Opened: upgraded and stored.
            EXPECT_TRUE(dialogs.Messages().empty()) << boxes;
            EXPECT_EQ(ConfigOf(path, "VersionMinor"), "1");
            MTessary::CloseCurrentProject();
        } else {
            ASSERT_EQ(dialogs.Messages().size(), 1u) << boxes;
            EXPECT_NE(boxes.find("the disk is full"), std::string::npos) << boxes;
            EXPECT_EQ(ConfigOf(path, "VersionMinor"), "0");
        }
    }
}
