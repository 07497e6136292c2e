// The mark commands of the Marks menu: the rows of the grid's view, or the
// whole table, marked, toggled or cleared.
#include "MTessary.h"

#include "AppGlobals.h"
#include "CDataDef.h"
#include "CProject.h"
#include "IGridPanel.h"
#include "MMarks.h"

namespace MTessary {

void CurrentMarkAll(int16_t mode) {
    base::IGridPanel* grid = GridPanel();
    const auto& dataDef = app::Globals().gDataDef;
    if (grid && dataDef) MMarks::CurrentMarkAll(*grid, *dataDef, mode);
}

void MarkCluster(const std::string& sql) {
    base::IGridPanel* grid = GridPanel();
    const auto& globals = app::Globals();
    if (!grid || !globals.gProject || !globals.gDataDef) return;
    MMarks::MarkCluster(*grid, *globals.gProject, *globals.gDataDef, sql);
    // The grid reads through its own connection: the project's is closed on every way out.
    globals.gProject->CloseProject();
}

bool MarkCommand(const QString& toolName) {
    struct Command {
        const char* tool;
        int16_t mode;     // current view; -1 for the whole table
        const char* sql;  // whole table
    };
    static constexpr Command kCommands[] = {
        {"mnuCurrentMark", MMarks::ModeMark, nullptr},
        {"mnuCurrentToggle", MMarks::ModeToggle, nullptr},
        {"mnuCurrentClear", MMarks::ModeClear, nullptr},
        {"mnuEntireMark", -1, "UPDATE Test SET Mark = -1 ;"},
        {"mnuEntireToggle", -1, "UPDATE Test SET Mark = [Mark] Xor -1;"},
        {"mnuEntireClear", -1, "UPDATE Test SET Mark = 0 ;"},
    };
    for (const Command& c : kCommands) {
        if (toolName != QLatin1String(c.tool)) continue;
        if (c.sql) MarkCluster(c.sql);
        else CurrentMarkAll(c.mode);
        return true;
    }
    return false;
}

}  // namespace MTessary
