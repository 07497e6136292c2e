#include "ui/dialogs.h"
#include "ui/testing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

QApplication& App() {
    static QApplication app(argc, argv);
    return app;
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

}  // namespace
