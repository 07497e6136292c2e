// The browse code's commands as the dispatcher runs them, fed from the
// program's single instances: the exports, tiled printing of the flow chart,
// and browse views for the grid.
#pragma once

#include "IBrowseCommands.h"

class CBrowseCommands : public shell::IBrowseCommands {
public:
    // The one instance the program installs with its grid.
    static CBrowseCommands& Instance();
    // Installs it, and the window capture and printing of the print command.
    static void Install();

    void Export(int16_t scope) override;
    void Export2CSV() override;
    void PrintTiled() override;
    std::shared_ptr<base::IDataBrowse> NewBrowseView(int16_t browseType) override;
};
