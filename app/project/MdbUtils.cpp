#include "MdbUtils.h"

#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"

#include "ui/dialogs.h"

#include <QString>

namespace MdbUtils {

namespace {

QString Upper(const std::string& s) {
    QString q = QString::fromStdString(s);
    // Trim blanks only, as the names are compared after Trim.
    qsizetype b = 0, e = q.size();
    while (b < e && q[b] == QLatin1Char(' ')) ++b;
    while (e > b && q[e - 1] == QLatin1Char(' ')) --e;
    return q.mid(b, e - b).toUpper();
}

}  // namespace

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
    const QString wanted = Upper(name);
    for (int i = 0; i < defs.Count(); ++i)
        if (Upper(defs[i].Name()) == wanted) return true;
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
    db->Execute("SELECT " + BracketName(key) +
                " As MainPrimaryKey, CInt(-1) As Predicted, CInt(-1) As Actual, CInt(0) As Mark INTO Test FROM "
                "LinkDataSource;");
    db->Execute("CREATE INDEX PrimaryKey ON Test(MainPrimaryKey)WITH PRIMARY;");
}

int32_t AddMissingTestRows(CProject& project, CDataDef& dataDef) {
    if (dataDef.CompositeKey() || dataDef.PrimaryKeyField() < 0) return 0;
    const std::string key = BracketName(dataDef.FieldName(dataDef.PrimaryKeyField()));
    DatabasePtr db = project.OpenProject(false);
    if (!db) app::RaiseError(91);
    db->Execute("INSERT INTO Test (MainPrimaryKey, Predicted, Actual, Mark) SELECT " + key +
                ", -1, -1, 0 FROM LinkDataSource WHERE " + key +
                " Not In (SELECT MainPrimaryKey FROM Test);");
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
