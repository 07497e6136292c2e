// The ids of the main window's tools that the shell switches by code (the command
// table gives every tool its id, name and caption). A tool is looked up by the
// text of its id; a number alone would be taken for a position.
#pragma once

#include <QString>

namespace ToolIds {

// The menus and their sub-menus.
constexpr int kMenuFile = 1000;
constexpr int kMenuEdit = 2000;
constexpr int kMenuView = 3000;
constexpr int kMenuMarks = 4000;
constexpr int kMenuMarkCurrent = 4100;
constexpr int kMenuMarkEntire = 4200;
constexpr int kMenuHelp = 5000;

constexpr int kFileNew = 1001;
constexpr int kFileOpen = 1002;
constexpr int kFileClose = 1003;
constexpr int kFileImport = 1004;
constexpr int kFileExit = 1006;
constexpr int kExportTree = 1009;
constexpr int kReConfig = 1010;
constexpr int kEditPreferences = 2005;
constexpr int kHelpManual = 5001;
constexpr int kHelpAbout = 5003;

// The view tools, the only ones ever ticked; one at a time is.
constexpr int kViewBrowseAll = 3001;
constexpr int kViewBrowseTest = 3002;
constexpr int kViewMatrix = 3003;
constexpr int kViewFieldStats = 3004;
constexpr int kViewClassList = 3005;
constexpr int kViewTree = 3006;
constexpr int kViewFlow = 3007;
constexpr int kLivePredict = 3008;
constexpr int kViewTools[] = {kViewBrowseAll, kViewBrowseTest, kViewMatrix, kViewFieldStats,
                              kViewClassList, kViewTree,       kViewFlow,   kLivePredict};

inline QString Key(int id) { return QString::number(id); }

}  // namespace ToolIds
