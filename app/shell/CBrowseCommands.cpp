#include "CBrowseCommands.h"

#include "AppGlobals.h"
#include "CScreenPrint.h"
#include "CTRX.h"
#include "ExportContext.h"
#include "FMain.h"
#include "ITreeGraphPanel.h"
#include "MBrowseViews.h"
#include "MExport.h"
#include "MPrint.h"
#include "MTessary.h"

namespace {

ExportContext Context() {
    auto& g = app::Globals();
    ExportContext ctx;
    ctx.project = g.gProject;
    ctx.dataDef = g.gDataDef;
    ctx.sqlMachine = g.gSqlMachine;
    ctx.regSettings = g.gRegSettings;
    ctx.trx = &g.gTRX;
    ctx.grid = MTessary::GridPanel();
    ctx.owner = MTessary::MainWindow();
    return ctx;
}

}  // namespace

CBrowseCommands& CBrowseCommands::Instance() {
    static CBrowseCommands instance;
    return instance;
}

void CBrowseCommands::Install() {
    static CScreenPrint screen;
    app::SetScreenPrint(&screen);
    shell::SetBrowseCommands(&Instance());
}

void CBrowseCommands::Export(int16_t scope) { MExport::Export(Context(), scope); }

void CBrowseCommands::Export2CSV() { MExport::Export2CSV(Context()); }

void CBrowseCommands::PrintTiled() {
    FMain* main = MTessary::MainWindow();
    base::ITreeGraphPanel* tree = main ? main->Panels().treeGraph : nullptr;
    IDispatch* chart = tree ? tree->GraphControl() : nullptr;
    const auto& trx = app::Globals().gTRX;
    // Without the chart there is nothing to print.
    if (!chart || !trx || !trx->HasTree()) return;
    MPrint::PrintTiled(chart, trx->LeafCount(), main, app::Globals().gProject.get());
}

std::shared_ptr<base::IDataBrowse> CBrowseCommands::NewBrowseView(int16_t browseType) {
    const auto& g = app::Globals();
    return MBrowseViews::NewBrowseView(browseType, g.gDataDef, g.gProject);
}
