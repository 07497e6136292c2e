// Works the program's real file dialog as a person does: once it is up, types
// a name into its file-name box and presses Enter. A box the dialog raises
// over itself (a refused name) is noted and closed, and a dialog still open
// after that is cancelled, so a refused name fails the test instead of hanging it.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "ui/testing.h"

#include <memory>

namespace testsupport {

struct FileDialogSeen {
    bool shown = false;
    QString title;
    QString folder;        // the folder the dialog opened in
    QStringList refusals;  // texts of the boxes the dialog raised
    bool leftOpen = false;  // the name was not taken; cancelled here
    QString fileType;       // the file type shown when the name was entered
};

// Answers the next file dialog with name (a name in the folder the dialog
// shows; a null QString takes the name the dialog offers), first picking file
// type fileType (1-based) from its list with the keys when one is given; what
// was seen lands in *seen, which must outlive the dialog.
inline void TypeIntoNextFileDialog(const QString& name, FileDialogSeen* seen, int fileType = 0) {
    auto* poll = new QTimer;
    auto waited = std::make_shared<int>(0);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, waited, name, seen, fileType] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            // Ten seconds without a dialog: give up; the caller's checks fail.
            if (++*waited > 1000) poll->deleteLater();
            return;
        }
        poll->stop();
        poll->deleteLater();
        seen->shown = true;
        seen->title = dialog->windowTitle();
        seen->folder = dialog->directory().absolutePath();
        QPointer<QFileDialog> guard(dialog);
        QTimer::singleShot(200, [guard, seen] {
            if (!guard || !guard->isVisible()) return;
            for (QMessageBox* box : guard->findChildren<QMessageBox*>()) {
                if (!box->isVisible()) continue;
                seen->refusals << box->text();
                box->done(QMessageBox::Ok);
            }
            seen->leftOpen = true;
            guard->reject();
        });
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")); types && fileType > 0) {
            types->setFocus();
            QTest::keyClick(types, Qt::Key_Home);
            for (int i = 1; i < fileType; ++i) QTest::keyClick(types, Qt::Key_Down);
        }
        seen->fileType = dialog->selectedNameFilter();
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return;
        if (!name.isNull()) {
            edit->clear();
            QTest::keyClicks(edit, name);
        }
        // A name typed may offer completions; it stands as typed.
        if (QCompleter* completer = edit->completer()) completer->popup()->hide();
        QTest::keyClick(edit, Qt::Key_Return);
    });
    poll->start();
}

// Message boxes recorded and answered as by ui::RecordingHandler; file dialogs
// the real ones, for as long as the object lives.
class RealFileDialogs : public ui::RecordingHandler {
public:
    RealFileDialogs() : mScope(this) {}
    std::optional<QString> OpenFile(const ui::FileRequest& r) override {
        fileRequests.push_back(r);
        return mReal.OpenFile(r);
    }
    std::optional<QString> SaveFile(const ui::FileRequest& r) override {
        fileRequests.push_back(r);
        return mReal.SaveFile(r);
    }

private:
    ui::QtDialogHandler mReal;
    ui::ScopedHandler mScope;
};

}  // namespace testsupport
