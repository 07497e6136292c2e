// Which views, report links and grid selection each stored workflow state
// switches on, and in which order the report panel hears of it.
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
    QStringList links;  // the report panel's calls in order
    const char* gridSelect;  // "" when not called
};

const char* kViews[] = {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"};

const QStringList kLinks1{"DisableLink(1)", "DisableLink(2)", "DisableLink(5)", "DisableLink(6)",
                          "DisableLink(0)", "DisableLink(3)", "DisableLink(4)", "DisableLink(7)"};
const QStringList kLinks23{"DisableLink(1)", "DisableLink(2)", "DisableLink(5)", "DisableLink(6)",
                           "DisableLink(7)", "EnableLink(0)",  "EnableLink(3)",  "EnableLink(4)"};
QStringList Links4(bool flow) {
    return {"DisableLink(1)", "DisableLink(2)", "EnableLink(0)", "EnableLink(3)", "EnableLink(4)",
            "EnableLink(7)",  flow ? "EnableLink(6)" : "DisableLink(6)", "EnableLink(5)"};
}
QStringList Links5(bool flow) {
    return {"EnableLink(1)", "EnableLink(2)", "EnableLink(0)", "EnableLink(3)", "EnableLink(4)",
            "EnableLink(5)", "EnableLink(7)", flow ? "EnableLink(6)" : "DisableLink(6)", "EnableLink(5)"};
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
    shell::Globals().gProject = project;
    // Start from the opposite of what is expected, so that every switch shows.
    const bool unchanged = c.on.empty() && c.off.empty();
    for (const char* id : kAll) {
        const bool expectedOn = std::find_if(c.on.begin(), c.on.end(), [&](const char* o) {
                                    return std::string_view(o) == id;
                                }) != c.on.end();
        Tool(id)->setEnabled(unchanged || !expectedOn);
    }
    Report().calls.clear();
    Grid().calls.clear();
    MTessary::EnableByState();
    for (const char* id : c.on) EXPECT_TRUE(Tool(id)->isEnabled()) << id;
    for (const char* id : c.off) EXPECT_FALSE(Tool(id)->isEnabled()) << id;
    if (unchanged) {
        for (const char* id : kAll) EXPECT_TRUE(Tool(id)->isEnabled()) << id;
    }
    EXPECT_EQ(Report().calls, c.links);
    EXPECT_EQ(Grid().calls.join(","), QString::fromUtf8(c.gridSelect));
    // No view is ticked and no panel shown.
    for (int id = 3001; id <= 3008; ++id) EXPECT_FALSE(Tool(QString::number(id))->isChecked());
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "");
    project->CloseProject();
}

INSTANTIATE_TEST_SUITE_P(
    States, EnableByStateTest,
    ::testing::Values(
        StateCase{nullptr, nullptr, {}, {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"},
                  kLinks1, "SetSpecialSelectEnable(false)"},
        StateCase{"1", "5", {}, {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"},
                  kLinks1, "SetSpecialSelectEnable(false)"},
        StateCase{"2", nullptr, {"3001", "3004", "3005", "1010"}, {"3002", "3003", "3006", "3007", "3008", "1009"},
                  kLinks23, "SetSpecialSelectEnable(false)"},
        StateCase{"3", "5", {"3001", "3004", "3005", "1010"}, {"3002", "3003", "3006", "3007", "3008", "1009"},
                  kLinks23, "SetSpecialSelectEnable(false)"},
        StateCase{"4", "128", {"3001", "3004", "3005", "3006", "3007", "3008", "1010", "1009"}, {"3002", "3003"},
                  Links4(true), "SetSpecialSelectEnable(true)"},
        StateCase{"4", "129", {"3001", "3004", "3005", "3006", "3008", "1010", "1009"}, {"3002", "3003", "3007"},
                  Links4(false), "SetSpecialSelectEnable(true)"},
        StateCase{"4", "0", {"3001", "3004", "3005", "3006", "3008", "1010", "1009"}, {"3002", "3003", "3007"},
                  Links4(false), "SetSpecialSelectEnable(true)"},
        StateCase{"4", nullptr, {"3001", "3004", "3005", "3006", "3008", "1010", "1009"}, {"3002", "3003", "3007"},
                  Links4(false), "SetSpecialSelectEnable(true)"},
        StateCase{"5", "1", {"3001", "3002", "3003", "3004", "3005", "3006", "3007", "3008", "1010", "1009"}, {},
                  Links5(true), "SetSpecialSelectEnable(true)"},
        StateCase{"5", "300", {"3001", "3002", "3003", "3004", "3005", "3006", "3008", "1010", "1009"}, {"3007"},
                  Links5(false), "SetSpecialSelectEnable(true)"},
        StateCase{"6", "5", {}, {}, {}, ""},
        StateCase{" 4", "5", {}, {}, {}, ""}));
