// The main window: the menu-and-toolbar bar, the split frame with the eleven
// panels, the status bar and the workflow state machine. It owns no workflow
// logic: bar clicks go to the dispatcher, state changes to the step handlers.
#pragma once

#include "AppServices.h"
#include "CStateMachine.h"
#include "IShell.h"
#include "PanelSet.h"

#include <QMainWindow>

#include <cstdint>

class CCommandTable;
class CInputBlock;
class QAction;
class QKeySequence;
class UAppFrame;
class UStatusBar;

class FMain : public QMainWindow,
              public base::IShell,
              public app::IMainWindow,
              public app::IMenuBar {
    Q_OBJECT
public:
    // The eleven panel keys with their captions and control names, in registration order.
    struct PanelKey {
        const char* key;
        const char* caption;
        const char* control;
    };
    static const PanelKey kPanelKeys[11];

    explicit FMain(const PanelSet::Factory& factory);
    ~FMain() override;

    // Caption, panel registration, position, split and toolbar from the settings.
    void Load();

    CCommandTable* Bar() const { return mBar; }
    UAppFrame* Frame() const { return mFrame; }
    UStatusBar* StatusBar() const { return mStatus; }
    shell::CStateMachine& State() { return *mState; }
    const PanelSet& Panels() const { return mPanels; }
    // The recent-file entry last clicked (1 the newest); 0 until one is.
    int16_t RecentIndex = 0;
    // While on, activation changes reach the split frame.
    void SetActivationHook(bool on) { mHookInstalled = on; }
    bool ActivationHook() const { return mHookInstalled; }
    // True once the window has run its closing steps.
    bool Unloaded() const { return mUnloaded; }
    // The toolbar band follows the "ShowToolbar" setting.
    void ApplyToolbarSetting();

    // base::IShell
    QWidget* AppPanel(const QString& key) override;
    base::IGridPanel* GridPanel() override;
    QWidget* MainWidget() override { return this; }
    void StatusText(const QString& text) override;
    void StatusRecordCount(int32_t count) override;
    void MenuCommand(const QString& toolName) override;
    QString SelectDataSource() override;
    void ShowFieldStats() override;

    // app::IMainWindow: disabling keeps input from the window, leaving its
    // secondary windows (progress, find) usable.
    QString Name() const override { return objectName(); }
    bool Enabled() const override { return mEnabled; }
    void SetEnabled(bool enabled) override;
    app::IMenuBar* MenuBar() override { return this; }

    // app::IMenuBar: a key that is a tool's shortcut runs that tool.
    bool KeyDown(int16_t& keyCode, int16_t& shift) override;
    bool KeyUp(int16_t& keyCode, int16_t& shift) override;

    // Bar handlers.
    void ABMain_Click(QAction* tool);
    void ABMain_BandOpen(const QString& band);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void ConnectPanels();
    // Handlers of the table, field and row-range steps and of the field statistics view.
    void ConnectPrepPanels();
    void pnlTableSel_NavNext();
    void pnlTableSel_TableSelect(const QString& databaseName, const QString& tableName, bool& hasKey);
    void pnlFieldSel_FieldSelect(int16_t fieldNum);
    void pnlFieldSel_VerifyModification(bool& cancel);
    void pnlFieldSel_NavNext();
    void pnlSetLimits_NavNext();
    void pnlFieldView_ItemSelect(const QString& fieldName);
    // The result panels: prune, report, tree graph, matrix, field statistics, grid.
    void ConnectResultPanels();
    void ShowBrowseDetails(const QString& caption);
    void pnlTreeGraph_NodeOver(int32_t node);
    void pnlReport_Filter(int16_t option);
    void mState_SetState(int32_t newState);
    void QueryUnload();
    // A tool button still marked under the mouse where the pointer is not gets its leave.
    void LeaveStaleTools(const QPoint& pointer);
    // Opens the menu of the menu bar whose access key is key; false when none has it.
    bool OpenMenuByAccessKey(const QKeySequence& key);

    shell::CStateMachine* mState = nullptr;
    CCommandTable* mBar = nullptr;
    UAppFrame* mFrame = nullptr;
    UStatusBar* mStatus = nullptr;
    CInputBlock* mInputBlock = nullptr;
    PanelSet mPanels;
    bool mEnabled = true;
    bool mHookInstalled = false;
    bool mClickedOnce = false;
    bool mBandOpenedOnce = false;
    bool mUnloaded = false;
};
