// The main module: start-up and shutdown, the command dispatcher, tool
// enabling, the project commands, the step handlers and the views, help,
// about, preferences and text import. They work on the single instances of
// CTessaryApp::Instance().
#pragma once

#include "AppErrors.h"
#include "PanelSet.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CDataDef;
class CTRX;
class FMain;
class FStatus;

namespace base {
class IGridPanel;
}

namespace MTessary {

// The program's title, and its folder (Projects/, data/, the help program):
// $TESSARY_PROGRAM_DIR, else the executable's folder.
QString ProgramTitle();
QString ProgramDir();
// The class store the program's modules are registered in: $TESSARY_CLASSES,
// else one beside the executable (its folder or the one above it).
QString ClassStore();
// The per-user lock file of the single instance.
QString LockPath();

// Start-up. args: the command line without the program name. False when
// another instance runs (nothing was shown); true when the main window is up
// (even if opening the project failed).
bool Main(const QStringList& args);
void AppCleanup();
// The activation hook: each change of the main window's activation reaches the frame once.
void MainWindowProc(bool activated);

FMain* MainWindow();
FStatus* Status();  // made on first use
void ReleaseStatus();

// Commands and tools.
void MenuCommand(const QString& toolName);
void InitToolbar();
void EnableTool(const QVariant& key);
void DisableTool(const QVariant& key);
void CheckViewTool(const QVariant& key);
void ShowPanel(const QString& key);
base::IGridPanel* GridPanel();
void EnableByState();

// Project commands.
void StartNewProject();
void LoadProject(const QString& path);
void CloseCurrentProject();
// False after the box when the upgrade of an older project could not be stored.
bool UpgradeProject();
// What the check of a project file found: a project, a file that is no
// project (error.number 0), or the error that kept it from being read, so
// that the open that fails says why without opening the file again.
struct ProjectFileCheck {
    bool project = false;
    app::ErrInfo error;
    explicit operator bool() const { return project; }
};
// The checks of the open road. IsProjectFile shows no message; the relink
// reports a missing or unreadable data file, or a project it cannot read, then closes.
ProjectFileCheck IsProjectFile(const QString& path);
bool RelinkDataSource(const QString& path);
// The data-source dialog's hook, told of the file type picked (0 the first):
// the ODBC entry sets gOdbcChosen and closes the dialog (true).
bool OpenDialogHook(int16_t fileType);
// A link's stored path as a file: a relative one from the project's folder.
QString ResolveDataPath(const QString& stored, const QString& projectPath);
void HideSplash();
// A Config value read as a number (0 for no number), and as a 32-bit whole
// number (error 13 for no number).

// Step handlers: the statistics run of the chosen table (true when they
// were collected and stored), then states 2 to 5.
bool StatCollect();
void StateConfig();
void StateLimits();
void StateExtract();
void StateTest();

// Views.
void SetupBrowse(int32_t browseType, int16_t actual, int16_t predicted);
void ShowMatrix();
void ShowFieldStats();
void ShowClassList();
void ShowInteract();
void ShowInteractRow(const QVariant& key);
void ShowTree(int32_t mode);
void MENU_SFFindError();
void ZoomTree(bool zoomOut);
void NormalZoom();

// Rule extraction and test: the long operations behind the extraction step,
// the view tools kept in step with the right pane, and the tree driver made
// afresh (false, after the driver's own box, when it cannot be).
bool BuildTree();
bool LoadData();
void SyncViewTool();
bool NewTRX();
// The tree driver of the open project, made with its stored tree when there
// is none; false when it cannot be made.
bool LoadCurrentTree();
// 1 % of the training rows, halves to even, at least 1; 32-bit for big tables.
int32_t DefaultMinItems(int32_t trainLow, int32_t trainHigh);
// The grid over the training (or test) rows that reach a node of the tree.
void SetupBrowseNode(int32_t node, bool training);
// The tree on the tree-graph panel, and its colours; nothing without a tree.
void DisplayTree();
void ColourTree(int16_t mode, int16_t contrast);
// Zoom: the fitting percentage for a width in pixels and a span of items;
// the next zoom step from z (-1: no change).
int16_t FitZoom();
int16_t FitValue(double widthPixels, double span);
int16_t ZoomValue(int16_t z, bool zoomOut);
// Row marks of the current view (mode 0 mark, 1 toggle, 2 clear) and of the whole table.
void CurrentMarkAll(int16_t mode);
void MarkCluster(const std::string& sql);
// The six mark commands by tool name; false for any other name.
bool MarkCommand(const QString& toolName);

// Help, about, preferences, import.
QString HelpContext();
void ShowHelp();
void ShowAbout();
void EditPreferences();
void FileImport();

// Runs a long operation behind the progress window: caption, the working
// object (one of the two), the operation. Returns whether it was cancelled.
bool RunWithProgress(const QString& caption, std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CTRX> trx,
                     const std::function<void()>& operation);

// "True"/"False" or a number, as a Boolean; other text is error 13.
bool TextToBool(const std::string& text);

}  // namespace MTessary
