// The SQL texts the grid builds on its own: the row count of a browse
// statement, the find dialog's criterion and the criterion that finds a row
// again by its key after a refresh.
#pragma once

#include "com/oleauto.h"

#include <cstdint>
#include <string>

namespace MBrowseSql {

// "SELECT COUNT(*) " and the statement's FROM clause up to its ORDER BY. FROM and
// ORDER BY are found as words outside names in brackets, texts in quotes and
// date literals, in any letter case, so a field called FromCity does not count.
// Without a FROM the whole text follows (a statement the database refuses).
std::string CountQuery(const std::string& source);
// The statement's FROM clause with its WHERE, without ORDER BY and a closing
// ";"; "" when it has no FROM.
std::string FromTail(const std::string& source);
// Whether the clause joins table Test under its own name ("JOIN Test ON"),
// so that Test.MainPrimaryKey inside it cannot mean another table.
bool JoinsTestByName(const std::string& tail);

enum class FindResult { Ok, InvalidDate, NotFound };

// The find criterion for a search of text in a field of the given DAO type.
// Match case off: "Like" on texts (the wildcards work); on: an exact,
// case-sensitive comparison. Apostrophes in text are doubled. A date field
// needs a valid date (InvalidDate otherwise); a number field a plain number,
// or with match case off the text form (NotFound with match case on).
// name is the column as the criterion names it (brackets added here).
FindResult FindCriterion(const std::string& name, int16_t fieldType, const std::string& text, bool matchCase,
                         std::string& criterion);

// A date literal the database reads: #mm/dd/yyyy hh:nn:ss#.
std::string DateLiteral(double serial);
// A text read as a date (ISO, m/d/y or d.m.y, with optional time) to a date
// serial; false when it is none.
bool ParseDate(const std::string& text, double& serial);

// "[Name]=value" with the value written for the key's type code: a quoted
// text (apostrophes doubled), a date literal, or the number. "" for Null.
std::string KeyCriterion(const std::string& name, int16_t typeCode, const VARIANT& value);

}  // namespace MBrowseSql
