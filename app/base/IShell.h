// What panels, browse views and exports need of the main window, installed by
// the shell the way app/project/AppServices.h installs its services. With none
// installed, Shell() is null: panels then run alone (tests, previews).
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

namespace base {

class IGridPanel;

class IShell {
public:
    virtual ~IShell() = default;
    // The panel registered under key (exact, case-sensitive); null for any other key.
    virtual QWidget* AppPanel(const QString& key) = 0;
    // The panel registered as "DataGrid".
    virtual IGridPanel* GridPanel() = 0;
    // The main window (owner of dialogs; its size places the find window).
    virtual QWidget* MainWidget() = 0;
    // The status bar's message panel and its row-count panel (-1 hides it).
    virtual void StatusText(const QString& text) = 0;
    virtual void StatusRecordCount(int32_t count) = 0;
    // Runs a command of the menu-and-toolbar bar by tool name.
    virtual void MenuCommand(const QString& toolName) = 0;
    // The data-source dialog: a file path, an ODBC connect text, or "" when cancelled.
    virtual QString SelectDataSource() = 0;
    // Shows the field statistics of the open project.
    virtual void ShowFieldStats() = 0;
};

// Installation (not owned; nullptr uninstalls); returns the one it replaces.
IShell* SetShell(IShell* shell);
IShell* Shell();

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
