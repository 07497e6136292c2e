#include "CCommonDialog.h"

#include "AppErrors.h"

#include "ui/dialogs.h"

#include <QColor>
#include <QFileInfo>
#include <QFont>

namespace base {

namespace {

QColor FromRgb(int32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }
int32_t ToRgb(const QColor& c) { return int32_t(c.red()) | (int32_t(c.green()) << 8) | (int32_t(c.blue()) << 16); }

// "*.txp", ".txp" and "txp" all mean the suffix "txp".
QString SuffixOf(const QString& defaultExt) {
    QString s = defaultExt.trimmed();
    if (s.startsWith(QLatin1Char('*'))) s.remove(0, 1);
    if (s.startsWith(QLatin1Char('.'))) s.remove(0, 1);
    if (s.contains(QLatin1Char('*')) || s.contains(QLatin1Char('?'))) return QString();
    return s;
}

}  // namespace

void CCommonDialog::Begin() {
    mAPIReturn = 0;
}

void CCommonDialog::ShowFileDialog(int kind) {
    Begin();
    if (kind != 1 && kind != 2) return;
    // A buffer with no room for a name ends the operation before the dialog.
    if (MaxFileSize < 2) return;
    ui::FileRequest request;
    request.title = DialogTitle;
    request.filter = Filter;
    request.filterIndex = FilterIndex < 1 ? 1 : FilterIndex;
    request.directory = InitDir;
    request.defaultName = FileName.left(MaxFileSize - 1);
    request.defaultSuffix = SuffixOf(DefaultExt);
    request.confirmOverwrite = (flags & OverwritePrompt) != 0;
    request.fileMustExist = (flags & FileMustExist) != 0;
    if (mHook) request.onFilterChange = [hook = mHook](int index) { return hook(int16_t(index - 1)); };
    int chosenType = request.filterIndex;
    request.chosenFilterIndex = &chosenType;
    const auto chosen = kind == 1 ? ui::GetOpenFileName(request) : ui::GetSaveFileName(request);
    if (!chosen) {
        mAPIReturn = 0;
        mUserCancel = true;
        return;
    }
    mAPIReturn = 1;
    // The chosen path comes back whole, however long.
    FileName = *chosen;
    FileTitle = QFileInfo(*chosen).fileName();
    // The file type the name was chosen under.
    FilterIndex = int16_t(chosenType);
    mUserCancel = false;
}

void CCommonDialog::ShowColor() {
    Begin();
    mAction = 3;
    mUserCancel = false;
    ui::ColorRequest request;
    request.initial = FromRgb(Color);
    const auto chosen = ui::ChooseColor(request);
    if (!chosen) {
        mUserCancel = true;
        if (CancelError) throw app::RuntimeError(CancelErrorNumber, "Cancel Pressed");
        return;
    }
    mAPIReturn = 1;
    Color = ToRgb(*chosen);
}

void CCommonDialog::ShowFont() {
    Begin();
    mAction = 4;
    // The face-name field holds 32 characters: a longer name ends the operation.
    if (FontName.size() > 32) return;
    QFont font(FontName);
    font.setBold(FontBold);
    font.setItalic(FontItalic);
    font.setUnderline(FontUnderline);
    font.setStrikeOut(FontStrikethru);
    if (FontSize > 0) font.setPointSize(FontSize);
    ui::FontRequest request;
    request.initial = font;
    mUserCancel = false;
    const auto chosen = ui::ChooseFont(request);
    if (!chosen) {
        mUserCancel = true;
        return;
    }
    mAPIReturn = 1;
    FontBold = chosen->weight() >= QFont::Bold;
    // Any set style bit reads back as true.
    FontItalic = chosen->italic();
    FontUnderline = chosen->underline();
    FontStrikethru = chosen->strikeOut();
    FontName = chosen->family().left(32);
    FontSize = chosen->pointSize() > 0 ? chosen->pointSize() : int32_t(chosen->pointSizeF());
}

}  // namespace base
