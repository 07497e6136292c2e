#include "CBrowseCommands.h"

#include "AppGlobals.h"
#include "MBrowseViews.h"

CBrowseCommands& CBrowseCommands::Instance() {
    static CBrowseCommands instance;
    return instance;
}

// The exports and printing are not part of this program yet.
void CBrowseCommands::Export(int16_t) {}
void CBrowseCommands::Export2CSV() {}
void CBrowseCommands::PrintTiled() {}

std::shared_ptr<shell::IDataBrowse> CBrowseCommands::NewBrowseView(int16_t browseType) {
    const auto& g = shell::Globals();
    return MBrowseViews::NewBrowseView(browseType, g.gDataDef, g.gProject);
}
