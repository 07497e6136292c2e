#include "ui/dialogs.h"

#include <QDialog>

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QStringList>

#include <algorithm>

namespace ui {

namespace {

QtDialogHandler gQtHandler;
IDialogHandler* gHandler = nullptr;

QWidget* DialogParent() { return QApplication::activeWindow(); }

QMessageBox::Icon QtIcon(Icon icon) {
    switch (icon) {
        case Icon::Critical: return QMessageBox::Critical;
        case Icon::Question: return QMessageBox::Question;
        case Icon::Exclamation: return QMessageBox::Warning;
        case Icon::Information: return QMessageBox::Information;
        case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonMap {
    QMessageBox::StandardButton qt;
    Answer answer;
};

std::vector<ButtonMap> ButtonsOf(Buttons buttons) {
    switch (buttons) {
        case Buttons::OK: return {{QMessageBox::Ok, Answer::OK}};
        case Buttons::OKCancel: return {{QMessageBox::Ok, Answer::OK}, {QMessageBox::Cancel, Answer::Cancel}};
        case Buttons::AbortRetryIgnore:
            return {{QMessageBox::Abort, Answer::Abort},
                    {QMessageBox::Retry, Answer::Retry},
                    {QMessageBox::Ignore, Answer::Ignore}};
        case Buttons::YesNoCancel:
            return {{QMessageBox::Yes, Answer::Yes},
                    {QMessageBox::No, Answer::No},
                    {QMessageBox::Cancel, Answer::Cancel}};
        case Buttons::YesNo: return {{QMessageBox::Yes, Answer::Yes}, {QMessageBox::No, Answer::No}};
        case Buttons::RetryCancel: return {{QMessageBox::Retry, Answer::Retry}, {QMessageBox::Cancel, Answer::Cancel}};
    }
    return {{QMessageBox::Ok, Answer::OK}};
}

}  // namespace

QString QtFilter(const QString& filter) {
    if (filter.isEmpty()) return QString();
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString name = parts[i].trimmed();
        QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        // "(*.csv)" appears as a pattern in some callers: take what is inside.
        patterns.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns.isEmpty()) patterns = QStringLiteral("*");
        QString entry = name;
        if (!name.contains(QLatin1Char('('))) entry += QStringLiteral(" (") + patterns + QLatin1Char(')');
        else {
            // Qt reads the patterns from the parentheses of the name; make them the real ones.
            entry = name.left(name.indexOf(QLatin1Char('('))).trimmed() + QStringLiteral(" (") + patterns +
                    QLatin1Char(')');
        }
        out << entry;
    }
    return out.join(QStringLiteral(";;"));
}

Answer QtDialogHandler::Message(const MessageRequest& request) {
    QMessageBox box(QtIcon(request.icon), request.title, request.text, QMessageBox::NoButton, DialogParent());
    const auto buttons = ButtonsOf(request.buttons);
    for (const auto& b : buttons) box.addButton(b.qt);
    box.setDefaultButton(buttons.front().qt);
    const int result = box.exec();
    for (const auto& b : buttons)
        if (result == b.qt) return b.answer;
    // Closed by the window frame or Escape: as the last button, or OK for a lone OK.
    return buttons.back().answer;
}

static QString SelectedFilter(const FileRequest& request) {
    const QStringList filters = QtFilter(request.filter).split(QStringLiteral(";;"));
    const int index = request.filterIndex - 1;
    return index >= 0 && index < filters.size() ? filters[index] : QString();
}

static QString StartPath(const FileRequest& request) {
    QString start = request.directory;
    if (!request.defaultName.isEmpty() && !request.defaultName.contains(QLatin1Char('*'))) {
        if (!start.isEmpty() && !start.endsWith(QLatin1Char('/'))) start += QLatin1Char('/');
        start += request.defaultName;
    }
    return start;
}

namespace {

// The extension of a file type of one pattern ("Text (*.txt)" gives "txt");
// empty for a type of several patterns or of any name.
QString SuffixOfType(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    if (open < 0 || !filter.endsWith(QLatin1Char(')'))) return QString();
    const QString pattern = filter.mid(open + 1, filter.size() - open - 2).trimmed();
    if (!pattern.startsWith(QLatin1String("*.")) || pattern.contains(QLatin1Char(' '))) return QString();
    const QString suffix = pattern.mid(2);
    return suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?')) ? QString() : suffix;
}

// Qt's own dialog rather than the desktop's: the same on every desktop, and
// one that a test or a script can reach and fill in.
std::optional<QString> RunFileDialog(const FileRequest& request, bool save) {
    QFileDialog dialog(DialogParent(), request.title, StartPath(request));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Open takes a new name too (a new project is named through it) unless the
    // caller asks for an existing file.
    dialog.setFileMode(!save && request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (save && !request.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // Added before the dialog checks for an existing file, so it asks about the real name.
    dialog.setDefaultSuffix(request.defaultSuffix);

    const QStringList filters = QtFilter(request.filter).split(QStringLiteral(";;"), Qt::SkipEmptyParts);
    QStringList shown = filters;
    QString selected = SelectedFilter(request);
    // A pattern as the proposed name lists its files first, as its own entry
    // unless a file type lists exactly those.
    if (request.defaultName.contains(QLatin1Char('*'))) {
        const QString pattern = QString(request.defaultName).replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString inParens = QLatin1Char('(') + pattern + QLatin1Char(')');
        const auto same = std::find_if(filters.begin(), filters.end(),
                                       [&](const QString& f) { return f.endsWith(inParens); });
        if (same != filters.end()) {
            selected = *same;
        } else {
            shown.prepend(pattern + QLatin1Char(' ') + inParens);
            selected = shown.front();
        }
    }
    if (!shown.isEmpty()) dialog.setNameFilters(shown);
    if (!selected.isEmpty()) dialog.selectNameFilter(selected);
    // A name typed with no extension takes the type chosen last: "rows" under
    // "MS Access (*.mdb)" is rows.mdb, not rows.txt written as a database.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const QString suffix = SuffixOfType(filter);
        dialog.setDefaultSuffix(suffix.isEmpty() ? request.defaultSuffix : suffix);
    });
    if (request.onFilterChange) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
            const int index = int(filters.indexOf(filter)) + 1;
            if (index > 0 && request.onFilterChange(index)) dialog.reject();
        });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    // The proposed pattern's own entry is none of the caller's types: it keeps the one asked for.
    if (request.chosenFilterIndex) {
        const int chosen = int(filters.indexOf(dialog.selectedNameFilter())) + 1;
        *request.chosenFilterIndex = chosen > 0 ? chosen : request.filterIndex;
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

std::optional<QString> QtDialogHandler::OpenFile(const FileRequest& request) { return RunFileDialog(request, false); }

std::optional<QString> QtDialogHandler::SaveFile(const FileRequest& request) { return RunFileDialog(request, true); }

std::optional<QColor> QtDialogHandler::ChooseColor(const ColorRequest& request) {
    const QColor c = QColorDialog::getColor(request.initial, DialogParent(), request.title);
    if (!c.isValid()) return std::nullopt;
    return c;
}

std::optional<QFont> QtDialogHandler::ChooseFont(const FontRequest& request) {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, request.initial, DialogParent(), request.title);
    if (!ok) return std::nullopt;
    return f;
}

bool QtDialogHandler::PrintSetup(QPrinter& printer, const QString& title) {
    QPrintDialog dialog(&printer, DialogParent());
    if (!title.isEmpty()) dialog.setWindowTitle(title);
    return dialog.exec() == QDialog::Accepted;
}

std::optional<QString> QtDialogHandler::ChooseItem(const ItemRequest& request) {
    bool ok = false;
    const QString item =
        QInputDialog::getItem(DialogParent(), request.title, request.label, request.items, 0, false, &ok);
    if (!ok || item.isEmpty()) return std::nullopt;
    return item;
}

IDialogHandler* SetHandler(IDialogHandler* handler) {
    IDialogHandler* previous = gHandler;
    gHandler = handler;
    return previous;
}

IDialogHandler& Handler() { return gHandler ? *gHandler : gQtHandler; }

Answer MsgBox(const QString& text, Buttons buttons, Icon icon, const QString& title) {
    MessageRequest r;
    r.text = text;
    r.buttons = buttons;
    r.icon = icon;
    r.title = title.isEmpty() ? QApplication::applicationName() : title;
    return Handler().Message(r);
}

QString ErrorText(long number, const QString& description) {
    return QStringLiteral("Error: ") + QString::number(number) + QStringLiteral(". ") + QLatin1Char('\n') +
           description;
}

void ShowError(const QString& location, long number, const QString& description) {
    MsgBox(ErrorText(number, description), Buttons::OK, Icon::Critical, location);
}

std::optional<QString> GetOpenFileName(const FileRequest& request) { return Handler().OpenFile(request); }
std::optional<QString> GetSaveFileName(const FileRequest& request) { return Handler().SaveFile(request); }
std::optional<QString> ChooseItem(const ItemRequest& request) { return Handler().ChooseItem(request); }
std::optional<QColor> ChooseColor(const ColorRequest& request) { return Handler().ChooseColor(request); }
std::optional<QFont> ChooseFont(const FontRequest& request) { return Handler().ChooseFont(request); }
bool PrintSetup(QPrinter& printer, const QString& title) { return Handler().PrintSetup(printer, title); }

int IDialogHandler::RunDialog(QDialog& dialog) { return dialog.exec(); }

int RunDialog(QDialog& dialog) { return Handler().RunDialog(dialog); }

}  // namespace ui
