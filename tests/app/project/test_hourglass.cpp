#include "AppServicesTesting.h"
#include "CHourglass.h"
#include "ProjectTestSupport.h"

#include <memory>

namespace {

TEST(BusyCursor, NestedHoldsRestoreOnlyWhenTheLastEnds) {
    app::ScopedFakeShell shell;
    const int32_t before = CHourglass::BusyCount();
    auto outer = std::make_unique<CHourglass>();
    EXPECT_EQ(outer->PointerType(), app::vbHourglass);
    EXPECT_FALSE(outer->Value());
    outer->SetValue(true);
    EXPECT_EQ(shell.screen.MousePointer(), app::vbHourglass);
    EXPECT_FALSE(shell.forms.main.enabled);
    {
        CHourglass inner;
        inner.SetValue(true);
        EXPECT_EQ(CHourglass::BusyCount(), before + 2);
    }
    // Ending the inner one leaves the hourglass and the window disabled.
    EXPECT_EQ(shell.screen.MousePointer(), app::vbHourglass);
    EXPECT_FALSE(shell.forms.main.enabled);
    EXPECT_EQ(CHourglass::BusyCount(), before + 1);
    outer.reset();
    EXPECT_EQ(shell.screen.MousePointer(), app::vbDefault);
    EXPECT_TRUE(shell.forms.main.enabled);
    EXPECT_EQ(CHourglass::BusyCount(), before);
}

TEST(BusyCursor, PointerTypeAppliesAtOnceOnlyWhileShown) {
    app::ScopedFakeShell shell;
    CHourglass h;
    h.SetPointerType(13);
    EXPECT_TRUE(shell.screen.history.empty());
    h.SetValue(true);
    EXPECT_EQ(shell.screen.MousePointer(), 13);
    h.SetPointerType(11);
    EXPECT_EQ(shell.screen.MousePointer(), 11);
    h.SetValue(false);
    EXPECT_EQ(shell.screen.MousePointer(), app::vbDefault);
    EXPECT_TRUE(shell.forms.main.enabled);
}

TEST(BusyCursor, ReleaseDoesNotCreateTheMainWindow) {
    app::ScopedFakeShell shell;
    { CHourglass h; }
    EXPECT_EQ(shell.forms.creations, 0);
    EXPECT_EQ(shell.screen.MousePointer(), app::vbDefault);
    {
        CHourglass h;
        h.SetValue(true);  // showing it does reach the main window
    }
    EXPECT_EQ(shell.forms.creations, 1);
    EXPECT_TRUE(shell.forms.main.enabled);
}

TEST(BusyCursor, QtScreenSetsAndRestoresTheOverrideCursor) {
    testsupport::App();
    app::IScreen* saved = app::SetScreen(nullptr);
    {
        CHourglass h;
        h.SetValue(true);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        CHourglass inner;
        inner.SetValue(true);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    app::SetScreen(saved);
}

}  // namespace
