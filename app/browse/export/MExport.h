// The export commands of the main window: marked rows to a delimited text file
// or to a table of a database, and the tree as a diagram CSV file. Each takes
// what it reads of the program from an ExportContext; errors end in the
// standard error box titled with the command's name and never report success.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class CProject;
struct ExportContext;

namespace MExport {

// True when path names the project's own file or the data file its link
// reads, or a file the database keeps beside either (-wal, -shm, -journal, the
// .lck lock), by any spelling: ".", "..", a symbolic or hard link, or a link
// path relative to the project's folder, resolved as the database layer opens
// it. Raises when it cannot tell (the project cannot be read).
bool IsProjectData(CProject& project, const std::string& path);

// Whether a file the user named may be written at path: false after a box
// titled title, when it is the project's data (the protected text) or when
// that cannot be told. Asked when the name is chosen and again when the file
// takes its place. Without a project everything may be written.
bool MayWrite(CProject* project, const std::string& path, const QString& title);
// MayWrite as the check a file's writer asks again before the file takes its place.
std::function<bool(const std::string& path)> WriteCheck(CProject* project, const QString& title);

// Scope -1: the marked rows of the current browse view; 0: of the whole table.
// Asks for the file and hands it to one of the writers below.
void Export(const ExportContext& ctx, int16_t scope);

// The marked rows as delimited text. The file is written beside the target and
// put in its place only when complete and checked again (MayWrite); false
// after an error box or a refusal (a name that is not a file, or a file the
// person may not write, as file::SafeFile refuses them).
bool ExportMarkedRS(const ExportContext& ctx, const QString& fileName, int16_t scope);

// The marked rows as a new table "Tessary_Import" (1, 2 ...) of the database at
// fileName, made when it does not exist. All or nothing: after a failure
// neither the table nor a database made for it is left. A new database is
// made aside and put in place like the text file. An existing one is checked
// again (MayWrite); another program's file is given the table and nothing
// else where it is (dao::DBEngine::OpenGuest), in one transaction that waits
// a bounded time for that program's writers and then says the file is in
// use; a file of this program's own is copied aside, given the table and put
// in place like a new one. As with every writer, a link of that name is
// replaced (by a copy of the file it led to, with the table) and the file it
// led to left as it was, and a folder, pipe, device or socket of that name is
// refused. An Access file is refused (it can be read here, not written).
// False after a message.
bool MDBExportMarked(const ExportContext& ctx, const QString& fileName, int16_t scope);

// The current tree as a diagram CSV file; makes the tree driver when there is none.
void Export2CSV(const ExportContext& ctx);

// Text for the export file: UTF-16 to Windows-1252, false when a character has
// no Windows-1252 byte; with utf8 the text is written as UTF-8 instead.
bool AppendText(std::string& out, std::u16string_view text, bool utf8);

}  // namespace MExport
