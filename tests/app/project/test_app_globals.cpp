// The one home of the single instances and the services: what is installed with
// no program stays apart from an installed program's own and is back after it.
#include "AppErrorOf.h"
#include "AppGlobals.h"
#include "AppServicesTesting.h"
#include "CRegSettings.h"
#include "MUtilities.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class NoPrint : public app::IScreenPrint {
public:
    QImage CaptureActiveWindow() override { return {}; }
    bool PrintPictureToFitPage(const QImage&) override { return false; }
};

TEST(AppGlobals, NoneInstalledIsError91WhileServicesStillInstall) {
    ASSERT_FALSE(app::HasGlobals());
    EXPECT_EQ(ErrorOf([] { app::Globals(); }), 91);
    app::ScopedFakeShell shell;
    EXPECT_EQ(app::Forms(), &shell.forms);
    EXPECT_EQ(&app::Screen(), &shell.screen);
    app::StatusText("alone");
    EXPECT_EQ(shell.status.texts, QStringList{"alone"});
}

TEST(AppGlobals, AnInstalledOneHasItsOwnServicesAndSettingsUntilItGoes) {
    app::ScopedFakeShell alone;
    NoPrint alonePrint;
    app::IScreenPrint* savedPrint = app::SetScreenPrint(&alonePrint);
    auto aloneSettings = std::make_shared<CRegSettings>();
    MUtilities::SetRegSettings(aloneSettings);
    {
        app::AppGlobals globals;
        ASSERT_EQ(app::SetGlobals(&globals), nullptr);
        EXPECT_EQ(&app::Globals(), &globals);
        // A fresh one starts with none: the defaults answer.
        EXPECT_EQ(app::Forms(), nullptr);
        EXPECT_NE(&app::Screen(), &alone.screen);
        EXPECT_NE(app::ScreenPrint(), &alonePrint);
        EXPECT_EQ(MUtilities::RegSettings(), nullptr);
        app::StatusText("to nobody");
        // What is installed now is its own, and its settings are the ones the wrappers use.
        app::FakeForms forms;
        EXPECT_EQ(app::SetForms(&forms), nullptr);
        EXPECT_EQ(globals.forms, &forms);
        auto own = std::make_shared<CRegSettings>();
        globals.gRegSettings = own;
        EXPECT_EQ(MUtilities::RegSettings(), own);
        MUtilities::SetRegSettings(nullptr);
        EXPECT_EQ(globals.gRegSettings, nullptr);
        EXPECT_EQ(app::SetGlobals(nullptr), &globals);
    }
    EXPECT_FALSE(app::HasGlobals());
    EXPECT_EQ(app::Forms(), &alone.forms);
    EXPECT_EQ(&app::Screen(), &alone.screen);
    EXPECT_EQ(app::ScreenPrint(), &alonePrint);
    EXPECT_EQ(MUtilities::RegSettings(), aloneSettings);
    EXPECT_TRUE(alone.status.texts.isEmpty());
    MUtilities::SetRegSettings(nullptr);
    app::SetScreenPrint(savedPrint);
}

}  // namespace
