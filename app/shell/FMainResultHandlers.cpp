// The main window's handlers of the result panels: the prune and report
// panels with their mirrored legends, the report filter, the tree graph, the
// confusion matrix, the field statistics and the grid.
#include "FMain.h"

#include "AppGlobals.h"
#include "CDataDef.h"
#include "CHourglass.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "CTRX.h"
#include "ErrorGuard.h"
#include "IClassViewPanel.h"
#include "IFieldViewPanel.h"
#include "IGridPanel.h"
#include "IMatrixPanel.h"
#include "IPrunePanel.h"
#include "IReportPanel.h"
#include "ITreeGraphPanel.h"
#include "MConfigValues.h"
#include "MMenu.h"
#include "MTessary.h"
#include "MTessaryGlobals.h"
#include "MdbUtils.h"
#include "UAppFrame.h"

#include <cmath>

using app::Globals;

namespace {

// The tree driver while it holds a tree that has this node.
CTRX* TreeWithNode(int32_t node) {
    CTRX* trx = Globals().gTRX.get();
    return trx && trx->HasTree() && node >= 0 && node < trx->Nodes() ? trx : nullptr;
}

QVariant KeyValue(const com::Variant& v) {
    if (v.IsNull() || v.vt == VT_EMPTY) return QVariant();
    switch (v.vt) {
        case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_UI1: case VT_CY: case VT_DECIMAL: case VT_I8:
            return QVariant(v.ToR8());
        default:
            return QVariant(QString::fromStdString(dao::VarToString(v)));
    }
}

}  // namespace

void FMain::ConnectResultPanels() {
    const PanelSet& p = mPanels;
    if (auto* prune = p.prune) {
        connect(prune, &base::IPrunePanel::NavNext, this, base::ShowingErrors("FMain::pnlPrune_NavNext", [this] {
                    if (Globals().gTRX && Globals().gTRX->HasTree()) mState->Move(+1);
                }));
        connect(prune, &base::IPrunePanel::ReBuild, this, base::ShowingErrors("FMain::pnlPrune_ReBuild", [this] {
                    base::IPrunePanel& panel = *mPanels.prune;
                    auto project = Globals().gProject;
                    if (!project) return;
                    // The rate as the single the user chose, so it reads back as typed.
                    if (!project->SaveConfig("PruneRate", panel.PruneRate()) ||
                        !project->SaveConfig("MinItems", panel.MinItems()))
                        return;
                    MTessary::StateExtract();
                    if (Globals().gTRX && Globals().gTRX->HasTree()) panel.EnableNext();
                    else panel.DisableNext();
                }));
        connect(prune, &base::IPrunePanel::ColorChange, this,
                base::ShowingErrors("FMain::pnlPrune_ColorChange", [this](int16_t mode, int16_t contrast) {
                    MTessary::ColourTree(mode, contrast);
                    if (auto* report = mPanels.report) {
                        report->SetColorItems(mode);
                        report->SetContrast(contrast);
                    }
                }));
        connect(prune, &base::IPrunePanel::Refresh, this, base::ShowingErrors("FMain::pnlPrune_Refresh", [this] {
                    MTessary::DisplayTree();
                    MTessary::ColourTree(mPanels.prune->ColorItems(), mPanels.prune->Contrast());
                }));
    }
    if (auto* report = p.report) {
        connect(report, &base::IReportPanel::ColorChange, this,
                base::ShowingErrors("FMain::pnlReport_ColorChange", [this](int16_t mode, int16_t contrast) {
                    MTessary::ColourTree(mode, contrast);
                    if (auto* prune = mPanels.prune) {
                        prune->SetColorItems(mode);
                        prune->SetContrast(contrast);
                    }
                }));
        connect(report, &base::IReportPanel::Filter, this,
                base::ShowingErrors("FMain::pnlReport_Filter", [this](int16_t option) { pnlReport_Filter(option); }));
    }
    if (auto* matrix = p.matrix)
        connect(matrix, &base::IMatrixPanel::ItemClick, this,
                base::ShowingErrors("FMain::pnlMatrix_ItemClick", [this](int16_t actual, int16_t predicted) {
                    CHourglass busy;
                    busy.SetValue(true);
                    MTessary::SetupBrowse(1, actual, predicted);
                    ShowBrowseDetails(QStringLiteral("Browse Details (From Confusion Matrix)"));
                }));
    if (auto* tree = p.treeGraph) {
        connect(tree, &base::ITreeGraphPanel::NodeOver, this,
                base::ShowingErrors("FMain::pnlTreeGraph_NodeOver", [this](int32_t node) { pnlTreeGraph_NodeOver(node); }));
        connect(tree, &base::ITreeGraphPanel::ItemClick, this,
                base::ShowingErrors("FMain::pnlTreeGraph_ItemClick", [this](int32_t node) {
                    CHourglass busy;
                    busy.SetValue(true);
                    if (MConfigValues::ConfigNumber("LastState", "1") < 5) {
                        MMenu::StatusText(
                            QStringLiteral("Classification of test data has not been completed. ( Use !Extract )"));
                        return;
                    }
                    MTessary::SetupBrowseNode(node, mFrame->GetActiveKeyLeft() == QLatin1String("Prune"));
                    MTessary::CheckViewTool(QStringLiteral("3002"));
                    ShowBrowseDetails(QStringLiteral("Browse Details (From Flow Chart)"));
                }));
    }
    if (auto* grid = p.grid) {
        connect(grid, &base::IGridPanel::AddSort, this,
                base::ShowingErrors("FMain::pnlGrid_AddSort", [this](const QString& field, bool descending) {
                    auto sql = Globals().gSqlMachine;
                    if (!sql) return;
                    sql->AddSort(field.toStdString(), descending);
                    MMenu::StatusText(QStringLiteral("Sorted by: ") + QString::fromStdString(sql->SortFields()));
                    mPanels.grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
                }));
        connect(grid, &base::IGridPanel::SelectSpecial, this, base::ShowingErrors("FMain::pnlGrid_SelectSpecial", [this] {
                    RecordsetPtr rs = mPanels.grid->RecordSet();
                    const auto& dataDef = Globals().gDataDef;
                    // No current row: nothing to predict.
                    if (!rs || !dataDef || rs->Bof() || rs->Eof()) return;
                    const std::string key = dataDef->FieldName(dataDef->PrimaryKeyField());
                    MTessary::ShowInteractRow(KeyValue(rs->Fields(key).Value()));
                }));
    }
}

void FMain::ShowBrowseDetails(const QString& caption) {
    mFrame->SetActivePanel(QStringLiteral("DataGrid"));
    if (mPanels.report) mPanels.report->SetNavigate(1);
    mFrame->SetCaptionRight(caption);
    MMenu::StatusText(QStringLiteral("Browsing details."));
}

void FMain::pnlTreeGraph_NodeOver(int32_t node) {
    const bool fromPrune = mFrame->GetActiveKeyLeft() == QLatin1String("Prune");
    CTRX* trx = TreeWithNode(node);
    int16_t mode = 2;
    if (fromPrune && mPanels.prune) {
        mode = mPanels.prune->ColorItems();
        if (trx) mPanels.prune->SetLocalValues(CTRX::WholeCount(trx->LocalItems(node)),
                                               trx->SingleNormalConfidence(node));
        else mPanels.prune->SetLocalValues(-1, -1);
    } else if (mPanels.report) {
        mode = mPanels.report->ColorItems();
        if (trx) mPanels.report->SetLocalValues(CTRX::WholeCount(trx->LocalItems(node)),
                                                trx->SingleNormalConfidence(node));
        else mPanels.report->SetLocalValues(-1, -1);
    }
    base::ITreeGraphPanel* tree = mPanels.treeGraph;
    if (QWidget* shown = tree->Tree())
        shown->setToolTip(tree->TreeType() == 1 && trx ? QString::fromStdString(trx->NodeToolTip(node, mode))
                                                       : QString());
}

void FMain::pnlReport_Filter(int16_t option) {
    CHourglass busy;
    busy.SetValue(true);
    auto sql = Globals().gSqlMachine;
    base::IGridPanel* grid = mPanels.grid;
    if (!sql || !grid) return;
    struct Choice {
        int16_t markView, predictType;
        const char* caption;
        const char* status;
    };
    static constexpr Choice kChoices[] = {
        {1, 0, "Data Browse - Marked Rows", "Browsing all marked rows."},
        {2, 0, "Data Browse - Unmarked Rows", "Browsing all unmarked rows."},
        {0, 1, "Data Browse - Correct Predictions", "Browsing correct predictions."},
        {0, 2, "Data Browse - Incorrect Predictions", "Browsing incorrect predictions."},
    };
    if (option == 0) {
        sql->SetMarkView(0);
        sql->SetPredictType(0);
        if (sql->BrowseType() == 0) {
            MMenu::StatusText(QStringLiteral("Browsing all rows."));
            mFrame->SetCaptionRight(QStringLiteral("Browse All Data"));
        } else if (!sql->ReplaceWhere().empty()) {
            mFrame->SetCaptionRight(QStringLiteral("Browse Details (From Flow Chart)"));
        } else {
            MMenu::StatusText(QStringLiteral("Browsing the rows in the test set."));
            mFrame->SetCaptionRight(QStringLiteral("Browse Test Data"));
        }
    } else if (option >= 1 && option <= 4) {
        const Choice& c = kChoices[option - 1];
        sql->SetMarkView(c.markView);
        sql->SetPredictType(c.predictType);
        mFrame->SetCaptionRight(QString::fromUtf8(c.caption));
        MMenu::StatusText(QString::fromUtf8(c.status));
    }
    grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
    grid->Refresh();
    // The count is a courtesy: the view stands without it.
    base::RecordErrors("FMain::pnlReport_Filter", [&] {
        MMenu::StatusRecordCount(grid->RecordCount());
    });
}
