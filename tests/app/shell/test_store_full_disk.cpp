// The extraction and test steps on a disk that fills up: a step either stores
// what it made and says so, or shows one box that says the disk is full and
// names the project, and the project still opens at the step it was at.
#include "ResultRoadFixture.h"

#include "IntegrityCheck.h"
#include "SmallDisk.h"

using namespace shelltest;

namespace {

class StoreFullDisk : public RoadTest {};

}  // namespace

TEST_F(StoreFullDisk, AStepIsStoredOrReportedAsAFullDisk) {
    struct Step {
        int state;
        const char* done;  // the status of a stored step
    };
    int failures = 0;
    for (const Step step : {Step{4, " Modify the current tree. "}, Step{5, " Click any cell for details. "}}) {
        for (const size_t free : {0u, 8u << 10, 16u << 10, 24u << 10, 32u << 10, 48u << 10, 64u << 10}) {
            SCOPED_TRACE("step " + std::to_string(step.state) + ", " + std::to_string(free >> 10) + " KB free");
            testsupport::SmallDisk disk(8 << 20);
            if (!disk.Ready()) GTEST_SKIP() << disk.Why();
            for (const char* f : {"iris.mdb", "iris.txp"})
                std::filesystem::copy_file(SamplesDir() + "/" + f, disk.File(f));
            path = disk.File("iris.txp");
            Open();
            ASSERT_EQ(Config("LastState"), "3");
            if (step.state == 5) ToState(4);
            const std::string before = Config("LastState");
            disk.LeaveFree(free);
            dialogs.Clear();
            ToState(step.state);
            disk.Unfill();
            if (Config("LastState") == std::to_string(step.state)) {
                EXPECT_TRUE(dialogs.Messages().empty()) << dialogs.Messages()[0].text.toStdString();
                EXPECT_EQ(StatusMain(), step.done);
            } else {
                ++failures;
                std::string boxes;
                for (const auto& m : dialogs.Messages()) boxes += (m.title + " | " + m.text + "\n").toStdString();
                EXPECT_EQ(dialogs.Messages().size(), 1u) << boxes;
                if (dialogs.Messages().empty()) continue;
                const std::string text = dialogs.Messages()[0].text.toStdString();
                EXPECT_NE(text.find("no space left on the device"), std::string::npos) << text;
                EXPECT_NE(text.find(path), std::string::npos) << text;
                EXPECT_NE(StatusMain(), step.done);
                EXPECT_LE(Config("LastState"), before);
            }
            app.reset();
            EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
        }
    }
    EXPECT_GT(failures, 0);  // the sizes are chosen so that the disk does fill up
}
