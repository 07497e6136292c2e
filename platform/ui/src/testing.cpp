#include "ui/testing.h"

#include <QDialog>

namespace ui {

namespace {

Answer FirstButton(Buttons buttons) {
    switch (buttons) {
        case Buttons::AbortRetryIgnore: return Answer::Abort;
        case Buttons::YesNoCancel:
        case Buttons::YesNo: return Answer::Yes;
        case Buttons::RetryCancel: return Answer::Retry;
        case Buttons::OK:
        case Buttons::OKCancel: break;
    }
    return Answer::OK;
}

template <typename T>
T Next(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T value = queue.front();
    queue.pop_front();
    return value;
}

template <typename T>
std::optional<T> NextOrCancel(std::deque<std::optional<T>>& queue) {
    std::optional<T> value;
    if (!queue.empty()) {
        value.swap(queue.front());
        queue.pop_front();
    }
    return value;
}

}  // namespace

Answer RecordingHandler::Message(const MessageRequest& r) {
    calls.push_back({Kind::Message, r.title, r.text, r.icon, r.buttons, QString()});
    return Next(answers, FirstButton(r.buttons));
}

std::optional<QString> RecordingHandler::OpenFile(const FileRequest& r) {
    calls.push_back({Kind::OpenFile, r.title, r.filter, Icon::None, Buttons::OK, r.defaultName});
    fileRequests.push_back(r);
    return ChosenFile(r);
}

std::optional<QString> RecordingHandler::SaveFile(const FileRequest& r) {
    calls.push_back({Kind::SaveFile, r.title, r.filter, Icon::None, Buttons::OK, r.defaultName});
    fileRequests.push_back(r);
    return ChosenFile(r);
}

std::optional<QString> RecordingHandler::ChosenFile(const FileRequest& r) {
    // The file type stays the one asked for unless the script picks another.
    int type = r.filterIndex;
    if (!filterChoices.empty()) {
        type = filterChoices.front();
        filterChoices.pop_front();
        if (r.onFilterChange && r.onFilterChange(type)) return std::nullopt;
    }
    std::optional<QString> file = NextOrCancel(files);
    if (file && r.chosenFilterIndex) *r.chosenFilterIndex = type;
    return file;
}

std::optional<QString> RecordingHandler::ChooseItem(const ItemRequest& r) {
    calls.push_back({Kind::Item, r.title, r.label, Icon::None, Buttons::OK, QString()});
    itemRequests.push_back(r);
    return NextOrCancel(items);
}

std::optional<QColor> RecordingHandler::ChooseColor(const ColorRequest& r) {
    calls.push_back({Kind::Color, r.title, QString(), Icon::None, Buttons::OK, QString()});
    return NextOrCancel(colors);
}

std::optional<QFont> RecordingHandler::ChooseFont(const FontRequest& r) {
    calls.push_back({Kind::Font, r.title, QString(), Icon::None, Buttons::OK, QString()});
    return NextOrCancel(fonts);
}

bool RecordingHandler::PrintSetup(QPrinter&, const QString& title) {
    calls.push_back({Kind::PrintSetup, title, QString(), Icon::None, Buttons::OK, QString()});
    return Next(printSetups, false);
}

std::vector<RecordingHandler::Call> RecordingHandler::Messages() const {
    std::vector<Call> out;
    for (const auto& c : calls)
        if (c.kind == Kind::Message) out.push_back(c);
    return out;
}

int RecordingHandler::RunDialog(QDialog& dialog) {
    calls.push_back({Kind::Dialog, dialog.windowTitle(), QString(), Icon::None, Buttons::OK, QString()});
    if (dialogs.empty()) return QDialog::Rejected;
    auto script = std::move(dialogs.front());
    dialogs.pop_front();
    const int result = script(dialog);
    dialog.setResult(result);
    return result;
}

}  // namespace ui
