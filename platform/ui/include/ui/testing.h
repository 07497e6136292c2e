// A dialog handler for tests: records every request and answers from queues
// that the test fills beforehand. With an empty queue a message box answers
// its first button (OK, Abort, Yes or Retry) and every other dialog cancels.
// A file dialog first takes the next entry of filterChoices, when there is
// one, as the user picking that file type (1-based); when the request's
// callback closes the dialog on it, the dialog answers as cancelled. A chosen
// file comes with the file type it was chosen under: that entry, or else the
// one the request asked for.
#pragma once

#include "ui/dialogs.h"

#include <deque>
#include <functional>
#include <vector>

namespace ui {

class RecordingHandler : public IDialogHandler {
public:
    enum class Kind { Message, OpenFile, SaveFile, Color, Font, PrintSetup, Item, Dialog };
    struct Call {
        Kind kind;
        QString title;
        QString text;  // message text, or the file filter
        Icon icon = Icon::None;
        Buttons buttons = Buttons::OK;
        QString defaultName;
    };

    std::vector<Call> calls;
    std::vector<FileRequest> fileRequests;  // every Open and Save request in full
    std::deque<Answer> answers;
    std::deque<std::optional<QString>> files;
    std::deque<std::optional<QColor>> colors;
    std::deque<std::optional<QFont>> fonts;
    std::deque<bool> printSetups;
    std::deque<int> filterChoices;
    std::deque<std::optional<QString>> items;
    std::vector<ItemRequest> itemRequests;
    // Scripts for modal dialogs, in order: each works the dialog's widgets and
    // returns its result. With none left a dialog is cancelled.
    std::deque<std::function<int(QDialog&)>> dialogs;

    Answer Message(const MessageRequest& r) override;
    std::optional<QString> OpenFile(const FileRequest& r) override;
    std::optional<QString> SaveFile(const FileRequest& r) override;
    std::optional<QColor> ChooseColor(const ColorRequest& r) override;
    std::optional<QFont> ChooseFont(const FontRequest& r) override;
    bool PrintSetup(QPrinter& printer, const QString& title) override;
    std::optional<QString> ChooseItem(const ItemRequest& r) override;
    int RunDialog(QDialog& dialog) override;

    // Message calls only.
    std::vector<Call> Messages() const;
    void Clear() { calls.clear(); }

private:
    // Takes the scripted file type, then the next file; reports the type with the file.
    std::optional<QString> ChosenFile(const FileRequest& r);
};

// Installs a RecordingHandler for the life of the object.
class ScopedRecorder : public RecordingHandler {
public:
    ScopedRecorder() : mScope(this) {}

private:
    ScopedHandler mScope;
};

}  // namespace ui
