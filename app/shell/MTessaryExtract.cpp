// The rule-extraction and test steps: reuse, rebuild or reload the tree,
// classify the test rows, and keep the view tools in step with the view shown.
#include "MTessary.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "CCommandTable.h"
#include "CHourglass.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "CTRX.h"
#include "ErrorGuard.h"
#include "FMain.h"
#include "IPrunePanel.h"
#include "IReportPanel.h"
#include "ITreeGraphPanel.h"
#include "MConfigValues.h"
#include "MMenu.h"
#include "MTessaryGlobals.h"
#include "ToolIds.h"
#include "UAppFrame.h"

#include <cmath>
#include <string>

namespace MTessary {

namespace {

using MConfigValues::ConfigLong;
using MConfigValues::ConfigNumber;
using MConfigValues::ConfigSingle;

// Below this many leaves the tree is shown as a flow chart, the limit included.
constexpr int kFlowChartLeaves = 128;

int16_t Confidence(const CTRX& trx) { return int16_t(std::nearbyint(trx.SingleNormalConfidence(0))); }

void ShowPruneTotals(base::IPrunePanel& prune) {
    const auto& trx = Globals().gTRX;
    if (!trx || !trx->HasTree()) prune.SetTotalValues(0, 0, 0);
    else prune.SetTotalValues(trx->Items(), Confidence(*trx), int16_t(trx->Nodes()));
}

void ShowPruneAlone() {
    Main().Frame()->SetActivePanel(QString());
    Main().Frame()->SetActivePanel(QStringLiteral("Prune"));
}

// The tree's storage after a build: the tree, the rows it was built on, then
// the state that says it is there. False after the box when any of it could
// not be written.
bool StoreBuiltTree() {
    CHourglass busy;
    busy.SetValue(true);
    CProject& project = Project();
    CTRX& trx = *Globals().gTRX;
    if (!base::ShowErrors("MTessary::StateExtract", [&] {
        trx.SaveTree(&project);
    })) {
        return false;
    }
    return project.SaveConfig("LastTrainLow", project.GetConfig("TrainLow")) &&
           project.SaveConfig("LastTrainHigh", project.GetConfig("TrainHigh")) &&
           project.SaveConfig("LeafNodeCount", trx.LeafCount()) && project.SaveConfig("LastState", int16_t(4));
}

void ShowBuiltTree(base::IPrunePanel& prune) {
    FMain& main = Main();
    CTRX& trx = *Globals().gTRX;
    if (trx.HasTree()) prune.EnableNext();
    const int leaves = trx.LeafCount();
    int32_t& mode = Globals().gTreeMode;
    if (mode == -1) {
        mode = leaves <= kFlowChartLeaves ? 1 : 0;
        CheckViewTool(mode == 1 ? QStringLiteral("mnuViewFlow") : QStringLiteral("mnuViewTree"));
        MMenu::StatusText(mode == 1 ? QStringLiteral("Displaying Flow Chart View...")
                                    : QStringLiteral("Displaying Tree View..."));
    } else if (mode == 0) {
        MMenu::StatusText(QStringLiteral("Displaying Tree View..."));
    } else if (leaves > kFlowChartLeaves) {
        mode = 0;
        CheckViewTool(QStringLiteral("mnuViewTree"));
        MMenu::StatusText(QStringLiteral("Displaying Tree View..."));
    }
    if (auto* graph = main.Panels().treeGraph) graph->SetTreeType(mode);
    DisplayTree();
    ColourTree(prune.ColorItems(), prune.Contrast());
    ShowPruneTotals(prune);
    prune.SetLocalValues(-1, -1);
    main.Frame()->SetActivePanel(QStringLiteral("TreeGraph"));
    main.Frame()->SetCaptionRight(QStringLiteral("Rule Tree  ( ") + QString::number(trx.Nodes()) +
                                  QStringLiteral(" Nodes)"));
    EnableByState();
    MMenu::StatusText(QStringLiteral("Modify the current tree."));
    const int32_t lastHigh = ConfigLong("LastTrainHigh", "-1");
    const int32_t lastLow = ConfigLong("LastTrainLow", "-1");
    MMenu::StatusRecordCount(lastHigh - lastLow + 1);
    SyncViewTool();
}

void FailExtract(base::IPrunePanel& prune) {
    // Nothing here may stop the step from settling on the row-range state, nor
    // add a box to the one that said why it failed: the state is stored quietly.
    base::RecordErrors("MTessary::FailExtract", [&] {
        prune.DisableNext();
        ShowPruneAlone();
        Project().StoreConfig("LastState", com::Variant::I2(3));
    });
}

// True when the stored tree was read and holds one; a missing or damaged
// NodeData reads as no tree.
bool LoadStoredTree() {
    MMenu::StatusText(QStringLiteral("Loading the current tree..."));
    if (!base::RecordErrors("MTessary::LoadStoredTree", [&] {
        Globals().gTRX->LoadTree(Globals().gProject.get());
    })) {
        return false;
    }
    return Globals().gTRX->HasTree();
}

}  // namespace

int32_t DefaultMinItems(int32_t trainLow, int32_t trainHigh) {
    const double rows = double(trainHigh) - double(trainLow) + 1;
    const double items = std::nearbyint(rows * 0.01);
    return items < 1 ? 1 : int32_t(items);
}

bool NewTRX() {
    Globals().gTRX.reset();
    auto trx = std::make_shared<CTRX>();
    if (!trx->Initialize(Globals().gDataDef, Globals().gProject.get())) return false;
    Globals().gTRX = trx;
    return true;
}

void StateExtract() {
    base::ShowErrors("MTessary::StateExtract", [] {
        CHourglass busy;
        busy.SetValue(true);
        FMain& main = Main();
        base::IPrunePanel* prune = main.Panels().prune;
        if (!prune) return;
        const int32_t count = ConfigLong("RecordCount", "0");
        const int32_t trainHigh = ConfigLong("TrainHigh", std::to_string(count));
        const int32_t trainLow = ConfigLong("TrainLow", "1");
        const std::string defaultMin = std::to_string(DefaultMinItems(trainLow, trainHigh));
        if (main.Frame()->GetActiveKeyLeft() != QLatin1String("Prune")) {
            prune->SetPruneRate(ConfigSingle("PruneRate", "75"));
            prune->SetMinItems(ConfigLong("MinItems", defaultMin));
            ShowPruneTotals(*prune);
            prune->SetLocalValues(-1, -1);
            ShowPruneAlone();
            main.repaint();
        }
        const int32_t lastHigh = ConfigLong("LastTrainHigh", "-1");
        const int32_t lastLow = ConfigLong("LastTrainLow", "-1");
        const float pruneRate = ConfigSingle("PruneRate", "75");
        // A tree built without a stored minimum was built with the build's own
        // default: compare with that, or every visit would count as a change.
        const int32_t minItems = ConfigLong("MinItems", "2");
        const double lastState = ConfigNumber("LastState", "1");

        const bool rowsChanged = trainHigh != lastHigh || trainLow != lastLow;
        const auto& trx = Globals().gTRX;
        const bool minChanged = trx && minItems != trx->MinItems();
        const bool settingsChanged = trx && (minChanged || pruneRate != trx->PruneRate());
        const bool hadTree = lastState >= 4;

        bool built = false;
        if (rowsChanged) {
            if (!Project().SaveConfig("LastState", int16_t(3))) {
                FailExtract(*prune);
                return;
            }
            built = NewTRX() && BuildTree();
        } else if (settingsChanged) {
            if (minChanged) Globals().gTRX.reset();
            built = (Globals().gTRX || NewTRX()) && BuildTree();
        } else if (Globals().gTRX || NewTRX()) {
            if (hadTree && LoadStoredTree()) {
                ShowBuiltTree(*prune);
                return;
            }
            // No tree yet, or the stored one could not be read: build one.
            built = BuildTree();
        }
        if (!built) {
            FailExtract(*prune);
            return;
        }
        // A tree that could not be stored is no step made.
        if (!StoreBuiltTree()) {
            FailExtract(*prune);
            return;
        }
        prune->EnableNext();
        ShowBuiltTree(*prune);
    });
}

bool BuildTree() {
    bool result = false;
    base::ShowErrors("MTessary::BuildTree", [&] {
        CHourglass busy;
        busy.SetValue(true);
        std::shared_ptr<CTRX> trx = Globals().gTRX;
        if (!trx) app::RaiseError(91);
        if (trx->LoadCount() == 0 && !LoadData()) return;
        trx = Globals().gTRX;
        if (!trx) return;
        MMenu::StatusText(QStringLiteral("Extracting rules..."));
        busy.SetPointerType(13);
        const bool canceled = RunWithProgress(QStringLiteral("Extracting rules..."), nullptr, trx, [&] {
            trx->SetPruneRate(ConfigSingle("PruneRate", "75"));
            trx->SetMinItems(ConfigLong("MinItems", "2"));
            trx->BuildTree();
        });
        busy.SetPointerType(11);
        if (canceled || trx->Canceled()) {
            MMenu::StatusText(QStringLiteral("Operation canceled by user."));
            return;
        }
        ReleaseStatus();
        if (!trx->HasTree()) return;
        result = true;
    });
    return result;
}

bool LoadData() {
    bool result = false;
    base::ShowErrors("MTessary::LoadData", [&] {
        MMenu::StatusText(QStringLiteral("Loading data..."));
        CHourglass busy;
        busy.SetValue(true);
        busy.SetPointerType(13);
        std::shared_ptr<CTRX> trx = Globals().gTRX;
        if (!trx) app::RaiseError(91);
        const int32_t low = ConfigLong("TrainLow", "");
        const int32_t high = ConfigLong("TrainHigh", "");
        bool loaded = false;
        const bool canceled = RunWithProgress(QStringLiteral("Loading data..."), nullptr, trx,
                                              [&] { loaded = trx->LoadData(low, high); });
        busy.SetPointerType(11);
        ReleaseStatus();
        if (!loaded && !canceled && !trx->Canceled()) {
            // Its box has said why.
            Globals().gTRX.reset();
            return;
        }
        if (canceled || trx->Canceled()) {
            // A partly loaded engine is never kept.
            Globals().gTRX.reset();
            MMenu::StatusText(QStringLiteral("Operation canceled by user."));
            return;
        }
        result = true;
    });
    return result;
}

void StateTest() {
    base::ShowErrors("MTessary::StateTest", [] {
        CHourglass busy;
        busy.SetValue(true);
        FMain& main = Main();
        if (!LoadCurrentTree()) return;
        std::shared_ptr<CTRX> trx = Globals().gTRX;
        const int32_t testHigh = ConfigLong("TestHigh", "0");
        const int32_t testLow = ConfigLong("TestLow", "0");
        const double lastLow = ConfigNumber("LastTestLow", "-1");
        const double lastHigh = ConfigNumber("LastTestHigh", "-1");
        const double lastState = ConfigNumber("LastState", "1");
        if (lastLow != testLow || lastHigh != testHigh || lastState < 5) {
            MMenu::StatusText(QStringLiteral("Running Test Data..."));
            MMenu::StatusRecordCount(testHigh - testLow + 1);
            busy.SetPointerType(13);
            bool classified = false;
            const bool canceled = RunWithProgress(QStringLiteral("Running Test Data..."), nullptr, trx,
                                                  [&] { classified = trx->Classify(testLow, testHigh); });
            busy.SetPointerType(11);
            if (canceled || trx->Canceled()) {
                MMenu::StatusText(QStringLiteral("Operation canceled by user."));
                main.State().SetStateValue(4);
                return;
            }
            ReleaseStatus();
            // A run that failed (its box was shown) leaves the stored state as it was.
            if (!classified) return;
            CProject& project = Project();
            if (!project.SaveConfig("LastTestLow", testLow) || !project.SaveConfig("LastTestHigh", testHigh) ||
                !project.SaveConfig("LastState", int16_t(5)))
                return;
            EnableByState();
        }
        main.Frame()->SetActivePanel(QStringLiteral("Report"));
        MMenu::StatusRecordCount(testHigh - testLow + 1);
        SyncViewTool();
        MMenu::StatusText(QStringLiteral("Click any cell for details."));
    });
}

void SyncViewTool() {
    FMain& main = Main();
    const QString right = main.Frame()->GetActiveKeyRight();
    // The view tool and report link of what the right pane shows; none for another pane.
    struct View {
        int tool = 0;
        int16_t link = -1;
    } view;
    const bool flow = Globals().gTreeMode == 1;
    const bool testRows = Globals().gSqlMachine && Globals().gSqlMachine->BrowseType() != 0;
    if (right == QLatin1String("ClassView")) {
        view = {ToolIds::kViewClassList, base::kLinkClassList};
    } else if (right == QLatin1String("FieldView")) {
        view = {ToolIds::kViewFieldStats, base::kLinkFieldStats};
    } else if (right == QLatin1String("Matrix")) {
        view = {ToolIds::kViewMatrix, base::kLinkMatrix};
    } else if (right == QLatin1String("TreeGraph")) {
        view = flow ? View{ToolIds::kViewFlow, base::kLinkFlow} : View{ToolIds::kViewTree, base::kLinkTree};
    } else if (right == QLatin1String("DataGrid")) {
        view = testRows ? View{ToolIds::kViewBrowseTest, base::kLinkBrowseTest}
                        : View{ToolIds::kViewBrowseAll, base::kLinkBrowseAll};
    } else if (right == QLatin1String("IMode")) {
        view = {ToolIds::kLivePredict, base::kLinkLivePredict};
    }
    const PanelSet& p = main.Panels();
    if (main.Frame()->GetActiveKeyLeft() == QLatin1String("Report") && p.report) {
        p.report->SetNavigate(view.link);
        // The legend speaks of the tree on show, whichever way the view was reached.
        const auto& trx = Globals().gTRX;
        if (trx && trx->HasTree()) p.report->SetTotalValues(trx->Items(), Confidence(*trx));
        else p.report->SetTotalValues(0, 0);
        p.report->SetLocalValues(-1, -1);
        if (p.prune) {
            p.report->SetColorItems(p.prune->ColorItems());
            p.report->SetContrast(p.prune->Contrast());
        }
    }
    if (view.tool) CheckViewTool(ToolIds::Key(view.tool));
}

}  // namespace MTessary
