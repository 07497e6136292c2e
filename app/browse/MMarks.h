// Marking rows: the rows of the grid's current view, row by row in one
// transaction, or the whole table with one statement; afterwards the grid is
// refreshed and brought back to its first visible row and its current row.
// The shell's mark commands call these.
#pragma once

#include "MdbUtils.h"

#include <cstdint>
#include <exception>
#include <string>

class CDataDef;
class CProject;

namespace base {
class IGridPanel;
}

namespace MMarks {

constexpr int16_t ModeMark = 0;    // store -1
constexpr int16_t ModeToggle = 1;  // store the old value Xor -1 (Null counts as 0)
constexpr int16_t ModeClear = 2;   // store 0

// The first field of the record set whose source is column Mark of table Test; -1 when none.
int MarkField(const RecordsetPtr& rs);

// Marks every row of the grid's view; nothing (not even a refresh) for an empty view.
// Errors show the box titled "MMenu::CurrentMarkAll" and nothing is changed.
void CurrentMarkAll(base::IGridPanel& grid, const CDataDef& dataDef, int16_t mode);

// Runs sql (an UPDATE of table Test) on the project database and puts the grid back.
// Errors show the box titled "MMenu::MarkCluster".
void MarkCluster(base::IGridPanel& grid, CProject& project, const CDataDef& dataDef, const std::string& sql);

// The status bar's word on a mark that could not be stored.
void SayNotMarked();

// Flips the mark of the record set's current row as it is stored at this
// moment (-1 becomes 0; 0, Null or anything else becomes -1): read and written
// in one transaction of db, which holds the project's write lock from before
// the read until the commit, so that no other program's change of that mark
// comes in between and is lost. Raises when the mark cannot be stored; then
// nothing is stored, and the caller cancels the record set's edit.
void ToggleCurrent(const DatabasePtr& db, const RecordsetPtr& rs, int markField);

// The status bar's word on a toggled mark that could not be stored, and why.
void SayNotToggled(const std::exception_ptr& why);

}  // namespace MMarks
