// Shared database functions: opening a user's data source, asking for a table,
// building the per-row result table, the field type codes, and quoting of
// names and values inside Jet SQL.
#pragma once

#include "dao/dao.h"

#include <cstdint>
#include <memory>
#include <string>

class CProject;
class CDataDef;

using DatabasePtr = std::shared_ptr<dao::Database>;
using RecordsetPtr = std::shared_ptr<dao::Recordset>;

namespace MdbUtils {

// TypeClass values.
constexpr int16_t TypeClassUnusable = -2;
constexpr int16_t TypeClassOther = 0;
constexpr int16_t TypeClassOrdered = 1;
constexpr int16_t TypeClassCategorical = 2;

// The type code recorded for an auto-increment Long.
constexpr int16_t AutoNumberLong = -4;

// Opens an Access file, SQLite file or "ODBC;" source; nullptr on failure (after
// telling the user, except when the user cancelled).
DatabasePtr OpenDataSource(const std::string& source, bool readOnly);

// Names compared as the database compares them, blanks around either ignored.
// False for no database.
bool TableExists(const DatabasePtr& db, const std::string& name);

// Builds table Test from the linked table's key field, with its unique index,
// or nothing. Errors reach the caller (an existing Test makes it fail). Refuses
// a table without a single-field primary key (see CDataDef::PrimaryKeyField),
// keys that compare as one (3022, naming two of them), whole-number keys
// beyond 2^53 (6), and the keys RefuseUnfitKeys refuses (keysChecked: the
// caller has just had them refused, and the table is not read for that again).
void CreateTestTable(CProject& project, CDataDef& dataDef, bool keysChecked = false);
// Refuses, naming one, keys of the linked table that Test could not hold as
// they are: numbers in a text field (a field of no declared type is one) and
// texts in a number field (13), texts longer than the 255 characters the ends
// of the row ranges are stored in (3163), binary values and key fields of the
// types that hold no texts or numbers to find rows by (Memo, GUID, binary: 13).
// Nothing for no database or no single key field.
void RefuseUnfitKeys(const DatabasePtr& db, const CDataDef& dataDef);
// Why two keys that compare as one cannot both be keys, naming them and the key field.
std::string EqualKeysText(const std::string& key, const std::string& first, const std::string& second);

// Adds to Test, as CreateTestTable makes them, the rows of the linked table
// that it lacks (rows added to the data since, or an emptied Test); returns
// how many were added.
int32_t AddMissingTestRows(CProject& project, CDataDef& dataDef);

std::string FieldTypeName(int16_t code);
int16_t FieldTypeClass(int16_t code);
bool IsNumericType(int16_t code);
bool IsIntegerType(int16_t code);
bool IsTextType(int16_t code);
bool IsDateType(int16_t code);
bool IsBlobType(int16_t code);

// Jet SQL quoting: a text literal in single quotes with quotes doubled
// (O'Hara -> 'O''Hara'), and a name in brackets. Brackets cannot be escaped
// inside a bracketed Jet name, so BracketName refuses a name with "]" (error 3125).
std::string SqlText(const std::string& value);
std::string BracketName(const std::string& name);

}  // namespace MdbUtils
