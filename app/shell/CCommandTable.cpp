#include "CCommandTable.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>

namespace {

struct CommandDef {
    int id;
    const char* name;
    const char* caption;
    const char* description;
    const char* category;
};

// In the dispatcher's order of comparison.
constexpr CommandDef kCommands[] = {
    {6001, "mnuZoomIn", "Zoom In", "Zoom In", "Misc"},
    {6002, "mnuZoomOut", "Zoom Out", "Zoom Out", "Misc"},
    {6003, "mnuExpandAll", "Expand All", "Expand All", "Misc"},
    {6004, "mnuCollapseAll", "Collapse All", "Collapse All", "Misc"},
    {6005, "mnuNormalZoom", "Normal Zoom", "Reset the current zoom.", "Misc"},
    {1001, "mnuFileNew", "&New Project...", "New Project...", "File"},
    {1002, "mnuFileOpen", "&Open Project...", "Open Project...", "File"},
    {1003, "mnuFileClose", "&Close Project", "Close Project", "File"},
    {1010, "mnuReConfig", "Extract Rules...", "Extract Rules...", "File"},
    {1004, "mnuFileImport", "&Import...", "Import Data", "File"},
    {1005, "mnuFilePrint", "&Print Current Window", "Print Current Window", "File"},
    {1008, "mnuPrintTiled", "Print &Flow Chart...", "Print Flow Chart...", "File"},
    {1009, "mnuExportTree", "Export To Visio...", "Export the current flow chart to Visio.", "File"},
    {1006, "mnuFileExit", "E&xit", "Exit Program", "File"},
    {2001, "mnuEditCopyField", "Copy F&ield", "Copy Field", "Edit"},
    {2002, "mnuEditCopyRow", "Copy &Row", "Copy Row", "Edit"},
    {2003, "mnuEditFind", "&Find...", "Find...", "Edit"},
    {2004, "mnuEditFindNextBad", "Find &Next Incorrect", "Find Next Incorrect Prediction", "Edit"},
    {2005, "mnuEditPrefrences", "Program &Prefrences", "Program Prefrences", "Edit"},
    {3001, "mnuViewBrowseAll", "Browse &All", "Browse All", "View"},
    {3002, "mnuViewBrowseTest", "Browse &Test", "Browse Test", "View"},
    {3003, "mnuViewMatrix", "&Confusion Matrix", "Confusion Matrix", "View"},
    {3008, "mnuLivePredict", "Live &Predictions", "Live Predictions", "View"},
    {3004, "mnuViewFieldStats", "&Field Statistics", "Field Statistics", "View"},
    {3005, "mnuViewClassList", "Class &Details", "Class Details", "View"},
    {3006, "mnuViewTree", "&Tree Chart", "Tree Chart", "View"},
    {3007, "mnuViewFlow", "&Flow Chart", "Flow Chart", "View"},
    {4101, "mnuCurrentToggle", "&Toggle All Marks", "Toggle all marks in the current view", "Marks"},
    {4102, "mnuCurrentMark", "&Mark All Rows", "Mark all rows in the current view", "Marks"},
    {4103, "mnuCurrentClear", "&Clear All Marks", "Clear all marks in the current view", "Marks"},
    {4104, "mnuCurrentExport", "&Export All Marked Rows", "Export all marks in the current view", "Marks"},
    {4201, "mnuEntireToggle", "&Toggle All Marks", "Toggle all marks in the entire table", "Marks"},
    {4202, "mnuEntireMark", "&Mark All Rows", "Mark all records in the entire table", "Marks"},
    {4203, "mnuEntireClear", "&Clear All Marks", "Clear all marks in the entire table", "Marks"},
    {4204, "mnuEntireExport", "&Export All Marked Rows", "Export all marks in the entire table", "Marks"},
    {5001, "mnuHelpManual", "&User Manual", "User Manual", "Help"},
    {5003, "mnuHelpAbout", "&About", "About this program", "Help"},
};

constexpr const char* kIdProperty = "toolId";
constexpr const char* kCategoryProperty = "category";

QStyle::StandardPixmap PictureOf(int id) {
    switch (id) {
        case 1001: return QStyle::SP_FileIcon;
        case 1002: return QStyle::SP_DialogOpenButton;
        case 1003: return QStyle::SP_DialogCloseButton;
        case 1010: return QStyle::SP_BrowserReload;
        case 1005: return QStyle::SP_DesktopIcon;
        case 1008: return QStyle::SP_FileDialogDetailedView;
        case 2003: return QStyle::SP_FileDialogContentsView;
        case 2004: return QStyle::SP_MediaSeekForward;
        case 3001: return QStyle::SP_FileDialogListView;
        case 3002: return QStyle::SP_FileDialogInfoView;
        case 3003: return QStyle::SP_DialogApplyButton;
        case 3008: return QStyle::SP_MediaPlay;
        case 3004: return QStyle::SP_DriveHDIcon;
        case 3005: return QStyle::SP_DirIcon;
        case 3006: return QStyle::SP_DirOpenIcon;
        case 3007: return QStyle::SP_DirLinkIcon;
        case 6001: return QStyle::SP_ArrowUp;
        case 6002: return QStyle::SP_ArrowDown;
        case 5001: return QStyle::SP_DialogHelpButton;
        default: return QStyle::SP_CustomBase;
    }
}

}  // namespace

CCommandTable::CCommandTable(QMainWindow* window) : QObject(window), mWindow(window) {
    setObjectName(QStringLiteral("ABMain"));
    mBandMain = new QMenuBar(window);
    mBandMain->setObjectName(QStringLiteral("BandMain"));
    mBandMain->setWindowTitle(QStringLiteral("Main Menu"));
    window->setMenuBar(mBandMain);

    QMenu* file = AddMenuTool(1000, "mnuFile", "&File", "popFile", "File", "File", mBandMain);
    QMenu* edit = AddMenuTool(2000, "mnuEdit", "&Edit", "popEdit", "Edit", "Edit", mBandMain);
    QMenu* view = AddMenuTool(3000, "mnuView", "&Reports", "popView", "Reports", "View", mBandMain);
    QMenu* marks = AddMenuTool(4000, "mnuMarks", "&Marks", "popMarks", "Marks", "Marks", mBandMain);
    QMenu* help = AddMenuTool(5000, "mnuHelp", "&Help", "popHelp", "Help", "Help", mBandMain);
    QMenu* markCurrent =
        AddMenuTool(4100, "mnuMarksCurrent", "&Current View", "popMarkCurrent", "Mark Current", "Marks", marks);
    QMenu* markEntire =
        AddMenuTool(4200, "mnuMarkEntire", "&Entire Table", "popMarkEntire", "Mark Entire", "Marks", marks);

    for (const CommandDef& c : kCommands) AddTool(c.id, c.name, c.caption, c.description, c.category);
    // The view tools are the only ones ever ticked.
    for (int id = 3001; id <= 3008; ++id) Tool(QString::number(id))->setCheckable(true);
    // The manual has a key of its own, so that every window can reach it.
    Tool(QStringLiteral("mnuHelpManual"))->setShortcut(QKeySequence(Qt::Key_F1));

    const auto fill = [this](QWidget* band, std::initializer_list<int> ids) {
        for (int id : ids) band->addAction(Tool(QString::number(id)));
    };
    fill(file, {1001, 1002, 1003, 1010, 1004, 1009, 1005, 1008, 1006});
    fill(edit, {2001, 2002, 2003, 2004, 2005});
    fill(view, {3001, 3002, 3003, 3008, 3004, 3005, 3006, 3007});
    fill(help, {5001, 5003});
    fill(markCurrent, {4101, 4102, 4103, 4104});
    fill(markEntire, {4201, 4202, 4203, 4204});

    mToolbar = new QToolBar(QStringLiteral("Toolbar"), window);
    mToolbar->setObjectName(QStringLiteral("MainToolbar"));
    mToolbar->setFloatable(false);
    mToolbar->toggleViewAction()->setEnabled(false);  // the bar cannot be closed by the user
    window->addToolBar(Qt::TopToolBarArea, mToolbar);
    for (int id : {1001, 1002, 1003, 1010, 1005, 1008, 2003, 2004, 3001, 3002, 3003, 3008, 3004, 3005, 3006, 3007,
                   6001, 6002, 5001}) {
        QAction* tool = Tool(QString::number(id));
        const QStyle::StandardPixmap pic = PictureOf(id);
        if (pic != QStyle::SP_CustomBase) tool->setIcon(window->style()->standardIcon(pic));
        mToolbar->addAction(tool);
    }
    // The tools on no band still work through the window.
    for (int id : {6003, 6004, 6005}) window->addAction(Tool(QString::number(id)));
}

QMenu* CCommandTable::AddMenuTool(int id, const char* name, const char* caption, const char* band,
                                  const char* bandCaption, const char* category, QWidget* parentMenu) {
    auto* menu = new QMenu(QString::fromUtf8(caption), parentMenu);
    menu->setObjectName(QString::fromUtf8(band));
    menu->setWindowTitle(QString::fromUtf8(bandCaption));
    QAction* tool = menu->menuAction();
    tool->setObjectName(QString::fromUtf8(name));
    tool->setProperty(kIdProperty, id);
    tool->setProperty(kCategoryProperty, QString::fromUtf8(category));
    if (auto* bar = qobject_cast<QMenuBar*>(parentMenu)) bar->addMenu(menu);
    else if (auto* parent = qobject_cast<QMenu*>(parentMenu)) parent->addMenu(menu);
    const QString bandName = menu->objectName();
    connect(menu, &QMenu::aboutToShow, this, [this, bandName] { emit BandOpen(bandName); });
    mBands << menu;
    mTools << tool;
    return menu;
}

QAction* CCommandTable::AddTool(int id, const char* name, const char* caption, const char* description,
                                const char* category) {
    auto* tool = new QAction(QString::fromUtf8(caption), mWindow);
    tool->setObjectName(QString::fromUtf8(name));
    tool->setStatusTip(QString::fromUtf8(description));
    tool->setToolTip(QString::fromUtf8(description));
    tool->setProperty(kIdProperty, id);
    tool->setProperty(kCategoryProperty, QString::fromUtf8(category));
    ConnectTool(tool);
    mTools << tool;
    return tool;
}

void CCommandTable::ConnectTool(QAction* tool) {
    connect(tool, &QAction::triggered, this, [this, tool] { emit Click(tool); });
}

QMenu* CCommandTable::Band(const QString& name) const {
    for (QMenu* band : mBands)
        if (band->objectName() == name) return band;
    return nullptr;
}

QAction* CCommandTable::Tool(const QVariant& key) const {
    if (key.typeId() == QMetaType::Int || key.typeId() == QMetaType::Short || key.typeId() == QMetaType::LongLong) {
        const qlonglong pos = key.toLongLong();
        return pos >= 0 && pos < mTools.size() ? mTools[qsizetype(pos)] : nullptr;
    }
    const QString text = key.toString();
    bool isNumber = false;
    const int id = text.toInt(&isNumber);
    for (QAction* tool : mTools) {
        if (isNumber ? ToolId(tool) == id : tool->objectName() == text) return tool;
    }
    return nullptr;
}

int CCommandTable::ToolId(const QAction* tool) { return tool ? tool->property(kIdProperty).toInt() : 0; }

void CCommandTable::SetStartsGroup(QMenu* band, QAction* tool, bool starts) {
    if (!band || !tool) return;
    const QList<QAction*> actions = band->actions();
    const qsizetype at = actions.indexOf(tool);
    if (at < 0) return;
    const bool has = at > 0 && actions[at - 1]->isSeparator();
    if (starts && !has) band->insertSeparator(tool);
    if (!starts && has) {
        QAction* sep = actions[at - 1];
        band->removeAction(sep);
        sep->deleteLater();
    }
}

QAction* CCommandTable::ToolForKey(int16_t keyCode, int16_t shift) const {
    int key = 0;
    if (keyCode >= 112 && keyCode <= 123) key = Qt::Key_F1 + (keyCode - 112);  // F1..F12
    else if ((keyCode >= 'A' && keyCode <= 'Z') || (keyCode >= '0' && keyCode <= '9')) key = keyCode;
    if (key == 0) return nullptr;
    int mods = 0;
    if (shift & 1) mods |= Qt::ShiftModifier;
    if (shift & 2) mods |= Qt::ControlModifier;
    if (shift & 4) mods |= Qt::AltModifier;
    const QKeySequence wanted(key | mods);
    for (QAction* tool : mTools)
        if (!tool->shortcut().isEmpty() && tool->shortcut() == wanted) return tool;
    return nullptr;
}
