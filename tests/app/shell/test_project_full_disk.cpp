// A sound project on a full disk: the person is told the disk is full, not
// that the project is damaged, and it opens once there is room again.
#include "RoadFixture.h"

#include "AppGlobals.h"
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
};

}  // namespace

TEST_F(ProjectFullDisk, IsReportedAsAFullDiskAndOpensOnceThereIsRoom) {
    testsupport::SmallDisk disk(4 << 20);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    const std::string sample = CopySample("sample");
    for (const char* name : {"iris.txp", "iris.mdb"})
        std::filesystem::copy_file(std::filesystem::path(sample).parent_path() / name, disk.File(name));
    const std::string path = disk.File("iris.txp");
    disk.LeaveFree(0);
    MTessary::LoadProject(QString::fromStdString(path));
    EXPECT_FALSE(shell::Globals().gProject);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Open Project Failed");
    EXPECT_EQ(dialogs.Messages()[0].text.toStdString(),
              path + " cannot be opened: the disk is full (no space left on the device).  The file is not changed; "
                     "it opens once space is freed.");

    disk.Unfill();
    dialogs.Clear();
    MTessary::LoadProject(QString::fromStdString(path));
    EXPECT_TRUE(shell::Globals().gProject);
    EXPECT_TRUE(dialogs.Messages().empty());
}
