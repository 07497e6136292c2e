#include "CProject.h"

#include "AppErrors.h"
#include "CSafeFile.h"
#include "MFileUtils.h"
#include "MdbUtils.h"
#include "file/Error.h"
#include "ErrorGuard.h"

#include "ui/dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace {

constexpr const char* kCreateConfig =
    "CREATE TABLE Config (Property Text(255) CONSTRAINT PrimaryKey PRIMARY KEY, sValue Text(255) );";

// The leading number of a text, as the runtime's Val reads it ("16abc" is 16,
// "" and "x" are 0). Blanks are skipped.
double Val(const std::string& text) {
    std::string digits;
    bool dot = false, exp = false, any = false;
    size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    skip();
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) digits += text[i++];
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t') continue;
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
            any = true;
        } else if (c == '.' && !dot && !exp) {
            digits += c;
            dot = true;
        } else if ((c == 'e' || c == 'E') && any && !exp) {
            // Only when digits follow.
            size_t j = i + 1;
            if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
            if (j >= text.size() || !std::isdigit(static_cast<unsigned char>(text[j]))) break;
            digits += 'e';
            if (text[i + 1] == '-' || text[i + 1] == '+') digits += text[++i];
            exp = true;
        } else {
            break;
        }
    }
    if (!any) return 0;
    try {
        return std::stod(digits);
    } catch (...) {
        // Not a number: 0.
        return 0;
    }
}

// Root can write to any file; the project must still refuse one whose
// permission bits say it is read-only, so they are checked directly.
bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The test that a file can be the project: a database that no other program
// holds and that could be written. It is opened read-only (exclusively, so a
// holder is still noticed), since a file that turns out not to be a project
// must be left exactly as it was; the connection serves the rest of the checks.
DatabasePtr OpenOpenable(const std::string& path) {
    if (IsReadOnlyFile(path)) throw dao::DaoError(3051, dao::ErrorDescription(3051, path));
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (::access(dir.empty() ? "." : dir.c_str(), W_OK) != 0) throw dao::DaoError(3050, dao::ErrorDescription(3050));
    return CProject::OpenToRead(path, true);
}

// The tables the program makes and writes in a project, with the columns it
// writes. Older projects have the same names (NodeData once held its tree as
// binary, TreeLinks has one column per branch, Test's key takes the data
// key's type), so only the names are required.
struct OwnTable {
    const char* name;
    std::vector<const char*> columns;
};

const OwnTable kOwnTables[] = {
    {"Config", {"Property", "sValue"}},
    {"FieldConfig",
     {"FieldOrder", "FieldName", "FieldType", "FieldMax", "FieldMin", "FieldAvg", "FieldStdDev", "UserImportance",
      "UserMatchType", "UserMax", "UserMin", "UserOutOfRange", "PrimaryKeyField", "MaxClass", "Missing"}},
    {"Test", {"MainPrimaryKey", "Predicted", "Actual", "Mark"}},
    {"NodeData", {"NodeData", "PruneRate", "MinItems"}},
    {"TreeNodes", {"NodeNum", "NodeType", "Forks", "FieldNum", "Cut", "DisClass", "Class", "Items", "Errors"}},
    {"TreeLinks", {"NodeNum"}},
    {"MSysLinks", {"Name", "Connect", "SourceTableName", "Attributes"}},
    {"DValues_", {"DValues", "Count", "ValueNum"}},  // one per field: DValues_0, DValues_1 ...
};

// Names compare as the database compares them.
bool SameName(std::string_view a, std::string_view b) { return dao::CompareText(a, b) == 0; }

const OwnTable* OwnTableNamed(const std::string& name) {
    for (const OwnTable& t : kOwnTables) {
        const std::string_view own = t.name;
        if (SameName(name, own)) return &t;
        if (own.back() == '_' && name.size() > own.size() && SameName(std::string_view(name).substr(0, own.size()), own) &&
            std::all_of(name.begin() + long(own.size()), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return &t;
    }
    return nullptr;
}

// Why the program must not write to the project as it stands, naming the
// table; "" when nothing is wrong. The program's own tables must be the
// project's own (a link under such a name would send its writes into another
// file), hold the columns it writes, and compute nothing as rows are written.
std::string DamagedTable(const DatabasePtr& db) {
    dao::TableDefs& defs = db->TableDefs();
    std::vector<std::string> local;
    for (int i = 0; i < defs.Count(); ++i)
        if (defs[i].Connect().empty()) local.push_back(defs[i].Name());
    for (int i = 0; i < defs.Count(); ++i) {
        dao::TableDef t = defs[i];
        const std::string name = t.Name();
        if (t.Connect().empty()) continue;
        if (OwnTableNamed(name) ||
            std::any_of(local.begin(), local.end(), [&](const std::string& l) { return SameName(l, name); }))
            return "The table " + name + " is a link to " + t.SourceTableName() + " in " +
                   (t.LinkedFile().empty() ? t.Connect() : t.LinkedFile()) +
                   ", but it must be the project's own table.";
    }
    for (int i = 0; i < defs.Count(); ++i) {
        dao::TableDef t = defs[i];
        const OwnTable* own = OwnTableNamed(t.Name());
        if (!own) continue;
        for (const char* column : own->columns) {
            bool found = false;
            for (const dao::Field& f : t.Fields()) found = found || SameName(f.Name(), column);
            if (!found) return "The table " + t.Name() + " is damaged: it has no column " + column + ".";
        }
        const std::string computed = t.ComputedPart();
        if (!computed.empty())
            return "The table " + t.Name() + " is damaged: " + computed + " computes values as rows are written.";
    }
    return {};
}

// The box for a table the program must not write to.
void RefuseDamagedTable(const std::string& fileName, const std::string& problem) {
    ui::MsgBox(QStringLiteral("Project file: ") + QString::fromStdString(fileName) +
                   QStringLiteral(" cannot be opened.") + QLatin1Char('\n') + QString::fromStdString(problem),
               ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Project Read Failed"));
}

}  // namespace

CProject::~CProject() { Destroy(); }

DatabasePtr CProject::OpenToRead(const std::string& fileName, bool exclusive) {
    DatabasePtr db = dao::DBEngine::OpenDatabase(fileName, exclusive, true);
    if (db->FileVersion() == 0 || db->IndexesInOrder("Config")) return db;
    // Rebuilding the index needs an open that may write, which the file may
    // not allow here and which waits for another program's write: the file is
    // rebuilt by the next open to write it, and this read goes to a copy of it
    // as it is now, rebuilt aside and removed with the last holder of it.
    static int copies = 0;
    const std::string copy = (std::filesystem::temp_directory_path() /
                              ("tessary-settings-" + std::to_string(::getpid()) + "-" + std::to_string(++copies) + ".txp"))
                                 .string();
    const auto remove = [copy] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal", ".lck"}) ::unlink((copy + suffix).c_str());
    };
    try {
        db->CopyTo(copy);
        db->Close();
        DatabasePtr rebuilt = dao::DBEngine::OpenDatabase(copy, false, false);
        return DatabasePtr(std::shared_ptr<void>(nullptr, [rebuilt, remove](void*) mutable {
                               rebuilt.reset();
                               remove();
                           }),
                           rebuilt.get());
    } catch (...) {
        // The copy is removed on every way out.
        remove();
        throw;
    }
}

bool CProject::CheckTables(const std::string& fileName, const std::function<void()>& beforeMessage) {
    std::string problem;
    try {
        DatabasePtr db = dao::DBEngine::OpenDatabase(fileName, false, true);
        problem = DamagedTable(db);
        db->Close();
    } catch (...) {
        // Unchecked is refused.
        if (beforeMessage) beforeMessage();
        const app::ErrInfo error = app::CurrentError();
        if (!ReportError(fileName, error.number)) base::ShowError("CProject::CheckTables", error);
        return false;
    }
    if (problem.empty()) return true;
    if (beforeMessage) beforeMessage();
    RefuseDamagedTable(fileName, problem);
    return false;
}

void CProject::Initialize(const std::string& fileName) {
    if (!fileName.empty()) mFileName = fileName;
    else if (mFileName.empty()) return;
    InitProject();
}

bool CProject::Report(const std::string& procedure, const app::ErrInfo& err) {
    if (!ReportError(mFileName, err.number)) base::ShowError("CProject::" + procedure, err);
    return false;
}

void CProject::InitProject() {
    if (mFileName.empty()) return;
    std::string type, problem;
    float version = 0;
    try {
        DatabasePtr db = OpenOpenable(mFileName);
        problem = DamagedTable(db);
        type = ReadConfig(db, "ProjectType", {});
        version = float(Val(ReadConfig(db, "VersionMajor", {}))) * 100.0f +
                  float(Val(ReadConfig(db, "VersionMinor", {}))) +
                  float(Val(ReadConfig(db, "VersionRevision", {}))) / 100.0f;
        db->Close();
    } catch (...) {
        // The project's own box; the file is not taken.
        Report("InitProject", app::CurrentError());
        mFileName.clear();
        return;
    }
    if (!problem.empty()) {
        RefuseDamagedTable(mFileName, problem);
        mFileName.clear();
        return;
    }
    if (type != "Tessary" || version < 100.0f) {
        ui::MsgBox(QString::fromStdString(mFileName) + QStringLiteral(" is not a valid project."), ui::Buttons::OK,
                   ui::Icon::Critical, QStringLiteral("Project Read Unsucessful"));
        mFileName.clear();
    }
}

bool CProject::ReportError(const std::string& fileName, long number) {
    if ((number < 2420 || number > 3660) && number != dao::kNewerFile) return false;
    const QString file = QString::fromStdString(fileName);
    switch (number) {
        case dao::kNewerFile:  // says why it is not opened and that nothing in it was changed
            ui::MsgBox(QString::fromStdString(dao::ErrorDescription(number, fileName)), ui::Buttons::OK,
                       ui::Icon::Exclamation, QStringLiteral("Project Open Failed"));
            return true;
        case 3049:
        case 3343:
            ui::MsgBox(file + QStringLiteral(" is not a valid project file or is corrupt."), ui::Buttons::OK,
                       ui::Icon::Critical, QStringLiteral("Project Read Failed"));
            return true;
        case 3006:
        case 3045:
        case 3356:
        case 3196:
            ui::MsgBox(QStringLiteral("Project File: ") + file +
                           QStringLiteral(" is in use by another application.  Please close the other "
                                          "application before continuing."),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Project Read Failed"));
            return true;
        case file::kDiskFull:  // the one box of a full disk under the project, on opening it or writing
            ui::MsgBox(QStringLiteral("Project file: ") + file +
                           QStringLiteral(" cannot be used: the disk is full (no space left on the device).  The "
                                          "file is not changed; free some space and try again."),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Project Operation Failed"));
            return true;
        case 3050:
        case 3051:
            ui::MsgBox(QStringLiteral("Project file: ") + file + QStringLiteral(" is read only. ") +
                           QLatin1Char('\n') + QStringLiteral("The project must be writable to continue."),
                       ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Project Open Failed"));
            return true;
        default:
            ui::MsgBox(QStringLiteral("Project file operation error #") + QString::number(number) +
                           QLatin1Char('.'),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Project Operation Failed"));
    }
    return true;
}

DatabasePtr CProject::OpenProject(bool exclusive) {
    if (mFileName.empty()) return nullptr;
    try {
        if (mDatabase && exclusive != mExclusive) mDatabase.reset();
        DatabasePtr db = dao::DBEngine::OpenDatabase(mFileName, exclusive, false);
        mDatabase = db;
        mIsOpen = true;
        mExclusive = exclusive;
        return db;
    } catch (...) {
        // The project's own box; no connection.
        Report("OpenProject", app::CurrentError());
        return nullptr;
    }
}

void CProject::CloseProject() {
    if (mDatabase) {
        // Already closed by its other holder.
        base::RecordErrors("CProject::CloseProject", [&] {
            mDatabase->Close();
        });
        mDatabase.reset();
        mExclusive = false;
    }
    mIsOpen = false;
}

void CProject::Destroy() { mDatabase.reset(); }

// The data source named in the project's settings: pending, or already in the
// file (a setting saved while the file existed went straight into it).
bool CProject::IsOwnDataSource(const std::string& path) {
    std::vector<std::string> sources;
    for (size_t i = 0; i < mPendingNames.size(); ++i)
        if ((mPendingNames[i] == "DataSourceName" || mPendingNames[i] == "DatabaseName") &&
            mPendingValues[i].vt == VT_BSTR)
            sources.push_back(mPendingValues[i].ToUtf8());
    // Not a readable database: it cannot be anyone's data source here.
    base::RecordErrors("CProject::IsOwnDataSource", [&] {
        DatabasePtr db = dao::DBEngine::OpenDatabase(path, false, true);
        if (MdbUtils::TableExists(db, "Config")) {
            RecordsetPtr rs = db->OpenRecordset(
                "SELECT sValue FROM Config WHERE Property IN ('DataSourceName', 'DatabaseName');",
                dao::RecordsetType::Snapshot);
            for (; !rs->Eof(); rs->MoveNext())
                if (!rs->Fields(0).IsNull()) sources.push_back(rs->Fields(0).AsString());
        }
    });
    for (const std::string& source : sources) {
        std::error_code ec;
        if (!source.empty() && std::filesystem::equivalent(path, source, ec) && !ec) return true;
    }
    return false;
}

bool CProject::Create(const std::string& fileName) {
    if (!fileName.empty()) mFileName = fileName;
    if (mFileName.empty()) return false;
    // The new file is made aside with its settings and takes the name only
    // when complete: a full disk leaves a file of that name as it was.
    std::unique_ptr<CSafeFile> made;
    try {
        if (MFileUtils::FileExists(mFileName) && IsOwnDataSource(mFileName)) {
            ui::MsgBox(QString::fromStdString(mFileName) +
                           QStringLiteral(" holds the project's data and cannot be replaced by a new project."),
                       ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("CProject::Create"));
            return false;
        }
        // The database keeps its journal beside the file, named after it: under
        // a name too long for that the project could be made but never written.
        if (MFileUtils::GetFileName(mFileName).size() + std::strlen("-journal") > file::SafeFile::kLongestName)
            throw file::AccessError("'" + mFileName +
                                    "' is too long a name for a project: the database could not keep its journal "
                                    "beside it.");
        // A connection still held belongs to the file being replaced, or to
        // another file: the settings below must not go to it.
        CloseProject();
        try {
            made = std::make_unique<CSafeFile>(mFileName, nullptr);
        } catch (const file::Error& e) {
            // As the database layer names a folder that is not there.
            if (e.Number() == file::kPathNotFound) throw dao::DaoError(3044, dao::ErrorDescription(3044, mFileName));
            throw;
        }
        auto db = dao::DBEngine::CreateDatabase(made->TempPath(), dao::dbLangGeneral);
        // In order of saving, so the last value saved under a name is the one kept.
        WriteConfig(db, "ProjectType", com::Variant::Str("Tessary"));
        WriteConfig(db, "VersionMajor", com::Variant::I4(tessary::VersionMajor));
        WriteConfig(db, "VersionMinor", com::Variant::I4(tessary::VersionMinor));
        WriteConfig(db, "VersionRevision", com::Variant::I4(tessary::VersionRevision));
        for (size_t i = 0; i < mPendingNames.size(); ++i) WriteConfig(db, mPendingNames[i], mPendingValues[i]);
        db->Finish();
        made->CommitDatabase();
    } catch (...) {
        // Explained with the file being made, then the project's own box.
        app::ErrInfo err = app::CurrentError();
        if (made) err.description = made->Explain(err.description);
        return Report("Create", err);
    }
    mPendingNames.clear();
    mPendingValues.clear();
    return true;
}

std::string CProject::GetConfig(const std::string& property, const std::string& defaultValue) {
    if (!MFileUtils::FileExists(mFileName)) {
        // The file will hold the last value saved under the name; answer that one.
        for (size_t i = mPendingNames.size(); i-- > 0;) {
            if (mPendingNames[i] != property) continue;
            if (mPendingValues[i].IsNull()) return {};
            try {
                return dao::VarToString(mPendingValues[i]);
            } catch (...) {
                // Not text: the default.
                return defaultValue;
            }
        }
        return defaultValue;
    }
    try {
        return ReadConfig((mIsOpen && mDatabase) ? mDatabase : dao::DBEngine::OpenDatabase(mFileName, false, true),
                          property, defaultValue);
    } catch (...) {
        // The project's own box; the default.
        Report("GetConfig", app::CurrentError());
        return defaultValue;
    }
}

std::string CProject::ReadConfig(const DatabasePtr& db, const std::string& property, const std::string& defaultValue) {
    std::string result = defaultValue;
    if (MdbUtils::TableExists(db, "Config")) {
        RecordsetPtr rs = db->OpenRecordset("Config", dao::RecordsetType::Snapshot);
        rs->FindFirst("Property = " + MdbUtils::SqlText(property));
        if (!rs->NoMatch()) {
            const com::Variant v = rs->Fields("sValue").Value();
            result = v.IsNull() ? std::string() : dao::VarToString(v);
        }
        rs->Close();
    }
    return result;
}

bool CProject::SaveConfig(const std::string& property, const com::Variant& value) {
    if (!mFileName.empty() && !MFileUtils::FileExists(mFileName)) {
        mPendingNames.push_back(property);
        mPendingValues.push_back(value);
        return true;
    }
    try {
        StoreConfig(property, value);
        return true;
    } catch (...) {
        // The project's own box.
        return Report("SaveConfig", app::CurrentError());
    }
}

void CProject::StoreConfig(const std::string& property, const com::Variant& value) {
    WriteConfig((mIsOpen && mDatabase) ? mDatabase : dao::DBEngine::OpenDatabase(mFileName, false, false), property,
                value);
}

void CProject::WriteConfig(const DatabasePtr& db, const std::string& property, const com::Variant& value) {
    if (!MdbUtils::TableExists(db, "Config")) db->Execute(kCreateConfig);
    com::Variant text = value.IsNull() ? com::Variant::Null() : com::Variant::Str(dao::VarToString(value));
    RecordsetPtr rs = db->OpenRecordset("Config", dao::RecordsetType::Dynaset);
    rs->FindFirst("Property = " + MdbUtils::SqlText(property));
    if (rs->NoMatch()) {
        rs->AddNew();
        rs->Fields("Property").SetValue(com::Variant::Str(property));
    } else {
        rs->Edit();
    }
    rs->Fields("sValue").SetValue(text);
    rs->Update();
    rs->Close();
}

bool CProject::AttachDataSource(const std::string& dataSourceName, const std::string& tableName) {
    if (dataSourceName.empty() || tableName.empty() || mFileName.empty()) return false;
    try {
        DatabasePtr db = dao::DBEngine::OpenDatabase(mFileName, false, false);
        dao::TableDefs& defs = db->TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            if (defs[i].Name() == "LinkDataSource") {
                db->Execute("DROP TABLE LinkDataSource;");
                break;
            }
        }
        const std::string connect = dataSourceName.find("ODBC;") != std::string::npos
                                        ? dataSourceName
                                        : ";DATABASE=" + dataSourceName;
        dao::TableDef link = db->CreateTableDef("LinkDataSource", 0, tableName, connect);
        db->TableDefs().Append(link);
        db->Close();
        return SaveConfig("DataSourceName", dataSourceName) && SaveConfig("TableName", tableName);
    } catch (...) {
        // A full disk is the project file's; other errors are the source's.
        if (app::CurrentError().number == 3035) return Report("AttachDataSource", app::CurrentError());
        base::ShowCaught("CProject::AttachDataSource");
        return false;
    }
}

namespace {

// A text the comparison of earlier versions placed or grouped otherwise.
bool ComparedOtherwise(std::string_view text) {
    for (unsigned char c : text)
        if ((c >= '[' && c <= '`') || c >= 0x80) return true;
    return false;
}

// Whether a column of a table holds such a text, read in blocks.
bool HoldsTextComparedOtherwise(dao::Database& db, const std::string& table, const std::string& column) {
    RecordsetPtr rs = db.OpenRecordset("SELECT " + MdbUtils::BracketName(column) + " FROM " + MdbUtils::BracketName(table) + ";",
                                       dao::RecordsetType::ForwardOnly, dao::dbReadOnly);
    bool found = false;
    while (!found && !rs->Eof()) {
        const std::string text = rs->Fields(0).Value().vt == VT_BSTR ? rs->Fields(0).AsString() : std::string();
        found = ComparedOtherwise(text);
        rs->MoveNext();
    }
    rs->Close();
    return found;
}

}  // namespace

bool CProject::ComparedOtherwiseBefore(const DatabasePtr& db) {
    if (!db) return false;
    const int version = db->FileVersion();
    if (version < 1 || version > 2) return false;
    dao::TableDefs& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const std::string name = defs[i].Name();
        if (name.rfind("DValues_", 0) == 0 && HoldsTextComparedOtherwise(*db, name, "DValues")) return true;
        if (SameName(name, "Test") && MdbUtils::IsTextType(defs[i].Fields()["MainPrimaryKey"].Type()) &&
            HoldsTextComparedOtherwise(*db, name, "MainPrimaryKey"))
            return true;
    }
    return false;
}
