// Status-bar functions, word conversions, and the project-file dialogs.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class CProject;

namespace MMenu {

// The status bar's message panel: " " & text & " ".
void StatusText(const QString& text);
// The row-count panel; -1 hides it. Errors are ignored.
void StatusRecordCount(int32_t count);

// The low 16 bits read as signed.
int16_t LongToInt(int32_t value);
int16_t LoWord(int32_t value);

// Asks for a new project's path; a not yet created project, or null.
std::shared_ptr<CProject> NewProject(const QString& initialDir);
// With an empty path asks for a project file; an initialized project, or null.
std::shared_ptr<CProject> OpenProjectFile(const QString& initialDir, const QString& path);
// A data-source file path, or "" when nothing was chosen.
QString SelectDataSource();

}  // namespace MMenu
