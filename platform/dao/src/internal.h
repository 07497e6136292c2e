// Shared internals of the database layer (not installed).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dao/dao.h"

namespace dao::detail {

// ---- text (text.cpp)
std::u16string Utf8ToU16(std::string_view s);
// Utf8ToU16(s).size(), without making the string.
size_t U16Length(std::string_view s);
std::string U16ToUtf8(std::u16string_view s);
char32_t FoldUpper(char32_t c);
std::string UpperUtf8(std::string_view s);
std::string LowerUtf8(std::string_view s);
int CompareUtf8(const char* a, size_t na, const char* b, size_t nb);  // the one comparison
// The text as the comparison sees it (A-Z as a-z), for searches within text.
std::string FoldForCompare(std::string_view s);
bool LikeUtf8(std::string_view text, std::string_view pattern);
// A Like pattern folded once, for matching the texts of many rows.
class LikePattern {
public:
    explicit LikePattern(std::string_view pattern);
    bool Match(std::string_view text) const;

private:
    std::string raw_;
    std::u32string folded_;
    bool plain_ = true;  // no wildcard: the comparison alone
};
bool EqualsNoCase(std::string_view a, std::string_view b);  // by the comparison
std::string TrimSpaces(std::string_view s, bool left = true, bool right = true);

// ---- errors (errors.cpp)
[[noreturn]] void Raise(long number, std::string_view arg = {});
// The numbered error with more said after its description (a driver's message).
[[noreturn]] void RaiseWithDetail(long number, std::string_view arg, std::string_view detail);
// Maps an SQLite failure to a numbered error. context is the statement or the
// object worked on, named where a message speaks of it; a failure of the file
// itself names the file the connection was opened on.
[[noreturn]] void RaiseSqlite(sqlite3* db, int rc, std::string_view context = {});
// Whether an SQLite failure was for want of room on the disk: SQLite's own
// "full", or a write the system refused as such.
bool DiskFull(sqlite3* db, int rc);
// The file a person opened for a connection (an Access file, not its mirror),
// for messages; an empty path forgets the connection.
void NameConnection(sqlite3* db, const std::string& path);
// Errors raised inside SQL functions carry their number as "#n#text".
std::string EncodeFunctionError(long number, std::string_view arg = {});

// ---- connections (opening.cpp)
// Nothing a file holds runs on a connection: its triggers stay off, and its views and
// defaults may call only functions without side effects. Every connection gets this
// before its first statement.
void DistrustSchema(sqlite3* db);

// ---- locks (locks.cpp)
// SQLite's locks on files, from here on, are held by descriptions of their own
// that no other descriptor's close drops. Must run before SQLite opens any
// file in the process; false when the engine does not allow it.
bool UseOwnLocks();

// ---- VB conversions (vb.cpp)
// A dynamically typed value as SQLite holds it, with the DAO type it stands for.
std::string FormatDouble(double v, int digits);  // CStr of a Double (15) or Single (7)
std::string FormatDate(double serial);           // CStr of a Date (US short date, long time)
// The same into a buffer of at least kDoubleChars / kDateChars; returns the length.
inline constexpr size_t kDoubleChars = 32;
inline constexpr size_t kDateChars = 32;
size_t FormatDouble(double v, int digits, char* out);
size_t FormatDate(double serial, char* out);
bool ParseNumber(std::string_view s, double* out);  // whole text (blanks around allowed)
bool ParseDate(std::string_view s, double* out);    // m/d/yyyy [h:mm[:ss] [AM|PM]], yyyy-mm-dd, or time
double ValOf(std::string_view s);                   // VB Val
bool RoundHalfEven(double v, double lo, double hi, int64_t* out);
bool DateFromParts(int y, int m, int d, int hh, int mi, int ss, double* out);
// False for a serial outside the dates 100-01-01 to 9999-12-31 (parts unset).
bool DateToParts(double serial, int* y, int* m, int* d, int* hh, int* mi, int* ss);

// ---- types (types.cpp)
struct ColumnType {
    short type = dbText;  // DAO type code
    long size = 255;
    bool autoIncrement = false;
};
// Declared SQLite type (as written in CREATE TABLE) to the DAO type, and back.
ColumnType TypeFromDecl(std::string_view decl);
std::string DeclFromType(short type, long size);  // e.g. "TEXT(50)", "SHORT"
bool IsTextType(short type);
long DefaultSize(short type);
// Reads column i of a stepped statement as the VARIANT that DAO gives for type.
com::Variant ColumnToVariant(sqlite3_stmt* st, int i, short type);
// The same into an uninitialised VARIANT, without temporaries (bulk reads).
void ReadColumn(sqlite3_stmt* st, int i, short type, VARIANT* out);
com::Variant ValueToVariant(sqlite3_value* v, short type);
// Binds a VARIANT for a column of the given type, converting as DAO does on
// assignment (3421 conversion error, 3163 text too long, 3349 overflow).
void BindForColumn(sqlite3_stmt* st, int index, const VARIANT& v, short type, long size, const std::string& fieldName);
// Binds a VARIANT as it is (criteria/seek values).
void BindVariant(sqlite3_stmt* st, int index, const VARIANT& v);

// ---- SQL functions and collation (functions.cpp)
void RegisterFunctions(sqlite3* db);
// The collation of the one comparison (see text.cpp), named in every
// statement we generate where text is compared, sorted or grouped.
inline constexpr const char* kTextCollation = "NOCASE";
// PRAGMA user_version of the files we write: 1 for files whose NOCASE indexes an
// earlier version ordered by its own folding; 2 for files whose indexes are in
// SQLite's order but whose contents an earlier version grouped and ordered by
// a wider folding; 3 once everything is compared one way.
inline constexpr int kFileVersionOldIndexes = 1;
inline constexpr int kFileVersionTwoComparisons = 2;
inline constexpr int kFileVersion = 3;
// PRAGMA application_id of the files we write: "TXP1". A file without it is
// another program's unless it is a project of an earlier version.
inline constexpr int kApplicationId = 0x54585031;
// A Null row key in a record set's key list.
inline constexpr int64_t kNullKey = INT64_MIN;
// The pointer type of the key list that dao_keys(?1, keys...) appends to.
inline constexpr const char* kKeysPointer = "dao_keys";

}  // namespace dao::detail
