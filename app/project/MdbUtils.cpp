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

// The first value of a one-column query, as text; "" when it has no row.
std::string FirstText(dao::Database& db, const std::string& sql) {
    RecordsetPtr rs = db.OpenRecordset(sql, dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
    std::string text = rs->Eof() ? std::string() : dao::VarToString(rs->Fields(0).Value());
    rs->Close();
    return text;
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
        err = app::CurrentError();
    }
    if (err.number == 3050) {
        // The file cannot be locked for sharing: one more try, exclusively.
        try {
            return dao::DBEngine::OpenDatabase(source, true, readOnly);
        } catch (...) {
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

void CreateTestTable(CProject& project, CDataDef& dataDef) {
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
    // The table and its key index come together or not at all: a Test without
    // its unique index would let one key name several rows.
    db->BeginTrans();
    try {
        db->Execute("SELECT " + BracketName(key) +
                    " As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO Test FROM "
                    "LinkDataSource;");
        db->Execute("CREATE INDEX PrimaryKey ON Test(MainPrimaryKey)WITH PRIMARY;");
        RefuseKeysThatFindNoRow(*db, key, IsNumericType(dataDef.FieldType(dataDef.PrimaryKeyField())));
        db->CommitTrans();
    } catch (const dao::DaoError& e) {
        db->Rollback();
        if (e.Number() == 3022) RaiseEqualKeys(*db, key);
        throw;
    } catch (...) {
        db->Rollback();
        throw;
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
        if (e.Number() == 3022) RaiseEqualKeys(*db, dataDef.FieldName(dataDef.PrimaryKeyField()));
        throw;
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
