// The main window's handlers of the first three steps (table, fields, row
// ranges) and of the field statistics view: what each stores in Config and
// what stands between a panel's Next and the move of the state machine.
#include "FMain.h"
#include "MConfigValues.h"
#include "ErrorGuard.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "CDataDef.h"
#include "CHourglass.h"
#include "CProject.h"
#include "CTRX.h"
#include "IClassViewPanel.h"
#include "IFieldSelectPanel.h"
#include "IFieldViewPanel.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"
#include "MMenu.h"
#include "MTessary.h"
#include "MTessaryGlobals.h"
#include "MdbUtils.h"
#include "UAppFrame.h"

#include "ui/dialogs.h"

#include <QApplication>

using app::Globals;
using MTessary::Project;

void FMain::ConnectPrepPanels() {
    if (auto* p = mPanels.tableSel) {
        connect(p, &base::ITableSelectPanel::NavNext, this,
                base::ShowingErrors("FMain::pnlTableSel_NavNext", [this] { pnlTableSel_NavNext(); }));
        connect(p, &base::ITableSelectPanel::TableSelect, this,
                base::ShowingErrors("FMain::pnlTableSel_TableSelect",
                               [this](const QString& db, const QString& table, bool& hasKey) {
                                   pnlTableSel_TableSelect(db, table, hasKey);
                               }));
    }
    if (auto* p = mPanels.fieldSel) {
        connect(p, &base::IFieldSelectPanel::FieldSelect, this, [this](int16_t n) { pnlFieldSel_FieldSelect(n); });
        connect(p, &base::IFieldSelectPanel::VerifyModification, this,
                base::ShowingErrors("FMain::pnlFieldSel_VerifyModification",
                               [this](bool& cancel) { pnlFieldSel_VerifyModification(cancel); }));
        connect(p, &base::IFieldSelectPanel::NavNext, this,
                base::ShowingErrors("FMain::pnlFieldSel_NavNext", [this] { pnlFieldSel_NavNext(); }));
    }
    if (auto* p = mPanels.setLimits)
        connect(p, &base::ISetLimitsPanel::NavNext, this,
                base::ShowingErrors("FMain::pnlSetLimits_NavNext", [this] { pnlSetLimits_NavNext(); }));
    if (auto* p = mPanels.fieldView)
        connect(p, &base::IFieldViewPanel::ItemSelect, this,
                base::ShowingErrors("FMain::pnlFieldView_ItemSelect",
                               [this](const QString& name) { pnlFieldView_ItemSelect(name); }));
}

void FMain::pnlTableSel_NavNext() {
    CProject& project = Project();
    project.SaveConfig("DatabaseName", mPanels.tableSel->DatabaseName().toStdString());
    project.SaveConfig("TableName", mPanels.tableSel->TableName().toStdString());
    if (MTessary::StatCollect()) mState->Move(+1);
}

void FMain::pnlTableSel_TableSelect(const QString& databaseName, const QString& tableName, bool& hasKey) {
    CHourglass busy;
    busy.SetValue(true);
    hasKey = false;
    if (databaseName.isEmpty() || tableName.isEmpty()) {
        mFrame->SetActivePanel(QString());
        mFrame->SetActivePanel(QStringLiteral("TableSelect"));
        return;
    }
    if (mPanels.fieldView) mPanels.fieldView->AltInitialize(databaseName, tableName);
    mFrame->SetActivePanel(QStringLiteral("FieldView"));
    DatabasePtr db = MdbUtils::OpenDataSource(databaseName.toStdString(), true);
    if (!db) return;
    // An ODBC source counts any unique index as the key; a file needs its primary index.
    const bool odbc = QString::fromStdString(db->Connect()).contains(QLatin1String("ODBC;"), Qt::CaseInsensitive);
    try {
        dao::TableDef table = db->TableDefs()[tableName.toStdString()];
        for (dao::Index index : table.Indexes()) {
            if (odbc ? index.Unique() : index.Primary()) {
                hasKey = true;
                break;
            }
        }
    } catch (const dao::DaoError&) {
        // A table that is gone has no key.
    }
    db->Close();
}

void FMain::pnlFieldSel_FieldSelect(int16_t fieldNum) {
    // Only a courtesy to the user: a field that cannot be shown is passed over.
    base::RecordErrors("FMain::pnlFieldSel_FieldSelect", [&] {
        auto dataDef = Globals().gDataDef;
        if (!dataDef) return;
        const QString name = QString::fromStdString(dataDef->FieldName(fieldNum));
        if (mPanels.fieldView) {
            mPanels.fieldView->SelectField(name);
            // A person choosing in the field lists goes on there with the keys.
            const QWidget* focus = QApplication::focusWidget();
            const bool choosing = focus && mPanels.fieldSel && mPanels.fieldSel->isAncestorOf(focus);
            if (mPanels.fieldView->isVisible() && !choosing) mPanels.fieldView->setFocus();
        }
        QString text = name;
        if (MdbUtils::FieldTypeClass(dataDef->FieldType(fieldNum)) == MdbUtils::TypeClassOrdered &&
            dataDef->MaxClass(fieldNum) >= 1)
            text += mPanels.fieldSel->MatchAsText(fieldNum) ? QStringLiteral("  ( As Text )")
                                                            : QStringLiteral("  ( As Number )");
        MMenu::StatusText(text);
    });
}

void FMain::pnlFieldSel_VerifyModification(bool& cancel) {
    if (MConfigValues::ConfigNumber("LastState", "1") < 4) return;
    if (ui::MsgBox(QStringLiteral("Changes to field selection will overwrite the previous rule extraction and "
                                  "classification.  Continue?"),
                   ui::Buttons::OKCancel, ui::Icon::Exclamation,
                   QStringLiteral("Modify Field Selection?")) == ui::Answer::Cancel)
        cancel = true;
}

void FMain::pnlFieldSel_NavNext() {
    if (mPanels.fieldSel->Changed()) {
        CProject& project = Project();
        std::shared_ptr<CDataDef> dataDef = Globals().gDataDef ? Globals().gDataDef : mPanels.fieldSel->CurrentDDO();
        if (!dataDef) app::RaiseError(91);
        // The project shows why it cannot be opened; the step stays where it is.
        DatabasePtr db = project.OpenProject(false);
        if (!db) return;
        // A failed write has said why; the step stays where it is.
        if (!dataDef->Save(db) || !project.SaveConfig("LastState", int32_t(mState->State() + 1))) return;
        MTessary::EnableByState();
        Globals().gTRX.reset();
    }
    mState->Move(+1);
}

void FMain::pnlSetLimits_NavNext() {
    CProject& project = Project();
    base::ISetLimitsPanel& limits = *mPanels.setLimits;
    const bool stored = !project.GetConfig("TrainLow", "").empty();
    if (!stored || limits.Changed()) {
        if (MConfigValues::ConfigNumber("LastState", "1") > mState->State()) {
            const bool trainChanged = MConfigValues::ConfigNumber("TrainLow", "0") != limits.TrainLow() ||
                                      MConfigValues::ConfigNumber("TrainHigh", "0") != limits.TrainHigh();
            const bool testChanged = MConfigValues::ConfigNumber("TestLow", "0") != limits.TestLow() ||
                                     MConfigValues::ConfigNumber("TestHigh", "0") != limits.TestHigh();
            if (!trainChanged && !testChanged) {
                mState->Move(+1);
                return;
            }
            QString question;
            if (trainChanged && testChanged)
                question = QStringLiteral("This will overwrite the previous rule extraction and classification.  "
                                          "Continue?");
            else if (trainChanged)
                question = QStringLiteral("This will overwrite the previous rule extraction.  Continue?");
            else
                question = QStringLiteral("This will overwrite the previous classification.  Continue?");
            if (ui::MsgBox(question, ui::Buttons::OKCancel, ui::Icon::Exclamation, QStringLiteral("Set Limits")) ==
                ui::Answer::Cancel) {
                limits.Initialize(MConfigValues::ConfigLong("RecordCount", "0"), MConfigValues::ConfigLong("TrainLow", "1"),
                                  MConfigValues::ConfigLong("TrainHigh", "500"), MConfigValues::ConfigLong("TestLow", "1"),
                                  MConfigValues::ConfigLong("TestHigh", "500"));
                return;
            }
        }
        if (!project.SaveConfig("TrainLow", int32_t(limits.TrainLow())) ||
            !project.SaveConfig("TrainHigh", int32_t(limits.TrainHigh())) ||
            !project.SaveConfig("TestLow", int32_t(limits.TestLow())) ||
            !project.SaveConfig("TestHigh", int32_t(limits.TestHigh())))
            return;
    }
    mState->Move(+1);
}

void FMain::pnlFieldView_ItemSelect(const QString& fieldName) {
    if (!Globals().gProject || MConfigValues::ConfigNumber("LastState", "-1") < 2) return;
    if (auto dataDef = Globals().gDataDef) {
        for (int16_t i = 0; i < dataDef->FieldCount(); ++i) {
            if (QString::fromStdString(dataDef->FieldName(i)) != fieldName) continue;
            if (dataDef->MaxClass(i) == 0) return;
            break;
        }
    }
    if (mPanels.classView) {
        mPanels.classView->Initialize(Globals().gProject);
        mPanels.classView->SetField(fieldName);
    }
    mFrame->SetActivePanel(QStringLiteral("ClassView"));
    MTessary::CheckViewTool(QStringLiteral("mnuViewClassList"));
}
