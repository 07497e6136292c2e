// Status-bar functions, word conversions, and the project-file dialogs.
#pragma once

#include "MdbUtils.h"

#include <QString>

#include <cstdint>
#include <memory>

class CProject;

namespace MMenu {

// The status bar's message panel: " " & text & " ".
void StatusText(const QString& text);
// The row-count panel; -1 hides it. Errors are ignored.
void StatusRecordCount(int32_t count);


// Asks for a new project's path; a not yet created project, or null.
std::shared_ptr<CProject> NewProject(const QString& initialDir);
// With an empty path asks for a project file; an initialized project, or null.
std::shared_ptr<CProject> OpenProjectFile(const QString& initialDir, const QString& path);
// A data-source file path, an ODBC connect text, or "" when nothing was chosen.
QString SelectDataSource();
// Lets the user pick one of the ODBC data sources; its connect text, or "".
QString SelectOdbcSource();
// Opens a data-source file, project or "ODBC;" source; nullptr on any failure, with no message.
DatabasePtr OpenQuietly(const std::string& source, bool readOnly);
// True when the project's data file cannot be opened because the disk is
// full, after saying so: a sound file there is not to be called damaged.
bool ReportFullDisk(const QString& path);
// The data source of a link's connect text: an ODBC text whole, else the
// path after "DATABASE=" (up to the next ";"), else "".
QString OdbcDatabaseName(const QString& connect);
// True when the table of the source opens and counts. Shows nothing.
bool TableRecordCount(const QString& source, const QString& tableName);
// Writes one Config row into an open database; nothing without a database or a name.
void PutProperty(const DatabasePtr& db, const QString& name, const QString& value);

}  // namespace MMenu
