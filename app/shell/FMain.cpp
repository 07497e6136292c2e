#include "FMain.h"

#include "AppErrors.h"
#include "CCommandTable.h"
#include "CHourglass.h"
#include "CInputBlock.h"
#include "CSqlMachine.h"
#include "CTessaryApp.h"
#include "ErrorGuard.h"
#include "FSplash.h"
#include "FStatus.h"
#include "IClassViewPanel.h"
#include "IFieldSelectPanel.h"
#include "IFieldViewPanel.h"
#include "IGridPanel.h"
#include "IInteractivePanel.h"
#include "IMatrixPanel.h"
#include "IPrunePanel.h"
#include "IReportPanel.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"
#include "ITreeGraphPanel.h"
#include "KeyCodes.h"
#include "MMenu.h"
#include "MTessary.h"
#include "MUtilities.h"
#include "UAppFrame.h"
#include "UStatusBar.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcutEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

const FMain::PanelKey FMain::kPanelKeys[11] = {
    {"TableSelect", "Table Selection", "pnlTableSel"}, {"Configure", "Field Selection", "pnlFieldSel"},
    {"SetLimits", "Row Selection", "pnlSetLimits"},    {"Prune", "Rule Extraction", "pnlPrune"},
    {"Report", "Reports", "pnlReport"},                {"ClassView", "Class Details", "pnlClassView"},
    {"FieldView", "Field Statistics", "pnlFieldView"}, {"Matrix", "Confusion Matrix", "pnlMatrix"},
    {"TreeGraph", "Rule Tree", "pnlTreeGraph"},        {"DataGrid", "Browse Data", "pnlGrid"},
    {"IMode", "Live Predictions", "pnlInteract"},
};

FMain::FMain(const PanelSet::Factory& factory) {
    setObjectName(QStringLiteral("FMain"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Form_Initialize: the state machine with its five states.
    mState = new shell::CStateMachine(this);
    mState->SetCount(5);
    mBar = new CCommandTable(this);
    mFrame = new UAppFrame(this);
    setCentralWidget(mFrame);
    mStatus = new UStatusBar(this);
    setStatusBar(mStatus);
    mInputBlock = new CInputBlock(this);
    // The bars offer no menu of their own.
    setContextMenuPolicy(Qt::PreventContextMenu);

    mPanels = factory(mFrame);
    QWidget* const panels[11] = {mPanels.tableSel,  mPanels.fieldSel,  mPanels.setLimits, mPanels.prune,
                                 mPanels.report,    mPanels.classView, mPanels.fieldView, mPanels.matrix,
                                 mPanels.treeGraph, mPanels.grid,      mPanels.interact};
    // Step panels lie left of the slider, views right of it: that is how the frame assigns the panes.
    for (int i = 0; i < 11; ++i) {
        panels[i]->setObjectName(QString::fromUtf8(kPanelKeys[i].control));
        panels[i]->setGeometry(i < 5 ? 0 : UAppFrame::kDesignSplit + UAppFrame::kSliderWidth, 0, 100, 100);
        panels[i]->setVisible(false);
    }
    ConnectPanels();
    connect(mBar, &CCommandTable::Click, this,
            base::ShowingErrors("FMain::ABMain_Click", [this](QAction* tool) { ABMain_Click(tool); }));
    connect(mBar, &CCommandTable::BandOpen, this,
            base::ShowingErrors("FMain::ABMain_BandOpen", [this](const QString& band) { ABMain_BandOpen(band); }));
    connect(mState, &shell::CStateMachine::SetState, this,
            base::ShowingErrors("FMain::mState_SetState", [this](int32_t s) { mState_SetState(s); }));
    const auto forwardDown = [](int16_t& code, int16_t& shift) { MUtilities::MenuKeyDown(code, shift); };
    const auto forwardUp = [](int16_t& code, int16_t& shift) { MUtilities::MenuKeyUp(code, shift); };
    connect(mFrame, &UAppFrame::KeyDown, this, base::ShowingErrors("FMain::UAFMain_KeyDown", forwardDown));
    connect(mFrame, &UAppFrame::KeyUp, this, base::ShowingErrors("FMain::UAFMain_KeyUp", forwardUp));
    connect(mStatus, &UStatusBar::KeyDown, this, base::ShowingErrors("FMain::USBMain_KeyDown", forwardDown));
    connect(mStatus, &UStatusBar::KeyUp, this, base::ShowingErrors("FMain::USBMain_KeyUp", forwardUp));
    // Access keys shared by a control and a menu are settled in eventFilter.
    qApp->installEventFilter(this);
}

FMain::~FMain() {
    qApp->removeEventFilter(this);
    if (base::Shell() == this) base::SetShell(nullptr);
}

void FMain::ConnectPanels() {
    ConnectPrepPanels();
    const auto forwardDown = [](int16_t& code, int16_t& shift) { MUtilities::MenuKeyDown(code, shift); };
    const auto forwardUp = [](int16_t& code, int16_t& shift) { MUtilities::MenuKeyUp(code, shift); };
    if (auto* p = mPanels.tableSel) {
        connect(p, &base::ITableSelectPanel::NavBack, this,
                base::ShowingErrors("FMain::pnlTableSel_NavBack", [this] { mFrame->SetActivePanel(QString()); }));
        connect(p, &base::ITableSelectPanel::KeyDown, this, base::ShowingErrors("FMain::pnlTableSel_KeyDown", forwardDown));
        connect(p, &base::ITableSelectPanel::KeyUp, this, base::ShowingErrors("FMain::pnlTableSel_KeyUp", forwardUp));
    }
    if (auto* p = mPanels.fieldSel) {
        connect(p, &base::IFieldSelectPanel::KeyDown, this, base::ShowingErrors("FMain::pnlFieldSel_KeyDown", forwardDown));
        connect(p, &base::IFieldSelectPanel::KeyUp, this, base::ShowingErrors("FMain::pnlFieldSel_KeyUp", forwardUp));
    }
    if (auto* p = mPanels.setLimits)
        connect(p, &base::ISetLimitsPanel::NavBack, this,
                base::ShowingErrors("FMain::pnlSetLimits_NavBack", [this] { mState->Move(-1); }));
    if (auto* p = mPanels.prune) {
        connect(p, &base::IPrunePanel::NavBack, this,
                base::ShowingErrors("FMain::pnlPrune_NavBack", [this] { mState->Move(-1); }));
        connect(p, &base::IPrunePanel::ChartChange, this,
                base::ShowingErrors("FMain::pnlPrune_ChartChange", [](int16_t mode) {
                    MTessary::MenuCommand(mode == 1 ? QStringLiteral("mnuViewFlow") : QStringLiteral("mnuViewTree"));
                }));
    }
    if (auto* p = mPanels.report) {
        connect(p, &base::IReportPanel::NavNext, this,
                base::ShowingErrors("FMain::pnlReport_NavNext", [this] { mState->SetStateValue(2); }));
        connect(p, &base::IReportPanel::Navigate, this, base::ShowingErrors("FMain::pnlReport_Navigate", [](int16_t index) {
                    static const char* const kTools[] = {"mnuViewBrowseAll",  "mnuViewBrowseTest", "mnuViewMatrix",
                                                         "mnuViewFieldStats", "mnuViewClassList",  "mnuViewTree",
                                                         "mnuViewFlow",       "mnuLivePredict"};
                    MTessary::MenuCommand(index >= 0 && index < 8 ? QString::fromUtf8(kTools[index]) : QString());
                }));
    }
    if (auto* p = mPanels.treeGraph) {
        connect(p, &base::ITreeGraphPanel::Show, this, base::ShowingErrors("FMain::pnlTreeGraph_Show", [this] {
                    MTessary::EnableTool(QStringLiteral("6001"));
                    MTessary::EnableTool(QStringLiteral("6002"));
                    const bool flow = mPanels.treeGraph->TreeType() == 1;
                    if (mPanels.prune) mPanels.prune->ShowType(flow ? 1 : 0);
                    for (const char* id : {"1008", "6005"}) {
                        if (flow) MTessary::EnableTool(QString::fromUtf8(id));
                        else MTessary::DisableTool(QString::fromUtf8(id));
                    }
                }));
        connect(p, &base::ITreeGraphPanel::Hide, this, base::ShowingErrors("FMain::pnlTreeGraph_Hide", [] {
                    for (const char* id : {"6001", "6002", "1008", "6005"}) MTessary::DisableTool(QString::fromUtf8(id));
                }));
    }
    if (auto* p = mPanels.grid) {
        connect(p, &base::IGridPanel::Show, this, base::ShowingErrors("FMain::pnlGrid_Show", [] {
                    if (!app::Globals().gSqlMachine) return;
                    for (const char* id :
                         {"4101", "4102", "4103", "4104", "4201", "4202", "4203", "4204", "2001", "2002", "2003"})
                        MTessary::EnableTool(QString::fromUtf8(id));
                    if (app::Globals().gSqlMachine->BrowseType() == 1) MTessary::EnableTool(QStringLiteral("2004"));
                    else MTessary::DisableTool(QStringLiteral("2004"));
                }));
        connect(p, &base::IGridPanel::Hide, this, base::ShowingErrors("FMain::pnlGrid_Hide", [] {
                    for (const char* id : {"4101", "4102", "4103", "4104", "4201", "4202", "4203", "4204", "2001",
                                           "2002", "2003", "2004"})
                        MTessary::DisableTool(QString::fromUtf8(id));
                }));
    }
    ConnectResultPanels();
}

namespace {

// A window rectangle that lies on no screen, or has no size, is brought onto the nearest one.
QRect OnScreen(const QRect& wanted) {
    QScreen* screen = QGuiApplication::screenAt(wanted.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return wanted;
    const QRect avail = screen->availableGeometry();
    QRect r = wanted;
    if (r.width() <= 0 || r.width() > avail.width()) r.setWidth(avail.width());
    if (r.height() <= 0 || r.height() > avail.height()) r.setHeight(avail.height());
    if (!avail.intersects(r) || !avail.contains(r)) {
        r.moveLeft(std::clamp(r.left(), avail.left(), avail.right() - r.width() + 1));
        r.moveTop(std::clamp(r.top(), avail.top(), avail.bottom() - r.height() + 1));
    }
    return r;
}

}  // namespace

void FMain::Load() {
    setWindowTitle(MTessary::ProgramTitle());
    mBar->BandMain()->updateGeometry();
    for (const PanelKey& k : kPanelKeys)
        mFrame->AddItem(QString::fromUtf8(k.key), QString::fromUtf8(k.caption), QString::fromUtf8(k.control));
    MUtilities::RestoreFormPosition(*this);
    setGeometry(OnScreen(geometry()));
    // Stored in twips as a 32-bit number; a split wider than the frame would stop every layout.
    const std::string stored = MUtilities::GetRegSetting("Window", "SplitPosition",
                                                         std::to_string(mFrame->SplitPosition()));
    bool ok = false;
    const double twips = QString::fromStdString(stored).trimmed().toDouble(&ok);
    if (!ok) app::RaiseError(13);
    const int frameWidth = width();
    const int pixels = std::clamp(int(std::clamp(twips, -1e9, 1e9)) / UAppFrame::kScale, 20,
                                  std::max(20, frameWidth - 29));
    mFrame->SetSplitPosition(pixels * UAppFrame::kScale);
    ApplyToolbarSetting();
    mBar->BandMain()->updateGeometry();
}

void FMain::ApplyToolbarSetting() {
    mBar->MainToolbar()->setVisible(MTessary::TextToBool(MUtilities::GetRegSetting("Config", "ShowToolbar", "True")));
}

QWidget* FMain::AppPanel(const QString& key) {
    QWidget* const panels[11] = {mPanels.tableSel,  mPanels.fieldSel,  mPanels.setLimits, mPanels.prune,
                                 mPanels.report,    mPanels.classView, mPanels.fieldView, mPanels.matrix,
                                 mPanels.treeGraph, mPanels.grid,      mPanels.interact};
    for (int i = 0; i < 11; ++i)
        if (key == QLatin1String(kPanelKeys[i].key)) return panels[i];
    return nullptr;
}

base::IGridPanel* FMain::GridPanel() { return mPanels.grid; }
void FMain::StatusText(const QString& text) { MMenu::StatusText(text); }
void FMain::StatusRecordCount(int32_t count) { MMenu::StatusRecordCount(count); }
void FMain::MenuCommand(const QString& toolName) { MTessary::MenuCommand(toolName); }
QString FMain::SelectDataSource() { return MMenu::SelectDataSource(); }
void FMain::ShowFieldStats() { MTessary::ShowFieldStats(); }

void FMain::SetEnabled(bool enabled) {
    // Not the window itself: a disabled window would disable its progress and
    // find windows with it, and their Cancel with them. The bars go grey; the
    // central area stays as it is, so that its widgets keep their own enabled
    // state, and the input block keeps clicks and keys from it.
    if (enabled && !mEnabled) {
        // Clicks and keys made during the command may still wait in the window
        // system's queue: they are dropped once the last holder of the busy
        // state has let go, before the window takes input again. (A holder that
        // turns it off for a dialog leaves input to the dialog's modality.) A
        // command run by another event meanwhile leaves the enabling to this.
        if (mInputBlock->Draining()) return;
        if (CHourglass::BusyCount() == 0) mInputBlock->Drain();
    }
    mEnabled = enabled;
    mBar->BandMain()->setEnabled(enabled);
    mBar->MainToolbar()->setEnabled(enabled);
    // The box being typed in takes its text over before the command runs, as
    // on leaving it. A list keeps the focus: it has no text to give, and the
    // next key of a person moving through it must reach it.
    if (QWidget* focus = focusWidget(); !enabled && focus && mFrame->isAncestorOf(focus) &&
                                        !qobject_cast<QAbstractItemView*>(focus))
        focus->clearFocus();
    mInputBlock->SetOn(!enabled);
    CTessaryApp* app = CTessaryApp::Instance();
    if (enabled && app && app->closePending && app->operations == 0) {
        app->closePending = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

bool FMain::KeyDown(int16_t& keyCode, int16_t& shift) {
    QAction* tool = mBar->ToolForKey(keyCode, shift);
    if (!tool || !tool->isEnabled()) return false;
    tool->trigger();
    return true;
}

bool FMain::KeyUp(int16_t& keyCode, int16_t& shift) {
    QAction* tool = mBar->ToolForKey(keyCode, shift);
    return tool && tool->isEnabled();
}

void FMain::ABMain_Click(QAction* tool) {
    if (!mClickedOnce) {
        mClickedOnce = true;
        if (CTessaryApp* app = CTessaryApp::Instance())
            if (app->splash) app->splash->close();
    }
    if (tool->objectName() == QLatin1String("mnuRecent")) RecentIndex = int16_t(tool->property("number").toInt());
    MTessary::MenuCommand(tool->objectName());
}

void FMain::ABMain_BandOpen(const QString&) {
    if (mBandOpenedOnce) return;
    mBandOpenedOnce = true;
    if (CTessaryApp* app = CTessaryApp::Instance())
        if (app->splash) app->splash->close();
}

void FMain::mState_SetState(int32_t newState) {
    CHourglass hold;
    hold.SetValue(true);
    switch (newState) {
        case 2: MTessary::StateConfig(); break;
        case 3: MTessary::StateLimits(); break;
        case 4: MTessary::StateExtract(); break;
        case 5: MTessary::StateTest(); break;
        default: break;
    }
}

void FMain::closeEvent(QCloseEvent* event) {
    CTessaryApp* app = CTessaryApp::Instance();
    if (app && (app->operations > 0 || mInputBlock->Draining())) {
        // Closing during a long step, or at the end of a command: cancel it,
        // and close once it has returned.
        app->closePending = true;
        if (app->operations > 0 && app->status) app->status->CancelClick();
        event->ignore();
        return;
    }
    base::ShowErrors("FMain::Form_QueryUnload", [this] { QueryUnload(); });
    event->accept();
}

void FMain::QueryUnload() {
    if (mUnloaded) return;
    mUnloaded = true;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isWindow() && !w->objectName().isEmpty() && w->objectName() != objectName()) w->close();
    MUtilities::SaveFormPosition(*this);
    MUtilities::SaveRegSetting("Window", "SplitPosition", std::to_string(mFrame->SplitPosition()));
    MTessary::AppCleanup();
}

bool FMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && mEnabled)
        LeaveStaleTools(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
    // A control of this window with a menu's access key (the "&Finish" button
    // and the "&File" menu): the menu takes the key, as menu access keys do on
    // the desktop the program comes from, instead of Qt moving the focus
    // between the two.
    if (event->type() == QEvent::Shortcut) {
        auto* shortcut = static_cast<QShortcutEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (shortcut->isAmbiguous() && widget && widget != menuBar() && widget->window() == this &&
            OpenMenuByAccessKey(shortcut->key()))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void FMain::LeaveStaleTools(const QPoint& pointer) {
    // Qt can lose the leave of a tool button that a menu closed over while a
    // command ran: the button stayed drawn hovered and its tip held the status bar.
    for (QToolButton* tool : mBar->MainToolbar()->findChildren<QToolButton*>()) {
        if (!tool->underMouse() || tool->rect().contains(tool->mapFromGlobal(pointer))) continue;
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(tool, &leave);
        QHoverEvent hover(QEvent::HoverLeave, QPointF(-1, -1), QPointF(pointer), tool->mapFromGlobal(QPointF(pointer)));
        QCoreApplication::sendEvent(tool, &hover);
    }
}

bool FMain::OpenMenuByAccessKey(const QKeySequence& key) {
    QMenuBar* bar = menuBar();
    for (QAction* title : bar->actions()) {
        if (!title->menu() || !title->isVisible() || !title->isEnabled()) continue;
        if (QKeySequence::mnemonic(title->text()) != key) continue;
        bar->setActiveAction(title);
        return true;
    }
    return false;
}

bool FMain::event(QEvent* event) {
    if (mHookInstalled && (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate))
        base::ShowErrors("MTessary::MainWindowProc",
                     [&] { MTessary::MainWindowProc(event->type() == QEvent::WindowActivate); });
    return QMainWindow::event(event);
}

void FMain::keyPressEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    base::ShowErrors("FMain::Form_KeyDown", [&] { MUtilities::MenuKeyDown(code, shift); });
    if (code != 0) QMainWindow::keyPressEvent(event);
}

void FMain::keyReleaseEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    base::ShowErrors("FMain::Form_KeyUp", [&] { MUtilities::MenuKeyUp(code, shift); });
    if (code != 0) QMainWindow::keyReleaseEvent(event);
}
