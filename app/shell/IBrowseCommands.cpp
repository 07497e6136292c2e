#include "IBrowseCommands.h"

namespace shell {

namespace {
IBrowseCommands* gCommands = nullptr;
}

IBrowseCommands* SetBrowseCommands(IBrowseCommands* commands) {
    IBrowseCommands* previous = gCommands;
    gCommands = commands;
    return previous;
}

IBrowseCommands* BrowseCommands() { return gCommands; }

}  // namespace shell
