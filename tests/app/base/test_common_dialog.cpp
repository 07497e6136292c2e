#include "CCommonDialog.h"

#include "AppErrors.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

#include "../../support/FileDialogDriver.h"

#include <QColor>
#include <QFont>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using base::CCommonDialog;

TEST(CommonDialog, FileDialogsPassTheirSettingsAndReadTheChoiceBack) {
    testsupport::App();
    ui::ScopedRecorder rec;
    CCommonDialog cd;
    cd.Filter = "Tessary Project (*.txp)|*.txp|All Files|*.*";
    cd.FilterIndex = 2;
    cd.DialogTitle = "Open Project";
    cd.InitDir = "/data";
    cd.DefaultExt = "*.txp";
    cd.FileName = "iris";
    const QString longPath = "/" + QString(300, QLatin1Char('a')) + "/b.txp";
    rec.files.push_back(longPath);
    cd.ShowOpen();
    ASSERT_EQ(rec.fileRequests.size(), 1u);
    const auto& r = rec.fileRequests[0];
    EXPECT_EQ(r.filter, cd.Filter);
    EXPECT_EQ(r.filterIndex, 2);
    EXPECT_EQ(r.title, "Open Project");
    EXPECT_EQ(r.directory, "/data");
    EXPECT_EQ(r.defaultName, "iris");
    EXPECT_EQ(r.defaultSuffix, "txp");
    EXPECT_FALSE(cd.UserCancel());
    EXPECT_EQ(cd.APIReturn(), 1);
    // The chosen path is never cut to the buffer size.
    EXPECT_EQ(cd.FileName, longPath);
    EXPECT_EQ(cd.FileTitle, "b.txp");
}

TEST(CommonDialog, CancelKeepsTheNameAndOnlyTheColourDialogRaises) {
    testsupport::App();
    ui::ScopedRecorder rec;
    CCommonDialog cd;
    cd.CancelError = true;
    cd.FileName = QString(400, QLatin1Char('x'));
    cd.ShowSave();  // the empty queue cancels
    EXPECT_TRUE(cd.UserCancel());
    EXPECT_EQ(cd.FileName.size(), 400);
    // The name proposed is cut to MaxFileSize - 1 characters.
    EXPECT_EQ(rec.fileRequests.back().defaultName.size(), 259);
    // Save asks before overwriting only with the overwrite-prompt flag.
    EXPECT_FALSE(rec.fileRequests.back().confirmOverwrite);
    cd.flags = CCommonDialog::OverwritePrompt;
    cd.ShowSave();
    EXPECT_TRUE(rec.fileRequests.back().confirmOverwrite);
    EXPECT_EQ(cd.flags, CCommonDialog::OverwritePrompt);

    try {
        cd.ShowColor();
        FAIL() << "no error raised";
    } catch (const app::RuntimeError& e) {
        EXPECT_EQ(e.Number(), CCommonDialog::CancelErrorNumber);
        EXPECT_STREQ(e.what(), "Cancel Pressed");
    }
    EXPECT_TRUE(cd.UserCancel());
    EXPECT_EQ(cd.Action(), 3);
}

TEST(CommonDialog, ColourAndFontRoundTrip) {
    testsupport::App();
    ui::ScopedRecorder rec;
    CCommonDialog cd;
    cd.Color = 0x0000FF;  // red in the stored byte order
    rec.colors.push_back(QColor(0, 128, 255));
    cd.ShowColor();
    EXPECT_EQ(cd.Color, 0xFF8000);

    cd.FontName = "Arial";
    cd.FontSize = 10;
    QFont chosen("Arial");
    chosen.setPointSize(10);
    chosen.setItalic(true);
    chosen.setUnderline(true);
    rec.fonts.push_back(chosen);
    cd.ShowFont();
    EXPECT_EQ(cd.Action(), 4);
    EXPECT_EQ(cd.FontSize, 10);
    EXPECT_TRUE(cd.FontItalic);
    EXPECT_TRUE(cd.FontUnderline);
    EXPECT_FALSE(cd.FontStrikethru);
    EXPECT_FALSE(cd.FontBold);

    // A face name beyond 32 characters ends the operation before any dialog.
    const size_t before = rec.calls.size();
    cd.FontName = QString(33, QLatin1Char('f'));
    cd.ShowFont();
    EXPECT_EQ(rec.calls.size(), before);
}

// The real Open dialog: a new name is taken unless the flags ask for an existing file.
TEST(CommonDialog, OpenTakesANewNameUnlessTheFlagsAskForAnExistingFile) {
    testsupport::App();
    testsupport::RealFileDialogs real;
    QTemporaryDir dir;
    for (const int32_t flags : {4, 4 | CCommonDialog::FileMustExist}) {
        CCommonDialog cd;
        cd.InitDir = dir.path();
        cd.Filter = "Project (*.txp)|*.txp";
        cd.DefaultExt = "*.txp";
        cd.flags = flags;
        testsupport::FileDialogSeen seen;
        testsupport::TypeIntoNextFileDialog("Project1", &seen);
        cd.ShowOpen();
        EXPECT_TRUE(seen.shown);
        if (flags & CCommonDialog::FileMustExist) {
            EXPECT_TRUE(cd.UserCancel());
            EXPECT_EQ(seen.refusals.size(), 1);
        } else {
            EXPECT_FALSE(cd.UserCancel());
            EXPECT_TRUE(seen.refusals.isEmpty());
            EXPECT_EQ(cd.FileName, dir.filePath("Project1.txp"));
            EXPECT_EQ(cd.FileTitle, "Project1.txp");
        }
    }
}
