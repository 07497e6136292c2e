// What panels, browse views and exports need of the main window, installed by
// the shell the way app/project/AppServices.h installs its services. With none
// installed, Shell() is null: panels then run alone (tests, previews).
#pragma once

#include "AppGlobals.h"
#include "AppServices.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <utility>

namespace base {

class IGridPanel;

// Its StatusText is the status bar's message panel, the one app::StatusText reaches.
class IShell : public app::IStatusText {
public:
    virtual ~IShell() = default;
    // The panel registered under key (exact, case-sensitive); null for any other key.
    virtual QWidget* AppPanel(const QString& key) = 0;
    // The panel registered as "DataGrid".
    virtual IGridPanel* GridPanel() = 0;
    // The main window (owner of dialogs; its size places the find window).
    virtual QWidget* MainWidget() = 0;
    // The status bar's row-count panel (-1 hides it).
    virtual void StatusRecordCount(int32_t count) = 0;
    // Runs a command of the menu-and-toolbar bar by tool name.
    virtual void MenuCommand(const QString& toolName) = 0;
    // The data-source dialog: a file path, an ODBC connect text, or "" when cancelled.
    virtual QString SelectDataSource() = 0;
    // Shows the field statistics of the open project.
    virtual void ShowFieldStats() = 0;
};

// Installation (not owned; nullptr uninstalls); returns the one it replaces.
inline IShell* SetShell(IShell* shell) { return std::exchange(app::Services().shell, shell); }
inline IShell* Shell() { return app::Services().shell; }

// Installs a shell for the life of the object.
class ScopedShell {
public:
    explicit ScopedShell(IShell* shell) : mPrevious(SetShell(shell)) {}
    ~ScopedShell() { SetShell(mPrevious); }
    ScopedShell(const ScopedShell&) = delete;
    ScopedShell& operator=(const ScopedShell&) = delete;

private:
    IShell* mPrevious;
};

}  // namespace base
