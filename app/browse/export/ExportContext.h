// What the exports and the print commands read of the program: its single
// instances and the windows they need. The shell fills one from its globals;
// tests fill one from a fixture. Nothing here is owned by the commands.
#pragma once

#include <QString>

#include <memory>

class CDataDef;
class CProject;
class CRegSettings;
class CSqlMachine;
class CTRX;
class QWidget;

namespace base {
class IGridPanel;
}

struct ExportContext {
    std::shared_ptr<CProject> project;
    std::shared_ptr<CDataDef> dataDef;
    std::shared_ptr<CSqlMachine> sqlMachine;  // the browse SQL of the current view
    std::shared_ptr<CRegSettings> regSettings;
    // The tree driver; the tree export creates it when it is null.
    std::shared_ptr<CTRX>* trx = nullptr;
    base::IGridPanel* grid = nullptr;  // the grid panel, read for its row count
    QWidget* owner = nullptr;           // owner of the dialogs
    // The per-user "Config" "LastProjectPath", else the program's folder.
    QString StartFolder() const;
};
