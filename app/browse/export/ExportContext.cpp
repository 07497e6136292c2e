#include "ExportContext.h"

#include "CRegSettings.h"

#include <QCoreApplication>

QString ExportContext::StartFolder() const {
    QString folder;
    if (regSettings) folder = QString::fromStdString(regSettings->GetSetting("Config", "LastProjectPath", ""));
    if (folder.isEmpty()) folder = QCoreApplication::applicationDirPath();
    return folder;
}
