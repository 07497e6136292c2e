// The database writer of the marked-rows export.
#include "MExport.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "CClassNames.h"
#include "CDataDef.h"
#include "CMarkedRows.h"
#include "CProject.h"
#include "CSafeFile.h"
#include "ExportContext.h"
#include "MFileUtils.h"

#include "file/Error.h"
#include "file/SafeFile.h"

#include "ui/dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace MExport {

namespace {

constexpr long kMaxText = 255;

std::string FreeTableName(dao::Database& db) {
    dao::TableDefs& defs = db.TableDefs();
    defs.Refresh();
    std::string name = "Tessary_Import";
    for (int n = 1;; ++n) {
        bool taken = false;
        for (int i = 0; i < defs.Count() && !taken; ++i) {
            const dao::TableDef def = defs[i];
            if ((def.Attributes() & dao::dbSystemObject) != 0) continue;
            // The database does not tell names apart by letter case, so neither may this.
            taken = dao::CompareText(def.Name(), name) == 0;
        }
        if (!taken) return name;
        name = "Tessary_Import" + std::to_string(n);
    }
}

// Wide enough for every class name and for "N/A", whatever the output's type.
long PredictionSize(const ExportContext& ctx, dao::Database& project, const CMarkedRows& rows) {
    long size = 3;
    const int16_t output = rows.OutputField();
    if (output >= 0) {
        const dao::Field field = project.TableDefs()["LinkDataSource"].Fields()[output];
        if (MdbUtils::IsTextType(field.Type())) size = std::max(size, field.Size());
        else size = kMaxText;
        for (int16_t i = 0; i < 256; ++i) {
            const std::string name = rows.ClassNames().Class(output, i);
            if (name.empty()) break;
            size = std::max(size, long(com::ToU16(name).size()));
        }
    }
    (void)ctx;
    return std::min(size, kMaxText);
}

// Access files are read through a copy of another format and are never written.
bool IsOwnDatabaseFormat(const std::string& path) {
    static const char kHeader[] = "SQLite format 3";
    char head[sizeof kHeader] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(head, sizeof head) && std::equal(head, head + sizeof head, kHeader);
}

// A new name: the database is made aside.
DatabasePtr OpenNewFile(const ExportContext& ctx, const std::string& path, const QString& title,
                        std::unique_ptr<CSafeFile>& made) {
    made = std::make_unique<CSafeFile>(path, WriteCheck(ctx.project.get(), title));
    return dao::DBEngine::CreateDatabase(made->TempPath(), dao::dbLangGeneral);
}

// The copy takes the chosen name, as every writer's file does: a link of that
// name is replaced, and the file it led to is not written.
DatabasePtr OpenOwnCopy(const ExportContext& ctx, const std::string& path, const QString& title,
                        dao::Database& existing, std::unique_ptr<CSafeFile>& made) {
    made = std::make_unique<CSafeFile>(path, WriteCheck(ctx.project.get(), title));
    existing.CopyTo(made->TempPath());
    existing.Close();
    // Another program's file, perhaps: it gets the table and nothing else.
    return dao::DBEngine::OpenGuest(made->TempPath());
}

// Another program's file by its own name: written where it is, and still the file checked.
DatabasePtr OpenInPlace(const std::string& path, const std::string& real, const struct stat& checked,
                        dao::Database& existing, std::string& inPlace) {
    existing.Close();
    inPlace = path;
    DatabasePtr target = dao::DBEngine::OpenGuest(real);
    if (!file::SafeFile::SameFile(checked, real)) throw app::RuntimeError(75, "Path/File access error");
    return target;
}

// An existing one, read through a link of that name: checked again now,
// opened by its real name, and still the file checked once open. Null when
// it may not be written (the user has been told).
DatabasePtr OpenExisting(const ExportContext& ctx, const QString& fileName, const std::string& path,
                         const QString& title, std::unique_ptr<CSafeFile>& made, std::string& inPlace) {
    std::error_code ec;
    const std::string real = std::filesystem::canonical(path, ec).string();
    struct stat checked {};
    if (ec || ::stat(real.c_str(), &checked) != 0) throw app::RuntimeError(75, "Path/File access error");
    if (!MayWrite(ctx.project.get(), real, title)) return nullptr;
    // Only read: opening it for writing would already change it (its
    // journal mode, an older file's indexes) before the copy is complete.
    DatabasePtr existing = MdbUtils::OpenDataSource(real, true);
    if (!existing) return nullptr;
    if (!file::SafeFile::SameFile(checked, real)) throw app::RuntimeError(75, "Path/File access error");
    if (!IsOwnDatabaseFormat(real) || ::access(real.c_str(), W_OK) != 0) {
        // Access files are read through a copy here and cannot be written.
        ui::MsgBox(QStringLiteral("'") + fileName +
                       QStringLiteral("' cannot be written: Access databases and read-only files can be "
                                      "read but not changed.  Please select another file name."),
                   ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("MTessary::MDBExportMarked"));
        return nullptr;
    }
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode) && existing->FileVersion() == 0)
        return OpenInPlace(path, real, checked, *existing, inPlace);
    return OpenOwnCopy(ctx, path, title, *existing, made);
}

// The marked rows as a new table of the target, with the prediction first.
void WriteMarkedTable(const ExportContext& ctx, dao::Database& project, const CMarkedRows& rows,
                      dao::Database& target) {
    RecordsetPtr rs = project.OpenRecordset(rows.Sql(), dao::RecordsetType::ForwardOnly);
    const int count = rs->Fields().Count();
    std::vector<std::string> names;
    for (int i = 1; i < count; ++i) names.push_back(rs->Fields(i).Name());

    // In another program's file this waits for its writers (a bounded
    // wait, then "in use"), and the name is free when the table is made.
    {
        dao::Transaction written(target);
        const std::string table = FreeTableName(target);
        dao::TableDef def = target.CreateTableDef(table);
        def.Fields().Append(def.CreateField(CMarkedRows::PredictionName(names), dao::dbText,
                                            PredictionSize(ctx, project, rows)));
        for (int i = 1; i < count; ++i) {
            const dao::Field column = rs->Fields(i);
            def.Fields().Append(def.CreateField(column.Name(), column.Type(), column.Size()));
        }
        target.TableDefs().Append(def);
        target.TableDefs().Refresh();
        for (int i = 1; i < count; ++i) {
            if (dao::CompareText(names[size_t(i - 1)], rows.KeyName()) != 0) continue;
            const dao::Field column = rs->Fields(i);
            dao::TableDef added = target.TableDefs()[table];
            dao::Index index = added.CreateIndex("PrimaryKey");
            index.Fields().Append(index.CreateField(column.Name(), column.Type(), column.Size()));
            index.SetPrimary(true);
            added.Indexes().Append(index);
            break;
        }

        RecordsetPtr out = target.OpenRecordset(table, dao::RecordsetType::Dynaset);
        std::vector<dao::Field> source, dest;
        for (int i = 0; i < count; ++i) {
            source.push_back(rs->Fields(i));
            dest.push_back(out->Fields(i));
        }
        int keyColumn = -1;
        for (int i = 1; i < count && keyColumn < 0; ++i)
            if (dao::CompareText(names[size_t(i - 1)], rows.KeyName()) == 0) keyColumn = i;
        const com::Variant none = com::Variant::Null();
        while (!rs->Eof()) {
            out->AddNew();
            const com::Variant key = keyColumn > 0 ? source[size_t(keyColumn)].Value() : none;
            dest[0].SetValue(com::Variant::Str(rows.Prediction(source[0].Value(), key)));
            for (int i = 1; i < count; ++i) dest[size_t(i)].SetValue(source[size_t(i)].Value());
            out->Update();
            rs->MoveNext();
        }
        out->Close();
        written.Commit();
    }
    rs->Close();
}

}  // namespace

bool MDBExportMarked(const ExportContext& ctx, const QString& fileName, int16_t scope) {
    const std::string path = fileName.toStdString();
    const QString title = QStringLiteral("Export Marked");
    // A new database, or a copy of a file of this program's own or of the file
    // a link of that name leads to, is made aside and takes the chosen name only
    // when complete in its one file and checked. Another program's file,
    // perhaps open in that program now, gets the table where it is, in one
    // transaction under SQLite's own locking: that program's readers and
    // writers go on, and nothing of it is replaced.
    std::unique_ptr<CSafeFile> made;
    std::string inPlace;  // the chosen name, when it is written where it is
    try {
        CMarkedRows rows(ctx, scope);
        DatabasePtr project = ctx.project->OpenProject(false);
        if (!project) app::RaiseError(91);

        file::RefuseNotAFile(path);
        DatabasePtr target = MFileUtils::FileExists(path) ? OpenExisting(ctx, fileName, path, title, made, inPlace)
                                                          : OpenNewFile(ctx, path, title, made);
        if (!target) return false;

        WriteMarkedTable(ctx, *project, rows, *target);
        if (!inPlace.empty()) {
            target->Close();  // committed
            return true;
        }
        target->Finish();
        return made->CommitDatabase();
    } catch (...) {
        // Explained with the file it was writing, then shown.
        app::ErrInfo e = app::CurrentError();
        if (made) e.description = made->Explain(e.description);
        else if (!inPlace.empty()) e.description = file::Outcome(e.description, inPlace, true);
        base::ShowError("MTessary::MDBExportMarked", e);
        return false;
    }
}

}  // namespace MExport
