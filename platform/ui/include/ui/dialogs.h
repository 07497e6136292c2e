// The one way to ask the user something. Every message box and every file,
// colour, font and print dialog goes through the installed handler, so tests
// answer and record them without a window. With no handler installed the real
// Qt dialogs are shown.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QDialog;
class QPrinter;

namespace ui {

// Values as the message-box constants of the forms runtime, so that code that
// stores or compares them reads the same.
enum class Buttons { OK = 0, OKCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5 };
enum class Icon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class Answer { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageRequest {
    QString text;
    Buttons buttons = Buttons::OK;
    Icon icon = Icon::None;
    QString title;
};

// Filter in the "Text (*.txt)|*.txt|All (*.*)|*.*" form the callers write.
struct FileRequest {
    QString title;
    QString filter;
    QString directory;    // starting folder, "" for the current one
    QString defaultName;  // proposed file name or pattern ("*.csv")
    int filterIndex = 1;  // 1-based, as the common dialog counts
    QString defaultSuffix;        // added to a chosen name that has no extension ("txp")
    bool confirmOverwrite = true;  // save dialog: ask before replacing a file
    bool fileMustExist = true;     // open dialog: only an existing file can be chosen
    // Called when the user picks another file type (1-based, as filterIndex);
    // true closes the dialog as cancelled.
    std::function<bool(int filterIndex)> onFilterChange;
    // When set, receives the file type chosen when a file is (1-based, as filterIndex).
    int* chosenFilterIndex = nullptr;
};

// A choice of one entry of a list (the data-source prompt).
struct ItemRequest {
    QString title;
    QString label;
    QStringList items;
};

struct ColorRequest {
    QString title;
    QColor initial;
};

struct FontRequest {
    QString title;
    QFont initial;
};

// What a dialog answers. Implementations must not throw.
class IDialogHandler {
public:
    virtual ~IDialogHandler() = default;
    virtual Answer Message(const MessageRequest& request) = 0;
    // std::nullopt when the user cancels.
    virtual std::optional<QString> OpenFile(const FileRequest& request) = 0;
    virtual std::optional<QString> SaveFile(const FileRequest& request) = 0;
    virtual std::optional<QColor> ChooseColor(const ColorRequest& request) = 0;
    virtual std::optional<QFont> ChooseFont(const FontRequest& request) = 0;
    // Lets the user set up the printer; false when cancelled.
    virtual bool PrintSetup(QPrinter& printer, const QString& title) = 0;
    // The chosen entry; std::nullopt when the user cancels.
    virtual std::optional<QString> ChooseItem(const ItemRequest& request) = 0;
    // Runs a modal dialog of the program or the graph control and returns its
    // result (QDialog::Accepted or Rejected).
    virtual int RunDialog(QDialog& dialog);
};

// The real dialogs.
class QtDialogHandler : public IDialogHandler {
public:
    Answer Message(const MessageRequest& request) override;
    std::optional<QString> OpenFile(const FileRequest& request) override;
    std::optional<QString> SaveFile(const FileRequest& request) override;
    std::optional<QColor> ChooseColor(const ColorRequest& request) override;
    std::optional<QFont> ChooseFont(const FontRequest& request) override;
    bool PrintSetup(QPrinter& printer, const QString& title) override;
    std::optional<QString> ChooseItem(const ItemRequest& request) override;
};

// Installs a handler (not owned; nullptr restores the real dialogs) and returns
// the one it replaces.
IDialogHandler* SetHandler(IDialogHandler* handler);
IDialogHandler& Handler();

// Installs a handler for the life of the object.
class ScopedHandler {
public:
    explicit ScopedHandler(IDialogHandler* handler) : mPrevious(SetHandler(handler)) {}
    ~ScopedHandler() { SetHandler(mPrevious); }
    ScopedHandler(const ScopedHandler&) = delete;
    ScopedHandler& operator=(const ScopedHandler&) = delete;

private:
    IDialogHandler* mPrevious;
};

Answer MsgBox(const QString& text, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
              const QString& title = QString());

// The standard error box: critical icon, title the location ("Module::Procedure"),
// text "Error: " & number & ". " & line break & description.
void ShowError(const QString& location, long number, const QString& description);
QString ErrorText(long number, const QString& description);

std::optional<QString> GetOpenFileName(const FileRequest& request);
std::optional<QString> GetSaveFileName(const FileRequest& request);
std::optional<QColor> ChooseColor(const ColorRequest& request);
std::optional<QFont> ChooseFont(const FontRequest& request);
bool PrintSetup(QPrinter& printer, const QString& title = QString());
std::optional<QString> ChooseItem(const ItemRequest& request);
int RunDialog(QDialog& dialog);

// "Text (*.txt)|*.txt|All|*.*" to Qt's "Text (*.txt);;All (*.*)"; a pattern part
// with several patterns separated by ';' keeps them all.
QString QtFilter(const QString& filter);

}  // namespace ui
