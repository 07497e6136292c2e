#include "MExport.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "AppServices.h"
#include "CCommonDialog.h"
#include "CDataDef.h"
#include "CMarkedRows.h"
#include "CProject.h"
#include "CRegSettings.h"
#include "CSafeFile.h"
#include "CTRX.h"
#include "CTextRowWriter.h"
#include "ExportContext.h"
#include "IGridPanel.h"
#include "MFileUtils.h"
#include "MUtilities.h"

#include "file/Error.h"
#include "ui/dialogs.h"

#include <QCoreApplication>

namespace MExport {

namespace {

constexpr int32_t kHideReadOnly = 4;
constexpr long kBlockRows = 512;
constexpr int16_t kDatabaseType = 2;  // "MS Access (*.mdb)", the second file type

const QString kProtectedText = QStringLiteral("Cannot overwrite project datasource.  Please select another file name.");
const QString kMarkedTitle = QStringLiteral("Export Marked");

bool HasRows(const ExportContext& ctx) {
    if (!ctx.grid || !ctx.grid->RecordSet()) return false;
    return ctx.grid->RecordCount() > 0;
}

char Delimiter(const ExportContext& ctx, bool* none) {
    const std::string setting = ctx.regSettings ? ctx.regSettings->GetSetting("Config", "TextDelim", "0") : "0";
    const int16_t code = dao::VarToShort(com::Variant::Str(setting));
    *none = code != 0 && code != 1;
    return code == 1 ? '\t' : ',';
}

enum class Written { Done, NeedsUtf8, Refused };

// One pass over the rows.
Written WriteText(const ExportContext& ctx, const QString& fileName, int16_t scope, bool utf8) {
    CTextRowWriter::Format format;
    format.utf8 = utf8;
    format.delimiter = Delimiter(ctx, &format.noDelimiter);
    CMarkedRows rows(ctx, scope);
    DatabasePtr db = ctx.project->OpenProject(false);
    if (!db) app::RaiseError(91);
    RecordsetPtr rs = db->OpenRecordset(rows.Sql(), dao::RecordsetType::ForwardOnly);

    CSafeFile file(fileName.toStdString(), WriteCheck(ctx.project.get(), kMarkedTitle));
    std::string head;
    if (utf8) head += "\xEF\xBB\xBF";

    const int count = rs->Fields().Count();
    std::vector<std::string> names;
    for (int i = 1; i < count; ++i) {
        names.push_back(rs->Fields(i).Name());
        if (format.keyColumn < 0 && dao::CompareText(names.back(), rows.KeyName()) == 0) format.keyColumn = i - 1;
    }
    if (!AppendText(head, com::ToU16(CMarkedRows::PredictionName(names)), utf8)) return Written::NeedsUtf8;
    for (const std::string& name : names) {
        if (!format.noDelimiter) head += format.delimiter;
        if (!AppendText(head, com::ToU16(name), utf8)) return Written::NeedsUtf8;
    }
    head += "\r\n";

    // Rows come a block at a time, straight from the cursor into one array;
    // the writer turns one block into text while the next is read.
    format.width = names.size() + 1;
    {
        CTextRowWriter writer(file, rows, format, std::move(head));
        for (;;) {
            com::Variant block = rs->GetRows(kBlockRows);
            if (!(block.vt & VT_ARRAY) || !block.parray) break;
            if (!writer.Add(std::move(block))) break;
        }
        if (!writer.Finish()) return Written::NeedsUtf8;
    }
    rs->Close();
    return file.Commit() ? Written::Done : Written::Refused;
}

}  // namespace

bool IsProjectData(CProject& project, const std::string& path) {
    const std::string projectFile = project.FileName();
    if (projectFile.empty()) return false;
    if (MFileUtils::IsFileOrSideFile(path, projectFile)) return true;
    DatabasePtr db = project.OpenProject(false);
    if (!db) throw app::RuntimeError(3024, "The project cannot be opened");
    dao::TableDefs& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const dao::TableDef def = defs[i];
        if (dao::CompareText(def.Name(), "LinkDataSource") == 0)
            return MFileUtils::IsFileOrSideFile(path, def.LinkedFile());
    }
    return false;  // no data source linked yet
}

bool MayWrite(CProject* project, const std::string& path, const QString& title) {
    if (!project) return true;
    QString text = kProtectedText;
    bool refused = true;
    try {
        refused = IsProjectData(*project, path);
    } catch (...) {
        // Not knowing is no licence to write.
        text = QStringLiteral("Cannot check whether ") + QString::fromStdString(path) +
               QStringLiteral(" is the project's data (") + QString::fromStdString(app::CurrentError().description) +
               QStringLiteral("), so it is not written.");
    }
    if (refused) ui::MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation, title);
    return !refused;
}

std::function<bool(const std::string&)> WriteCheck(CProject* project, const QString& title) {
    return [project, title](const std::string& path) { return MayWrite(project, path, title); };
}

bool AppendText(std::string& out, std::u16string_view text, bool utf8) {
    if (!utf8) {
        const size_t start = out.size();
        out.resize(start + text.size());
        char* p = out.data() + start;
        for (char16_t c : text) {
            const int b = c < 0x80 ? int(c) : MUtilities::Cp1252FromUnicode(c);
            if (b < 0) {
                out.resize(start);
                return false;
            }
            *p++ = char(b);
        }
        return true;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return true;
}

bool ExportMarkedRS(const ExportContext& ctx, const QString& fileName, int16_t scope) {
    return base::ShowErrors("MTessary::ExportMarkedRS", [&] {
        // Windows-1252 unless a value holds a character it cannot carry: then the
        // whole file again as UTF-8, rather than losing the character.
        Written written = WriteText(ctx, fileName, scope, false);
        if (written == Written::NeedsUtf8) written = WriteText(ctx, fileName, scope, true);
        if (written == Written::NeedsUtf8) app::RaiseError(5);
        return written == Written::Done;
    });
}

void Export(const ExportContext& ctx, int16_t scope) {
    base::ShowErrors("MTessary::Export", [&] {
        for (;;) {
            if (scope == -1 && !HasRows(ctx)) {
                app::StatusText(QStringLiteral("No records to export."));
                return;
            }
            base::CCommonDialog dialog;
            dialog.Filter = QStringLiteral("Text (*.txt)|*.txt|MS Access (*.mdb)|*.mdb");
            dialog.DefaultExt = QStringLiteral("*.txt");
            dialog.InitDir = ctx.StartFolder();
            dialog.DialogTitle = QStringLiteral("Export Marked Rows");
            dialog.flags = dialog.flags + kHideReadOnly;
            dialog.FileName = QString::fromStdString(MFileUtils::GetFileBase(ctx.project->FileName())) +
                              QStringLiteral(".txt");
            dialog.hWnd = ctx.owner;
            dialog.ShowSave();
            if (dialog.UserCancel()) return;
            QCoreApplication::processEvents();

            const QString path = dialog.FileName;
            const std::string file = path.toStdString();
            if (!MayWrite(ctx.project.get(), file, kMarkedTitle)) continue;
            file::RefuseNotAFile(file);  // before any question about it
            // The file type chosen decides, whatever the name: a database chosen
            // as one gets its table, and is never replaced by text.
            if (dialog.FilterIndex == kDatabaseType) {
                MDBExportMarked(ctx, path, scope);
                return;
            }
            if (MFileUtils::FileExists(file)) {
                const ui::Answer answer = ui::MsgBox(
                    QString::fromStdString(MFileUtils::GetFileName(file)) + QStringLiteral(" exists.  Overwrite?"),
                    ui::Buttons::YesNo, ui::Icon::Exclamation, QStringLiteral(" Warning"));
                if (answer != ui::Answer::Yes) continue;
            }
            ExportMarkedRS(ctx, path, scope);
            return;
        }
    });
}

void Export2CSV(const ExportContext& ctx) {
    base::ShowErrors("MTessary::Export2CSV", [&] {
        base::CCommonDialog dialog;
        dialog.InitDir = ctx.StartFolder();
        dialog.Filter = QStringLiteral("Visio Text (*.csv)|*.csv");
        dialog.DialogTitle = QStringLiteral("Export To Visio");
        dialog.DefaultExt = QStringLiteral("*.csv");
        dialog.flags = dialog.flags + kHideReadOnly;
        dialog.FileName = QStringLiteral("*.csv");
        dialog.hWnd = ctx.owner;
        dialog.ShowSave();
        if (dialog.UserCancel()) return;

        const QString path = dialog.FileName;
        const QString title = QStringLiteral("Export To Visio");
        if (!MayWrite(ctx.project.get(), path.toStdString(), title)) return;
        file::RefuseNotAFile(path.toStdString());
        if (MFileUtils::FileExists(path.toStdString()) &&
            ui::MsgBox(path + QStringLiteral(" exists.  Overwrite?"), ui::Buttons::YesNo, ui::Icon::Exclamation) !=
                ui::Answer::Yes)
            return;
        // The old file stays until the new one is complete: the writer replaces it whole,
        // after the same check again.
        if (!ctx.trx) app::RaiseError(91);
        std::shared_ptr<CTRX>& trx = *ctx.trx;
        if (!trx) {
            trx = std::make_shared<CTRX>();
            trx->Initialize(ctx.dataDef, ctx.project.get());
            app::StatusText(QStringLiteral("Loading the current tree..."));
            trx->LoadTree(ctx.project.get());
        }
        if (!trx->HasTree()) {
            app::StatusText(QStringLiteral("No current tree to export."));
            return;
        }
        app::StatusText(QStringLiteral("Exporting the current tree..."));
        // A failed write has shown its own box; it is not reported as complete.
        const bool written = trx->Export2CSV(path.toStdString(), WriteCheck(ctx.project.get(), title));
        app::StatusText(written ? QStringLiteral("Export Complete.") : QString());
    });
}

}  // namespace MExport
