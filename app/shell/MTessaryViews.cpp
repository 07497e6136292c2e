// The rule tree in the right pane: showing it as rule text or flow chart,
// colouring it, and the zoom commands.
#include "MTessary.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "CHourglass.h"
#include "CTRX.h"
#include "FMain.h"
#include "IPrunePanel.h"
#include "IReportPanel.h"
#include "ITreeGraphPanel.h"
#include "MMenu.h"
#include "MTessaryGlobals.h"
#include "UAppFrame.h"

#include <cmath>
#include <cstdlib>

namespace MTessary {

namespace {

// What the tree driver fills; none when the shell runs over its tests' stand-ins.
ITreeDisplayTarget* DisplayTarget() {
    base::ITreeGraphPanel* panel = Main().Panels().treeGraph;
    return panel ? panel->DisplayTarget() : nullptr;
}

// The tree driver with a tree, or none.
CTRX* TreeDriver() {
    CTRX* trx = Globals().gTRX.get();
    return trx && trx->HasTree() ? trx : nullptr;
}

}  // namespace

bool LoadCurrentTree() {
    if (Globals().gTRX) return true;
    if (!NewTRX()) return false;
    MMenu::StatusText(QStringLiteral("Loading the current tree..."));
    Globals().gTRX->LoadTree(Globals().gProject.get());
    return true;
}

void DisplayTree() {
    CTRX* trx = TreeDriver();
    ITreeDisplayTarget* target = DisplayTarget();
    if (trx && target) trx->Display(*target);
}

void ColourTree(int16_t mode, int16_t contrast) {
    CTRX* trx = TreeDriver();
    ITreeDisplayTarget* target = DisplayTarget();
    if (trx && target) trx->SetContrast(*target, mode, contrast);
}

void ShowTree(int32_t mode) {
    LoadCurrentTree();
    CTRX* trx = TreeDriver();
    if (!trx) return;
    Globals().gTreeMode = mode == 0 ? 0 : 1;
    if (mode == 0) {
        CheckViewTool(QStringLiteral("mnuViewTree"));
        MMenu::StatusText(QStringLiteral("Displaying Tree View..."));
    } else {
        CheckViewTool(QStringLiteral("mnuViewFlow"));
        MMenu::StatusText(QStringLiteral("Displaying Flow Chart View..."));
    }
    const PanelSet& p = Main().Panels();
    if (p.treeGraph) p.treeGraph->SetTreeType(Globals().gTreeMode);
    DisplayTree();
    if (Globals().gTreeMode == 1 && p.report) ColourTree(p.report->ColorItems(), p.report->Contrast());
    if (p.report) {
        p.report->SetTotalValues(trx->Items(), int16_t(std::nearbyint(trx->SingleNormalConfidence(0))));
        p.report->SetLocalValues(-1, -1);
    }
    ShowPanel(QStringLiteral("TreeGraph"));
    Main().Frame()->SetCaptionRight(QStringLiteral("Rule Tree   ( ") + QString::number(trx->Nodes()) +
                                    QStringLiteral(" Nodes )"));
}

int16_t FitValue(double widthPixels, double span) {
    // Items all at one place (a single node, or no chart at all) fit at full size.
    if (!(span > 0)) return 100;
    const float z = float(widthPixels / span * 100.0);
    if (z < 10) return int16_t(std::abs(std::nearbyint(z)));
    if (z >= 100) return 100;
    const int n = int(std::nearbyint(z));
    return int16_t(10 * (n / 10) + (n % 10 >= 5 ? 10 : 0));
}

int16_t ZoomValue(int16_t z, bool zoomOut) {
    if (z > 800) return 800;
    if (z < 0) return 0;
    if (!zoomOut) {
        if (z >= 1 && z <= 9) return int16_t(z + 1);
        if (z < 100) return int16_t(z / 10 * 10 + 10);
        if (z < 200) return int16_t(z / 25 * 25 + 25);
        return int16_t(z / 100 * 100 + 100);
    }
    if (z <= 1) return -1;
    if (z <= 10) return int16_t(z - 1);
    if (z <= 100) return int16_t((z - 1) / 10 * 10);
    if (z <= 200) return int16_t((z - 1) / 25 * 25);
    return int16_t((z - 1) / 100 * 100);
}

int16_t FitZoom() {
    base::ITreeGraphPanel* graph = Main().Panels().treeGraph;
    if (!graph) return 100;
    double minX = 0, maxX = 0;
    const double span = std::nearbyint(graph->GetXExtremes(minX, maxX));
    return FitValue(graph->width(), span);
}

void ZoomTree(bool zoomOut) {
    CHourglass busy;
    busy.SetValue(true);
    base::ITreeGraphPanel* graph = Main().Panels().treeGraph;
    if (!graph) return;
    if (Globals().gTreeMode == 0) {
        if (zoomOut) graph->Collapse();
        else graph->Expand();
    }
    int16_t z = graph->Zoom();
    if (z == 0) z = FitZoom();
    const int16_t next = ZoomValue(z, zoomOut);
    if (next >= 0) graph->SetZoom(next);
}

void NormalZoom() {
    if (!TreeDriver()) return;
    FMain& main = Main();
    const PanelSet& p = main.Panels();
    int16_t mode = 2, contrast = 50;
    if (main.Frame()->GetActiveKeyLeft() == QLatin1String("Prune") && p.prune) {
        mode = p.prune->ColorItems();
        contrast = p.prune->Contrast();
    } else if (p.report) {
        mode = p.report->ColorItems();
        contrast = p.report->Contrast();
    }
    DisplayTree();
    ColourTree(mode, contrast);
}

}  // namespace MTessary
