// Numbered errors: the descriptions application code shows after "Error: n. ".
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "file/Error.h"
#include "internal.h"

namespace dao {

DaoError::DaoError(long number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

std::string ErrorDescription(long number, std::string_view arg) {
    static const std::map<long, const char*> kText = {
        {5, "Invalid procedure call or argument"},
        {6, "Overflow"},
        {11, "Division by zero"},
        {13, "Type mismatch"},
        {91, "Object variable or With block variable not set"},
        {94, "Invalid use of Null"},
        {3001, "Invalid argument."},
        {3006, "Database '|' is exclusively locked."},
        {3010, "Table '|' already exists."},
        {3011, "The database engine could not find the object '|'."},
        {3020, "Update or CancelUpdate without AddNew or Edit."},
        {3021, "No current record."},
        {3022, "The changes you requested to the table were not successful because they would create "
               "duplicate values in the index, primary key, or relationship. Change the data in the field "
               "or fields that contain duplicate data, remove the index, or redefine the index to permit "
               "duplicate entries and try again."},
        {3024, "Could not find file '|'."},
        {3027, "Cannot update. Database or object is read-only."},
        {3034, "You tried to commit or rollback a transaction without first beginning a transaction."},
        {3043, "Disk or network error."},
        {3044, "'|' is not a valid path. Make sure that the path name is spelled correctly and that you "
               "are connected to the server on which the file resides."},
        {3045, "Could not use '|'; file already in use."},
        {3049, "Cannot open database '|'. It may not be a database that your application recognizes, or "
               "the file may be corrupt."},
        {3050, "Could not lock file."},
        {3051, "The database engine cannot open the file '|'. It is already opened exclusively by another "
               "user, or you need permission to view its data."},
        {3059, "Operation canceled by user."},
        {3061, "Too few parameters. Expected |."},
        {3070, "The database engine does not recognize '|' as a valid field name or expression."},
        {3075, "Syntax error in query expression '|'."},
        {3077, "Syntax error in expression."},
        {3078, "The database engine cannot find the input table or query '|'. Make sure it exists and "
               "that its name is spelled correctly."},
        {3085, "Undefined function '|' in expression."},
        {3086, "Could not delete from specified tables."},
        {3125, "'|' is not a valid name. Make sure that it does not include invalid characters or punctuation "
               "and that it is not too long."},
        {3129, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
        {3131, "Syntax error in FROM clause."},
        {3134, "Syntax error in INSERT INTO statement."},
        {3144, "Syntax error in UPDATE statement."},
        {3151, "ODBC--connection to '|' failed."},
        {3163, "The field is too small to accept the amount of data you attempted to add. Try inserting "
               "or pasting less data."},
        {3167, "Record is deleted."},
        {3196, "The database engine could not use '|'; the file is already in use by another person or "
               "process."},
        {3204, "Database already exists."},
        {3211, "The database engine could not lock table '|' because it is already in use by another "
               "person or process."},
        {3219, "Invalid operation."},
        {3251, "Operation is not supported for this type of object."},
        {3265, "Item not found in this collection."},
        {3283, "Primary key already exists."},
        {3290, "Syntax error in CREATE TABLE statement."},
        {3292, "Syntax error in field definition."},
        {3293, "Syntax error in ALTER TABLE statement."},
        {3314, "The field '|' cannot contain a Null value because the Required property for this field "
               "is set to True. Enter a value in this field."},
        {3343, "Unrecognized database format '|'."},
        {3349, "Numeric field overflow."},
        {3356, "You attempted to open a database that is already opened exclusively by another user. "
               "Try again when the database is available."},
        {3360, "Query is too complex."},
        {3367, "Cannot append. An object with that name already exists in the collection."},
        {3371, "Cannot find table or constraint."},
        {3376, "Table '|' does not exist."},
        {3380, "Field '|' already exists in table."},
        {3420, "Object invalid or no longer set."},
        {3421, "Data type conversion error."},
        {3426, "This action was cancelled by an associated object."},
        {3464, "Data type mismatch in criteria expression."},
        {3860, "The file '|' was written by a newer version of this program, which may store what this version "
               "cannot read. It is not opened, so that nothing in it changes: open it with that version."},
        {3800, "'|' is not an index in this table."},
        {3709, "The search key was not found in any record."},
    };
    // The one text of a full disk, as every writer of the program gives it; arg says for what.
    if (number == file::kDiskFull) return file::DiskFullText(std::string(arg));
    auto it = kText.find(number);
    std::string text = it != kText.end() ? it->second : "Database error " + std::to_string(number) + ".";
    std::string out;
    for (char c : text) {
        if (c == '|') out += arg;
        else out += c;
    }
    if (it == kText.end() && !arg.empty()) out += std::string(" (") + std::string(arg) + ")";
    return out;
}

namespace detail {

void Raise(long number, std::string_view arg) {
    throw DaoError(number, ErrorDescription(number, arg));
}

void RaiseWithDetail(long number, std::string_view arg, std::string_view detail) {
    std::string text = ErrorDescription(number, arg);
    if (!detail.empty()) text += " " + std::string(detail);
    throw DaoError(number, text);
}

std::string EncodeFunctionError(long number, std::string_view arg) {
    return "#" + std::to_string(number) + "#" + ErrorDescription(number, arg);
}

namespace {

std::mutex gNamesMutex;
std::unordered_map<sqlite3*, std::string> gNames;

// The file a failing connection works on, as the person knows it.
std::string FileOf(sqlite3* db) {
    if (!db) return {};
    {
        std::lock_guard<std::mutex> lock(gNamesMutex);
        auto it = gNames.find(db);
        if (it != gNames.end()) return it->second;
    }
    const char* file = sqlite3_db_filename(db, "main");
    return file ? file : "";
}

// Whether other files are attached to the connection (linked tables), any of
// which may be the one that failed.
bool HasAttachedFiles(sqlite3* db) {
    for (int i = 2; db; ++i) {
        const char* name = sqlite3_db_name(db, i);
        if (!name) return false;
        const char* file = sqlite3_db_filename(db, name);
        if (file && *file) return true;
    }
    return false;
}

// No room for what was being written to the file.
[[noreturn]] void RaiseDiskFull(const std::string& path) { Raise(file::kDiskFull, path.empty() ? "" : "'" + path + "'"); }

}  // namespace

bool DiskFull(sqlite3* db, int rc) {
    if ((rc & 0xFF) == SQLITE_FULL) return true;
    const int err = db ? sqlite3_system_errno(db) : 0;
    return (rc & 0xFF) == SQLITE_IOERR && file::IsDiskFull(err);
}

void NameConnection(sqlite3* db, const std::string& path) {
    std::lock_guard<std::mutex> lock(gNamesMutex);
    if (path.empty()) gNames.erase(db);
    else gNames[db] = path;
}

void RaiseSqlite(sqlite3* db, int rc, std::string_view context) {
    const char* msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    std::string m = msg ? msg : "";
    // Our own functions report "#n#description".
    if (m.size() > 2 && m[0] == '#') {
        size_t hash = m.find('#', 1);
        if (hash != std::string::npos) {
            long n = std::strtol(m.c_str() + 1, nullptr, 10);
            throw DaoError(n, m.substr(hash + 1));
        }
    }
    int primary = rc & 0xFF;
    int ext = db ? sqlite3_extended_errcode(db) : rc;
    if (ext == SQLITE_CONSTRAINT_PRIMARYKEY || ext == SQLITE_CONSTRAINT_UNIQUE || ext == SQLITE_CONSTRAINT_ROWID)
        Raise(3022);
    if (ext == SQLITE_CONSTRAINT_NOTNULL) {
        // "NOT NULL constraint failed: T.F"
        auto colon = m.rfind('.');
        Raise(3314, colon != std::string::npos ? std::string_view(m).substr(colon + 1) : std::string_view());
    }
    // What failed here is the file, not the statement or table being worked on.
    const std::string file = FileOf(db);
    const std::string linked = HasAttachedFiles(db) ? " (or one of the files linked to it)" : "";
    switch (primary) {
    case SQLITE_NOTADB:
        throw DaoError(3343, "Unrecognized database format '" + file + "'" + linked + ".");
    case SQLITE_CORRUPT:
        throw DaoError(3049, "The database file '" + file + "'" + linked +
                                 " is damaged: the database engine found it malformed. Restore it from a "
                                 "backup copy.");
    case SQLITE_READONLY:
        // A reader that may not write the log's index met it while another
        // program was changing it, and cannot repair it itself: in use, not
        // a file that refuses changes.
        if (ext == SQLITE_READONLY_RECOVERY) Raise(3196, file);
        Raise(3027);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        Raise(3196, file);
    case SQLITE_CANTOPEN:
        throw DaoError(3024, "The database engine could not open '" + file +
                                 "' or a file it needs beside it (its journal or a temporary file).");
    case SQLITE_INTERRUPT:
        Raise(3059);
    case SQLITE_FULL:
        RaiseDiskFull(file);
    case SQLITE_CONSTRAINT:
        throw DaoError(3317, "One or more values are prohibited by the validation rule set for the table: " + m);
    case SQLITE_IOERR:
        // A write the device had no room for is a full disk, whatever step failed.
        if (DiskFull(db, rc)) RaiseDiskFull(file);
        Raise(3043);
    default:
        break;
    }
    if (m.rfind("no such table: ", 0) == 0) Raise(3078, std::string_view(m).substr(15));
    if (m.rfind("no such column: ", 0) == 0) throw DaoError(3061, "Too few parameters. Expected 1. (" + m.substr(16) + ")");
    if (m.rfind("no such function: ", 0) == 0) Raise(3085, std::string_view(m).substr(18));
    if (m.find("already exists") != std::string::npos) {
        auto q1 = m.find(' ');
        std::string name = q1 != std::string::npos ? m.substr(q1 + 1) : m;
        auto sp = name.find(' ');
        Raise(3010, name.substr(0, sp));
    }
    if (m.find("syntax error") != std::string::npos || m.find("incomplete input") != std::string::npos)
        Raise(3075, context);
    throw DaoError(3000 + 146, "Database operation failed: " + m);  // 3146: the generic call failure
}

}  // namespace detail
}  // namespace dao
