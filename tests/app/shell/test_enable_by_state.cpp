// Which views, report links and grid selection each stored workflow state
// switches on, and that a state it does not know changes nothing.
#include "ShellFixture.h"

#include "AppGlobals.h"
#include "CProject.h"

using namespace shelltest;

namespace {

struct StateCase {
    const char* state;  // nullptr: no LastState row
    const char* leaves;  // nullptr: no LeafNodeCount row
    std::vector<const char*> on;
    std::vector<const char*> off;
    std::vector<int> links;  // the report links on afterwards
    const char* gridSelect;  // "" when not called
};

const char* kViews[] = {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"};

// Links: 0 browse all, 1 browse test, 2 matrix, 3 field statistics, 4 class list,
// 5 tree, 6 flow chart, 7 live prediction.
const std::vector<int> kLinks23{0, 3, 4};
std::vector<int> Links4(bool flow) {
    return flow ? std::vector<int>{0, 3, 4, 5, 6, 7} : std::vector<int>{0, 3, 4, 5, 7};
}
std::vector<int> Links5(bool flow) {
    return flow ? std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7} : std::vector<int>{0, 1, 2, 3, 4, 5, 7};
}

const std::vector<const char*> kAll(std::begin(kViews), std::end(kViews));

class EnableByStateTest : public ShellTest, public ::testing::WithParamInterface<StateCase> {};

}  // namespace

TEST_P(EnableByStateTest, SwitchesExactlyItsSet) {
    const StateCase& c = GetParam();
    ASSERT_TRUE(Start());
    auto project = std::make_shared<CProject>();
    project->Create(dir.File("state.txp"));
    if (c.state) project->SaveConfig("LastState", std::string(c.state));
    if (c.leaves) project->SaveConfig("LeafNodeCount", std::string(c.leaves));
    app::Globals().gProject = project;
    // Start from the opposite of what is expected, so that every switch shows.
    const bool unchanged = c.on.empty() && c.off.empty();
    for (const char* id : kAll) {
        const bool expectedOn = std::find_if(c.on.begin(), c.on.end(), [&](const char* o) {
                                    return std::string_view(o) == id;
                                }) != c.on.end();
        Tool(id)->setEnabled(unchanged || !expectedOn);
    }
    for (int link = 0; link < 8; ++link)
        Report().links[link] = unchanged || std::find(c.links.begin(), c.links.end(), link) == c.links.end();
    Report().calls.clear();
    Grid().calls.clear();
    MTessary::EnableByState();
    for (const char* id : c.on) EXPECT_TRUE(Tool(id)->isEnabled()) << id;
    for (const char* id : c.off) EXPECT_FALSE(Tool(id)->isEnabled()) << id;
    std::vector<int> linksOn;
    for (int link = 0; link < 8; ++link)
        if (Report().links[link]) linksOn.push_back(link);
    if (unchanged) {
        for (const char* id : kAll) EXPECT_TRUE(Tool(id)->isEnabled()) << id;
        EXPECT_EQ(Report().calls, QStringList());
    } else {
        EXPECT_EQ(linksOn, c.links);
    }
    EXPECT_EQ(Grid().calls.join(","), QString::fromUtf8(c.gridSelect));
    // No view is ticked and no panel shown.
    for (int id = 3001; id <= 3008; ++id) EXPECT_FALSE(Tool(QString::number(id))->isChecked());
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "");
    project->CloseProject();
}

INSTANTIATE_TEST_SUITE_P(
    States, EnableByStateTest,
    ::testing::Values(StateCase{nullptr,
                                nullptr,
                                {},
                                {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"},
                                {},
                                "SetSpecialSelectEnable(false)"},
                      StateCase{"1",
                                "5",
                                {},
                                {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"},
                                {},
                                "SetSpecialSelectEnable(false)"},
                      StateCase{"2",
                                nullptr,
                                {"3001", "3004", "3005", "1010"},
                                {"3002", "3003", "3006", "3007", "3008", "1009"},
                                kLinks23,
                                "SetSpecialSelectEnable(false)"},
                      StateCase{"3",
                                "5",
                                {"3001", "3004", "3005", "1010"},
                                {"3002", "3003", "3006", "3007", "3008", "1009"},
                                kLinks23,
                                "SetSpecialSelectEnable(false)"},
                      StateCase{"4",
                                "128",
                                {"3001", "3004", "3005", "3006", "3007", "3008", "1010", "1009"},
                                {"3002", "3003"},
                                Links4(true),
                                "SetSpecialSelectEnable(true)"},
                      StateCase{"4",
                                "129",
                                {"3001", "3004", "3005", "3006", "3008", "1010", "1009"},
                                {"3002", "3003", "3007"},
                                Links4(false),
                                "SetSpecialSelectEnable(true)"},
                      StateCase{"4",
                                "0",
                                {"3001", "3004", "3005", "3006", "3008", "1010", "1009"},
                                {"3002", "3003", "3007"},
                                Links4(false),
                                "SetSpecialSelectEnable(true)"},
                      StateCase{"4",
                                nullptr,
                                {"3001", "3004", "3005", "3006", "3008", "1010", "1009"},
                                {"3002", "3003", "3007"},
                                Links4(false),
                                "SetSpecialSelectEnable(true)"},
                      StateCase{"5",
                                "1",
                                {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"},
                                {},
                                Links5(true),
                                "SetSpecialSelectEnable(true)"},
                      StateCase{"5",
                                "300",
                                {"3001", "3002", "3003", "3004", "3005", "3006", "3008", "1010", "1009"},
                                {"3007"},
                                Links5(false),
                                "SetSpecialSelectEnable(true)"},
                      StateCase{"6", "5", {}, {}, {}, ""}, StateCase{" 4", "5", {}, {}, {}, ""}));

// The leaf count is read before anything is switched: a count that is no number
// reaches the caller's trap and leaves every view as it was.
TEST_F(ShellTest, ALeafCountThatIsNoNumberSwitchesNothing) {
    ASSERT_TRUE(Start());
    auto project = std::make_shared<CProject>();
    project->Create(dir.File("state.txp"));
    project->SaveConfig("LastState", std::string("4"));
    project->SaveConfig("LeafNodeCount", std::string("many"));
    app::Globals().gProject = project;
    for (const char* id : kAll) Tool(id)->setEnabled(false);
    Report().calls.clear();
    EXPECT_ANY_THROW(MTessary::EnableByState());
    for (const char* id : kAll) EXPECT_FALSE(Tool(id)->isEnabled()) << id;
    EXPECT_EQ(Report().calls, QStringList());
    project->CloseProject();
}
