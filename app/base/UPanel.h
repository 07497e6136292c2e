// Common base of every panel the main window hosts in its split frame.
//
// How the panels meet the shell:
//  - Each panel kind (ITableSelectPanel, IPrunePanel, IGridPanel ...) is an abstract class
//    derived from UPanel: its pure virtual members are what the shell calls,
//    its Qt signals are the events the shell handles. A concrete panel in
//    app/panels or app/browse derives from it, implements the members and
//    emits the signals.
//  - Signals that carry an answer back (HasKey, Cancel, KeyCode/Shift) take a
//    non-const reference: connect them with Qt::DirectConnection (the default
//    on one thread) and read the value after the emit returns.
//  - The shell finds a panel through IShell::AppPanel and qobject_cast.
//  - A panel never includes the shell; it reaches it through IShell only.
#pragma once

#include <QWidget>

namespace base {

class UPanel : public QWidget {
    Q_OBJECT
public:
    explicit UPanel(QWidget* parent = nullptr);
    ~UPanel() override;
};

}  // namespace base
