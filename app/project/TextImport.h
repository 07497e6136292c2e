// Import of a comma-delimited text file into a new database beside it.
//
// The file is read twice, line by line: once to check the rows and decide the
// column types, once to copy the rows. Nothing but one line is held at a time,
// so the size of the file does not matter. The database is built under a
// temporary name and renamed into place only when every row is in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace MdbUtils {

// A column's type in the new table, by the code the inference uses.
enum class ImportType : char {
    Long = 'I',    // every value a whole number within 32 bits
    Single = 'S',  // a fraction was seen, every value within 2^24 in magnitude
    Double = 'D',  // numbers that neither of the above holds exactly
    Text = 'T',    // a value that is not a number was seen
};

// The column type as the CREATE TABLE statement writes it.
const char* ImportTypeSql(ImportType type);

// Reads a number the way the import does, the same under every locale:
// optional blanks, an optional sign, digits with an optional "." fraction and an
// optional exponent, optional blanks. Anything else (thousands separators,
// "inf", hex, an empty text) is not a number. *isInteger tells whether the text
// was written as a whole number without point or exponent.
bool ParseImportNumber(std::string_view text, double* value, bool* isInteger = nullptr);

// The type of one column, decided value by value in row order.
class ImportColumnScan {
public:
    // Takes the value of the next data row (numbered from 1).
    void Add(std::string_view value, int64_t row);
    // Whether later values can still change anything.
    bool Decided() const { return mText || mMissingRow > 0; }
    // The first row whose value was empty while the column was still examined, 0 for none.
    int64_t MissingRow() const { return mMissingRow; }
    ImportType Type() const;

private:
    bool mText = false;
    bool mFraction = false;
    bool mOutsideLong = false;  // a whole number beyond the 32-bit range
    double mMaxAbs = 0;
    int64_t mMissingRow = 0;
};

// The header's names made into the new table's field names: empty names become
// "#" and the position; a name equal to an earlier one (ignoring letter case, as
// the database does) becomes "#" and its position, or that followed by "-" when it
// already is exactly that, and "-" is added until no earlier name matches.
std::vector<std::string> MakeImportFieldNames(const std::vector<std::string>& header);

// Text of one line of the file as UTF-8: kept as it is when the whole file is
// UTF-8, otherwise read as Windows-1252.
std::string DecodeWindows1252(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

// Imports the text file at Path into a new database named after it (".mdb"
// beside it). Problems with the data are reported in message boxes and stop the
// import before anything is created; the user is asked before an existing
// database is replaced. On success the status bar says so. Returns true when
// the database was written. Paths are UTF-8.
bool LoadTextFile(const std::string& path);

// The database the import writes for a text file: its folder, its name without
// extension, ".mdb".
std::string ImportDatabasePath(const std::string& textPath);

}  // namespace MdbUtils
