// The export and printing commands the dispatcher runs, implemented by the
// browse code and installed by the shell at start-up.
#pragma once

#include "AppGlobals.h"
#include "IDataBrowse.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace shell {

class IBrowseCommands {
public:
    virtual ~IBrowseCommands() = default;
    // Scope -1: the marked rows of the current browse view; 0: of the entire table.
    virtual void Export(int16_t scope) = 0;
    // The current tree as a CSV file for the diagramming program.
    virtual void Export2CSV() = 0;
    // The flow chart over the pages chosen in the print dialog.
    virtual void PrintTiled() = 0;
    // A new browse view for the grid, initialised from the program's single
    // instances: type 0 all rows, 1 test rows; null when there is none.
    virtual std::shared_ptr<base::IDataBrowse> NewBrowseView(int16_t browseType) {
        (void)browseType;
        return nullptr;
    }
};

// Installation (not owned; nullptr uninstalls); returns the one it replaces.
inline IBrowseCommands* SetBrowseCommands(IBrowseCommands* commands) {
    return std::exchange(app::Services().browseCommands, commands);
}
inline IBrowseCommands* BrowseCommands() { return app::Services().browseCommands; }

}  // namespace shell
