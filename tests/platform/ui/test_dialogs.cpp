#include "ui/dialogs.h"
#include "ui/testing.h"

#include "../../support/FileDialogDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

// Never destroyed: the input devices the key-event tests make outlive it.
QApplication& App() {
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

TEST(StandardErrorBox, HasCriticalIconLocationTitleAndNumberedText) {
    ui::ScopedRecorder rec;
    ui::ShowError("CDataDef::Load", 3021, "No current record.");
    ASSERT_EQ(rec.calls.size(), 1u);
    const auto& c = rec.calls[0];
    EXPECT_EQ(c.kind, ui::RecordingHandler::Kind::Message);
    EXPECT_EQ(c.icon, ui::Icon::Critical);
    EXPECT_EQ(c.buttons, ui::Buttons::OK);
    EXPECT_EQ(c.title, "CDataDef::Load");
    EXPECT_EQ(c.text, "Error: 3021. \nNo current record.");
}

TEST(MessageBoxSeam, AnswersFromQueueThenFirstButton) {
    ui::ScopedRecorder rec;
    rec.answers = {ui::Answer::No, ui::Answer::Cancel};
    EXPECT_EQ(ui::MsgBox("Overwrite?", ui::Buttons::YesNo, ui::Icon::Exclamation, "T"), ui::Answer::No);
    EXPECT_EQ(ui::MsgBox("Go on?", ui::Buttons::OKCancel), ui::Answer::Cancel);
    // Queue used up: a box answers its first button.
    EXPECT_EQ(ui::MsgBox("a", ui::Buttons::YesNoCancel), ui::Answer::Yes);
    EXPECT_EQ(ui::MsgBox("b", ui::Buttons::RetryCancel), ui::Answer::Retry);
    EXPECT_EQ(ui::MsgBox("c", ui::Buttons::AbortRetryIgnore), ui::Answer::Abort);
    ASSERT_EQ(rec.Messages().size(), 5u);
    EXPECT_EQ(rec.calls[0].icon, ui::Icon::Exclamation);
    EXPECT_EQ(rec.calls[0].buttons, ui::Buttons::YesNo);
}

TEST(MessageBoxSeam, ScopedHandlersNestAndRestore) {
    ui::RecordingHandler outer;
    ui::RecordingHandler inner;
    {
        ui::ScopedHandler a(&outer);
        {
            ui::ScopedHandler b(&inner);
            ui::MsgBox("inner");
        }
        ui::MsgBox("outer");
    }
    ASSERT_EQ(inner.calls.size(), 1u);
    ASSERT_EQ(outer.calls.size(), 1u);
    EXPECT_EQ(inner.calls[0].text, "inner");
    EXPECT_EQ(outer.calls[0].text, "outer");
    EXPECT_EQ(ui::SetHandler(nullptr), nullptr);
}

TEST(FileDialogSeam, CancelsByDefaultAndRecordsRequest) {
    ui::ScopedRecorder rec;
    ui::FileRequest r;
    r.title = "Import";
    r.filter = "Text (*.txt)|*.txt";
    EXPECT_FALSE(ui::GetOpenFileName(r).has_value());
    rec.files.push_back(QString("/tmp/a.csv"));
    r.title = "Export To Visio";
    r.defaultName = "*.csv";
    auto path = ui::GetSaveFileName(r);
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, "/tmp/a.csv");
    ASSERT_EQ(rec.calls.size(), 2u);
    EXPECT_EQ(rec.calls[0].kind, ui::RecordingHandler::Kind::OpenFile);
    EXPECT_EQ(rec.calls[0].title, "Import");
    EXPECT_EQ(rec.calls[1].kind, ui::RecordingHandler::Kind::SaveFile);
    EXPECT_EQ(rec.calls[1].defaultName, "*.csv");
    EXPECT_FALSE(ui::ChooseColor({}).has_value());
    rec.colors.push_back(QColor(Qt::red));
    EXPECT_EQ(ui::ChooseColor({}).value(), QColor(Qt::red));
    EXPECT_FALSE(ui::ChooseFont({}).has_value());
}

TEST(FileDialogSeam, FilterTranslation) {
    EXPECT_EQ(ui::QtFilter("Text (*.txt)|*.txt"), "Text (*.txt)");
    EXPECT_EQ(ui::QtFilter("Visio Text (*.csv)|(*.csv)"), "Visio Text (*.csv)");
    EXPECT_EQ(ui::QtFilter("Access|*.mdb;*.cxs|All Files (*.*)|*.*"), "Access (*.mdb *.cxs);;All Files (*.*)");
    EXPECT_EQ(ui::QtFilter(""), "");
}

// The real box: an offscreen QMessageBox answered by clicking its button.
TEST(QtHandler, RealMessageBoxReportsClickedButton) {
    App();
    ui::SetHandler(nullptr);
    ui::Icon seenIcon = ui::Icon::None;
    QString seenTitle, seenText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seenTitle = box->windowTitle();
        seenText = box->text();
        if (box->icon() == QMessageBox::Warning) seenIcon = ui::Icon::Exclamation;
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(ui::MsgBox("x exists.  Overwrite?", ui::Buttons::YesNo, ui::Icon::Exclamation, "Export"),
              ui::Answer::No);
    EXPECT_EQ(seenTitle, "Export");
    EXPECT_EQ(seenText, "x exists.  Overwrite?");
    EXPECT_EQ(seenIcon, ui::Icon::Exclamation);
}

TEST(FileDialogSeam, AFileTypeChoiceReachesTheHookWhichMayCloseTheDialog) {
    ui::ScopedRecorder rec;
    std::vector<int> seen;
    ui::FileRequest r;
    r.filter = "A|*.a|B|*.b|C|*.c|D () |";
    r.onFilterChange = [&](int index) {
        seen.push_back(index);
        return index == 4;
    };
    // Type 2 leaves the dialog open: the chosen file comes back.
    rec.filterChoices = {2};
    rec.files.push_back(QString("/tmp/x.b"));
    EXPECT_EQ(ui::GetOpenFileName(r).value_or(""), "/tmp/x.b");
    // Type 4 closes it as cancelled and leaves the queued file for the next dialog.
    rec.filterChoices = {4};
    rec.files.push_back(QString("/tmp/y.a"));
    EXPECT_FALSE(ui::GetOpenFileName(r).has_value());
    EXPECT_EQ(seen, (std::vector<int>{2, 4}));
    EXPECT_EQ(rec.files.size(), 1u);
    // No hook: a choice changes nothing but the type reported with the file.
    r.onFilterChange = nullptr;
    int chosen = 0;
    r.chosenFilterIndex = &chosen;
    rec.filterChoices = {4};
    EXPECT_EQ(ui::GetOpenFileName(r).value_or(""), "/tmp/y.a");
    EXPECT_EQ(chosen, 4);
    // Untouched, the type is the one asked for; a cancel reports none.
    r.filterIndex = 3;
    rec.files = {QString("/tmp/z.c"), std::nullopt};
    EXPECT_EQ(ui::GetSaveFileName(r).value_or(""), "/tmp/z.c");
    EXPECT_EQ(chosen, 3);
    chosen = 0;
    EXPECT_FALSE(ui::GetSaveFileName(r).has_value());
    EXPECT_EQ(chosen, 0);
}

TEST(ItemSeam, RecordsTheListAndAnswersFromTheQueue) {
    ui::ScopedRecorder rec;
    ui::ItemRequest r{"Select Data Source", "Machine Data Source:", {"one", "two"}};
    EXPECT_FALSE(ui::ChooseItem(r).has_value());
    rec.items.push_back(QString("two"));
    EXPECT_EQ(ui::ChooseItem(r).value_or(""), "two");
    ASSERT_EQ(rec.itemRequests.size(), 2u);
    EXPECT_EQ(rec.itemRequests[0].items, (QStringList{"one", "two"}));
    EXPECT_EQ(rec.calls[0].kind, ui::RecordingHandler::Kind::Item);
    EXPECT_EQ(rec.calls[0].title, "Select Data Source");
}

// The real file dialog: picking the fourth file type in its list closes it through the hook.
TEST(QtHandler, RealFileDialogTellsTheHookOfTheFileTypePicked) {
    App();
    ui::SetHandler(nullptr);
    ui::FileRequest r;
    r.title = "Select Data Source";
    r.filter = "MS Access Database (*.mdb)|*.mdb|Cortexa Pro Sample (*.cxs)|*.cxs|Any (*.*)|*.*|ODBC () |";
    r.defaultName = "*.mdb;*.cxs";
    std::vector<int> seen;
    r.onFilterChange = [&](int index) {
        seen.push_back(index);
        return index == 4;
    };
    QStringList shown;
    bool closedByHook = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shown = dialog->nameFilters();
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        for (int i : {2, 4}) {
            // What a person's pick in the list sends.
            types->setCurrentIndex(i);
            emit types->activated(i);
            emit types->textActivated(types->itemText(i));
        }
        closedByHook = !dialog->isVisible();
        // Still open: close it here so the test cannot hang.
        if (dialog->isVisible()) dialog->reject();
    });
    EXPECT_FALSE(ui::GetOpenFileName(r).has_value());
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown[0], "*.mdb *.cxs (*.mdb *.cxs)") << "both kinds of data file listed first";
    EXPECT_EQ(seen, (std::vector<int>{2, 4}));
    EXPECT_TRUE(closedByHook);
}

// The real file dialog, typed into: Open takes a new name unless the caller
// asks for an existing file, the default suffix is added before the dialog
// looks for the file, and Save replaces a file without asking unless told to.
TEST(QtHandler, RealFileDialogTakesATypedNameAsTheCallerAsks) {
    App();
    ui::SetHandler(nullptr);
    QTemporaryDir dir;
    QFile old(dir.filePath("old.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    struct Case {
        bool save, mustExist, confirm;
        QString typed, suffix;
        QString expected;  // "" when nothing is chosen
        int refusals;
    };
    const Case cases[] = {
        {false, false, true, "fresh", "txp", dir.filePath("fresh.txp"), 0},
        {false, true, true, "fresh", "txp", "", 1},
        {false, true, true, "old", "txt", dir.filePath("old.txt"), 0},
        {true, false, false, "old", "txt", dir.filePath("old.txt"), 0},
        {true, false, true, "old", "txt", "", 1},
    };
    for (const Case& c : cases) {
        ui::FileRequest r;
        r.title = c.save ? "Export Marked Rows" : "Create New Project";
        r.directory = dir.path();
        r.filter = "Any (*.*)|*.*";
        r.defaultSuffix = c.suffix;
        r.fileMustExist = c.mustExist;
        r.confirmOverwrite = c.confirm;
        testsupport::FileDialogSeen seen;
        testsupport::TypeIntoNextFileDialog(c.typed, &seen);
        const auto chosen = c.save ? ui::GetSaveFileName(r) : ui::GetOpenFileName(r);
        const QString what = (c.save ? "save " : "open ") + c.typed;
        EXPECT_EQ(chosen.value_or(""), c.expected) << what.toStdString();
        EXPECT_TRUE(seen.shown);
        EXPECT_EQ(seen.title, r.title);
        EXPECT_EQ(seen.refusals.size(), c.refusals) << what.toStdString();
    }
}

TEST(QtHandler, RealItemChooserAnswersTheChosenEntry) {
    App();
    ui::SetHandler(nullptr);
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->setTextValue("second");
        dialog->accept();
    });
    EXPECT_EQ(ui::ChooseItem({"Select Data Source", "Machine Data Source:", {"first", "second"}}).value_or(""),
              "second");
}

}  // namespace
