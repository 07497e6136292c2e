// Every menu entry and toolbar button of the main window as one registry of
// QActions: the tools (id, name "mnu...", caption, description as status tip,
// category), the bands that show them (the menu bar "BandMain", the pop-up
// menus "popFile" ... and the toolbar "MainToolbar"), look-up by name, id
// text or position, enabling and ticking. One action serves menu and toolbar.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QToolBar;

class CCommandTable : public QObject {
    Q_OBJECT
public:
    explicit CCommandTable(QMainWindow* window);

    QMenuBar* BandMain() const { return mBandMain; }
    QToolBar* MainToolbar() const { return mToolbar; }
    // A pop-up band by name ("popFile"); null for any other name.
    QMenu* Band(const QString& name) const;

    // The tool collection, in registration order (recent-file tools are not part of it).
    const QList<QAction*>& Tools() const { return mTools; }
    // By name ("mnuFileOpen"), id text ("1002") or position (an int); null when none.
    QAction* Tool(const QVariant& key) const;
    static int ToolId(const QAction* tool);

    // Makes the tool start a group in the band: a separator above it.
    void SetStartsGroup(QMenu* band, QAction* tool, bool starts);
    // Routes a tool created at run time (recent files) to the Click signal.
    void ConnectTool(QAction* tool);

    // The tool whose shortcut is this key (VB key code and shift bits); null when none.
    QAction* ToolForKey(int16_t keyCode, int16_t shift) const;

signals:
    void Click(QAction* tool);
    void BandOpen(const QString& band);

private:
    QAction* AddTool(int id, const char* name, const char* caption, const char* description, const char* category);
    QMenu* AddMenuTool(int id, const char* name, const char* caption, const char* band, const char* bandCaption,
                       const char* category, QWidget* parentMenu);

    QMainWindow* mWindow;
    QMenuBar* mBandMain = nullptr;
    QToolBar* mToolbar = nullptr;
    QList<QMenu*> mBands;
    QList<QAction*> mTools;
};
