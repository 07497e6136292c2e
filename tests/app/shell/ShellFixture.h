// The program built in-process through the same start-up main() uses, per
// test: a scratch registry store, program folder and current folder, the
// recording dialog handler and stand-in panels.
#pragma once

#include "CCommandTable.h"
#include "MMenu.h"
#include "CRegSettings.h"
#include "CTessaryApp.h"
#include "FMain.h"
#include "FSplash.h"
#include "MTessary.h"
#include "PlaceholderGrid.h"
#include "PlaceholderReport.h"
#include "ProjectTestSupport.h"
#include "StandInPanels.h"
#include "UAppFrame.h"
#include "UStatusBar.h"

#include "ui/testing.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <memory>
#include <string>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << '{' << l.join(" | ").toStdString() << '}'; }

namespace shelltest {

inline std::string SamplesDir() {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    return std::string(src ? src : ".") + "/samples";
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        testsupport::UseScratchRegistry(dir);
        ::setenv("TESSARY_PROGRAM_DIR", dir.Path().c_str(), 1);
        std::filesystem::create_directories(dir.Path() / "cwd");
        mOldCwd = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(dir.File("cwd")));
    }
    void TearDown() override {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDir::setCurrent(mOldCwd);
        ::unsetenv("TESSARY_PROGRAM_DIR");
    }

    // Starts the program; the splash goes at once unless keepSplash.
    bool Start(const QStringList& args = {}, bool keepSplash = false) {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        app = std::make_unique<CTessaryApp>(factory);
        const bool up = MTessary::Main(args);
        if (up && !keepSplash && app->splash) {
            app->splash->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        return up;
    }

    // A copy of the sample project and its data in folder sub of the scratch folder.
    std::string CopySample(const std::string& sub = "data", const std::string& name = "iris.txp") {
        std::filesystem::create_directories(dir.Path() / sub);
        for (const char* f : {"iris.mdb", "iris.txp"}) {
            const std::string to = (dir.Path() / sub / (std::string(f) == "iris.txp" ? name : f)).string();
            std::filesystem::copy_file(SamplesDir() + "/" + f, to, std::filesystem::copy_options::overwrite_existing);
            std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
        }
        return (dir.Path() / sub / name).string();
    }

    FMain& Main() { return *app->main; }
    QAction* Tool(const QString& key) { return Main().Bar()->Tool(key); }
    QString StatusMain() { return Main().StatusBar()->Panel(1)->text(); }
    PlaceholderReport& Report() { return *static_cast<PlaceholderReport*>(Main().Panels().report); }
    PlaceholderGrid& Grid() { return *static_cast<PlaceholderGrid*>(Main().Panels().grid); }
    // A stored value of the program's settings ("<none>" when missing), whether the program runs or not.
    static std::string Reg(const char* section, const std::string& key) {
        CRegSettings settings;
        settings.SetCompany("Tavrel");
        settings.SetAppName("Tessary");
        return settings.GetSetting(section, key, "<none>");
    }
    static void SetReg(const char* section, const std::string& key, const std::string& value) {
        CRegSettings settings;
        settings.SetCompany("Tavrel");
        settings.SetAppName("Tessary");
        settings.SaveSetting(section, key, value);
    }

    testsupport::TempDir dir;
    ui::ScopedRecorder dialogs;
    PanelSet::Factory factory = StandInPanels::Make;
    std::unique_ptr<CTessaryApp> app;

private:
    QString mOldCwd;
};

}  // namespace shelltest
