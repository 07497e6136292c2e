#include "MdbUtils.h"

#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"

#include "ui/dialogs.h"

#include <QString>

namespace MdbUtils {

namespace {

// Blanks only, as the names are compared after Trim.
std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// The first value of a query, Empty when it has no row.
com::Variant FirstValue(dao::Database& db, const std::string& sql) {
    RecordsetPtr rs = db.OpenRecordset(sql, dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
    com::Variant v = rs->Eof() ? com::Variant() : rs->Fields(0).Value();
    rs->Close();
    return v;
}

// The first value of a one-column query, as text; "" when it has no row.
std::string FirstText(dao::Database& db, const std::string& sql) {
    const com::Variant v = FirstValue(db, sql);
    return v.IsEmpty() ? std::string() : dao::VarToString(v);
}

// Keys a row could not be found by, looked up in Test through its key index:
// a Null (a source may keep one in its key, SQLite does), or a whole number
// beyond 2^53, which has no exact double to travel as.
void RefuseKeysThatFindNoRow(dao::Database& db, const std::string& key, bool numeric) {
    if (!FirstText(db, "SELECT TOP 1 'Null' FROM Test WHERE MainPrimaryKey Is Null;").empty())
        throw app::RuntimeError(94, "The key field " + key + " is empty (Null) in a row. Every row needs a key of "
                                        "its own: give that row one, or choose a table whose key is never empty.");
    if (!numeric) return;
    const std::string beyond = FirstText(db, "SELECT TOP 1 CStr(MainPrimaryKey) FROM Test WHERE MainPrimaryKey > "
                                             "9007199254740992 OR MainPrimaryKey < -9007199254740992;");
    if (beyond.empty()) return;
    throw app::RuntimeError(6, "The key field " + key + " holds the value " + beyond +
                                   ", beyond what Tessary can match exactly (keys from -9007199254740992 to "
                                   "9007199254740992). Choose a table whose keys stay within that range.");
}

// The most characters of a text key: the ends of the row ranges are kept in
// Config, whose values are Text(255).
constexpr long kLongestKey = 255;

bool IsBinary(const VARIANT& v) { return (v.vt & VT_ARRAY) != 0; }

// A text as a message quotes it: its first characters when it is long.
std::string Quoted(const std::string& text) {
    const QString t = QString::fromStdString(text);
    return "\"" + (t.size() > 40 ? (t.left(20) + QChar(0x2026)).toStdString() : text) + "\"";
}

// A binary value by its first bytes in hex and its size.
std::string BinaryText(const VARIANT& v) {
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v.parray, 1, &lo);
    SafeArrayGetUBound(v.parray, 1, &hi);
    const long size = hi - lo + 1;
    std::string text;
    void* p = nullptr;
    if (size > 0 && SUCCEEDED(SafeArrayAccessData(v.parray, &p))) {
        static const char kHex[] = "0123456789ABCDEF";
        for (long i = 0; i < size && i < 8; ++i) {
            const auto b = static_cast<const unsigned char*>(p)[i];
            if (i) text += ' ';
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        SafeArrayUnaccessData(v.parray);
        if (size > 8) text += "\u2026";
    }
    return text + " (" + std::to_string(size) + (size == 1 ? " byte)" : " bytes)");
}

[[noreturn]] void RaiseBinaryKey(const std::string& key, const VARIANT& v) {
    throw app::RuntimeError(13, "The key field " + key + " holds the binary value " + BinaryText(v) +
                                    ", which Tessary cannot use as a key. Choose a table whose key holds texts or "
                                    "numbers.");
}

// A binary value sorts after every other: it would be the last key of Test.
void RefuseBinaryKeys(dao::Database& db, const std::string& key) {
    const com::Variant last = FirstValue(db, "SELECT Max(MainPrimaryKey) FROM Test;");
    if (IsBinary(last)) RaiseBinaryKey(key, last);
}

// A text field's keys are all texts of at most kLongestKey characters. Numbers
// sort before every text whatever the comparison, so that one pass finds both.
void RefuseUnfitTextKeys(dao::Database& db, const std::string& key) {
    const std::string k = BracketName(key);
    RecordsetPtr rs = db.OpenRecordset("SELECT TOP 1 " + k + ", Len(" + k + ") FROM LinkDataSource WHERE " + k +
                                           " < '' OR Len(" + k + ") > " + std::to_string(kLongestKey) + ";",
                                       dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
    if (rs->Eof()) return;
    const com::Variant unfit = rs->Fields(0).Value();
    const int32_t length = rs->Fields(1).AsLong();
    rs->Close();
    if (IsBinary(unfit)) RaiseBinaryKey(key, unfit);
    if (length > kLongestKey)
        throw app::RuntimeError(3163, "The key field " + key + " holds a text of " + std::to_string(length) +
                                          " characters, " + Quoted(dao::VarToString(unfit)) +
                                          "; Tessary keeps keys of at most " + std::to_string(kLongestKey) +
                                          " characters. Choose a table whose keys are shorter.");
    const std::string number =
        dao::VarToString(FirstValue(db, "SELECT TOP 1 " + k + " FROM LinkDataSource WHERE " + k + " < '' ORDER BY " +
                                            k + ";"));
    const com::Variant text =
        FirstValue(db, "SELECT TOP 1 " + k + " FROM LinkDataSource WHERE " + k + " >= '' ORDER BY " + k + ";");
    throw app::RuntimeError(
        13, "The key field " + key + " holds the number " + number +
                (text.vt == VT_BSTR ? " and the text " + Quoted(dao::VarToString(text)) : std::string()) +
                ". Tessary reads this field as text, as it does a field of no declared type, and a number among its "
                "keys would not find its row. Every key must be a text: change the numbers, or choose a table whose "
                "key holds only numbers in a field declared as a number.");
}

// A number field's keys are all numbers: texts and binary values sort after them.
void RefuseUnfitNumberKeys(dao::Database& db, const std::string& key) {
    const std::string k = BracketName(key);
    const com::Variant unfit =
        FirstValue(db, "SELECT TOP 1 " + k + " FROM LinkDataSource WHERE " + k + " >= '' ORDER BY " + k + ";");
    if (unfit.IsEmpty()) return;
    if (IsBinary(unfit)) RaiseBinaryKey(key, unfit);
    throw app::RuntimeError(13, "The key field " + key + " is a number field but holds the text " +
                                    Quoted(dao::VarToString(unfit)) +
                                    ", which would not find its row. Every key must be a number: change that key, or "
                                    "choose a table whose key holds numbers only.");
}

// Keys the source keeps apart (a case-sensitive key) that compare as one:
// the error names two of them.
[[noreturn]] void RaiseEqualKeys(dao::Database& db, const std::string& key) {
    const std::string k = BracketName(key);
    RecordsetPtr rs = db.OpenRecordset("SELECT TOP 2 CStr(" + k + ") FROM LinkDataSource WHERE " + k + " IN (SELECT TOP 1 " +
                                           k + " FROM LinkDataSource GROUP BY " + k + " HAVING Count(*) > 1);",
                                       dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
    std::string first, second;
    if (!rs->Eof()) {
        first = dao::VarToString(rs->Fields(0).Value());
        rs->MoveNext();
    }
    if (!rs->Eof()) second = dao::VarToString(rs->Fields(0).Value());
    rs->Close();
    throw app::RuntimeError(3022, EqualKeysText(key, first, second));
}

}  // namespace

std::string EqualKeysText(const std::string& key, const std::string& first, const std::string& second) {
    return "The key field " + key + " holds the values \"" + first + "\" and \"" + second +
           "\", which Tessary takes for one key (it compares the letters A to Z without regard to case). "
           "Every row needs a key of its own: change one of them, or choose a table whose key tells every row "
           "apart.";
}

DatabasePtr OpenDataSource(const std::string& source, bool readOnly) {
    const bool odbc = source.find("ODBC;") != std::string::npos;
    app::ErrInfo err;
    try {
        return odbc ? dao::DBEngine::OpenDatabase("", false, readOnly, source)
                    : dao::DBEngine::OpenDatabase(source, false, readOnly);
    } catch (...) {
        // Kept to choose the next try or the box below.
        err = app::CurrentError();
    }
    if (err.number == 3050) {
        // The file cannot be locked for sharing: one more try, exclusively.
        try {
            return dao::DBEngine::OpenDatabase(source, true, readOnly);
        } catch (...) {
            // Kept to choose the box below.
            err = app::CurrentError();
        }
    }
    if (err.number == 3059) return nullptr;  // the user cancelled the driver's prompt
    if (err.number == 3343)
        ui::MsgBox(QStringLiteral("Unrecognized database format '") + QString::fromStdString(source) +
                       QStringLiteral("'."),
                   ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Open Database (3343)"));
    else if (err.number == 3035)
        ui::MsgBox(QString::fromStdString(err.description) + QStringLiteral("  '") + QString::fromStdString(source) +
                       QStringLiteral("' cannot be opened; it is not changed."),
                   ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Open Database (3035)"));
    else
        ui::MsgBox(QString::fromStdString(err.description), ui::Buttons::OK, ui::Icon::Critical,
                   QStringLiteral("Open Database (") + QString::number(err.number) + QLatin1Char(')'));
    return nullptr;
}

bool TableExists(const DatabasePtr& db, const std::string& name) {
    if (!db) return false;
    dao::TableDefs& defs = db->TableDefs();
    defs.Refresh();  // tables made by SQL on this connection show up only after a refresh
    // Names compare as the database compares them.
    const std::string_view wanted = TrimBlanks(name);
    for (int i = 0; i < defs.Count(); ++i)
        if (dao::CompareText(TrimBlanks(defs[i].Name()), wanted) == 0) return true;
    return false;
}

void RefuseUnfitKeys(const DatabasePtr& db, const CDataDef& dataDef) {
    const int16_t field = dataDef.PrimaryKeyField();
    if (!db || dataDef.CompositeKey() || field < 0) return;
    const int16_t type = dataDef.FieldType(field);
    // Such keys would be read as nothing that finds its row again.
    if (IsBlobType(type) || type == dao::dbBinary)
        throw app::RuntimeError(13, "The key field " + dataDef.FieldName(field) + " is a " + FieldTypeName(type) +
                                        " field, which Tessary cannot use as a key. Choose a table whose key field "
                                        "is a Text or a number field.");
    if (IsTextType(type)) RefuseUnfitTextKeys(*db, dataDef.FieldName(field));
    else if (IsNumericType(type)) RefuseUnfitNumberKeys(*db, dataDef.FieldName(field));
}

void CreateTestTable(CProject& project, CDataDef& dataDef, bool keysChecked) {
    // Test holds one row per data row, found by its key: a key of several
    // fields would give MainPrimaryKey values that are not unique.
    if (dataDef.CompositeKey())
        throw app::RuntimeError(5, "Table " + dataDef.TableName() +
                                       " has a primary key of several fields. Tessary needs a table whose "
                                       "primary key is a single field.");
    if (dataDef.PrimaryKeyField() < 0)
        throw app::RuntimeError(5, "Table " + dataDef.TableName() +
                                       " has no primary key. Tessary needs a table whose primary key is a "
                                       "single field.");
    const std::string key = dataDef.FieldName(dataDef.PrimaryKeyField());
    DatabasePtr db = project.OpenProject(false);
    if (!db) app::RaiseError(91);
    if (!keysChecked) RefuseUnfitKeys(db, dataDef);
    // The table and its key index come together or not at all: a Test without
    // its unique index would let one key name several rows.
    dao::Transaction made(*db);
    try {
        db->Execute("SELECT " + BracketName(key) +
                    " As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO Test FROM "
                    "LinkDataSource;");
        db->Execute("CREATE INDEX PrimaryKey ON Test(MainPrimaryKey)WITH PRIMARY;");
        RefuseKeysThatFindNoRow(*db, key, IsNumericType(dataDef.FieldType(dataDef.PrimaryKeyField())));
        RefuseBinaryKeys(*db, key);
        made.Commit();
    } catch (const dao::DaoError& e) {
        if (e.Number() != 3022) throw;
        made.Rollback();
        RaiseEqualKeys(*db, key);
    }
}

int32_t AddMissingTestRows(CProject& project, CDataDef& dataDef) {
    if (dataDef.CompositeKey() || dataDef.PrimaryKeyField() < 0) return 0;
    const std::string key = BracketName(dataDef.FieldName(dataDef.PrimaryKeyField()));
    DatabasePtr db = project.OpenProject(false);
    if (!db) app::RaiseError(91);
    try {
        db->Execute("INSERT INTO Test (MainPrimaryKey, Predicted, Actual, Mark) SELECT " + key +
                    ", -1, -1, 0 FROM LinkDataSource WHERE " + key + " Not In (SELECT MainPrimaryKey FROM Test);");
    } catch (const dao::DaoError& e) {
        if (e.Number() != 3022) throw;
        // A Test made before its keys were checked: say what really stands in the way.
        RefuseUnfitKeys(db, dataDef);
        RaiseEqualKeys(*db, dataDef.FieldName(dataDef.PrimaryKeyField()));
    }
    return int32_t(db->RecordsAffected());
}

std::string FieldTypeName(int16_t code) {
    switch (code) {
        case 1: return "Boolean";
        case 2: return "Byte";
        case 3: return "Integer";
        case 4:
        case AutoNumberLong: return "Long";
        case 5: return "Currency";
        case 6: return "Single";
        case 7: return "Double";
        case 8: return "Date/Time";
        case 9: return "Binary";
        case 10: return "Text";
        case 11: return "Long Binary";
        case 12: return "Memo";
        case 15: return "GUID";
        case 16: return "Big Integer";
        case 17: return "VarBinary";
        case 18: return "Char";
        case 19: return "Numeric";
        case 20: return "Decimal";
        case 21: return "Float";
        case 22: return "Time";
        case 23: return "Time Stamp";
        default: return "Unknown";
    }
}

int16_t FieldTypeClass(int16_t code) {
    switch (code) {
        case 15:
        case 11:
        case 17:
        case 12: return TypeClassUnusable;
        case 9:
        case 16:
        case 2:
        case 5:
        case 20:
        case 7:
        case 21:
        case 3:
        case 4:
        case 19:
        case 6:
        case AutoNumberLong:
        case 8:
        case 22:
        case 23: return TypeClassOrdered;
        case 10:
        case 18:
        case 1: return TypeClassCategorical;
        default: return TypeClassOther;
    }
}

bool IsNumericType(int16_t code) {
    switch (code) {
        case 16: case 2: case 5: case 20: case 7: case 21: case 3: case 4: case 19: case 6: case AutoNumberLong:
            return true;
        default: return false;
    }
}

bool IsIntegerType(int16_t code) {
    return code == 16 || code == 2 || code == 3 || code == 4 || code == AutoNumberLong;
}

bool IsTextType(int16_t code) { return code == 10 || code == 18; }
bool IsDateType(int16_t code) { return code == 8 || code == 22 || code == 23; }
bool IsBlobType(int16_t code) { return code == 15 || code == 11 || code == 17 || code == 12; }

std::string SqlText(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

std::string BracketName(const std::string& name) {
    if (name.find(']') != std::string::npos)
        throw dao::DaoError(3125, "'" + name + "' is not a valid name. Make sure that it does not include invalid "
                                               "characters or punctuation and that it is not too long.");
    return "[" + name + "]";
}

}  // namespace MdbUtils
