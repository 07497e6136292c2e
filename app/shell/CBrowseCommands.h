// The browse code's commands as the dispatcher runs them: browse views for
// the grid made from the program's single instances.
#pragma once

#include "IBrowseCommands.h"

class CBrowseCommands : public shell::IBrowseCommands {
public:
    // The one instance the program installs with its grid.
    static CBrowseCommands& Instance();

    void Export(int16_t scope) override;
    void Export2CSV() override;
    void PrintTiled() override;
    std::shared_ptr<shell::IDataBrowse> NewBrowseView(int16_t browseType) override;
};
