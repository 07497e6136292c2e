#include "AppErrorOf.h"
#include "AppErrors.h"
#include "AppServicesTesting.h"
#include "CRegSettings.h"
#include "MUtilities.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <set>

using namespace MUtilities;

namespace {

// --- packed numbers -------------------------------------------------------

TEST(PackedNumbers, KnownEncodings) {
    EXPECT_EQ(NumToBytes(int16_t(1)), std::u16string(u"\x0001\x0000", 2));
    EXPECT_EQ(NumToBytes(int32_t(258)), std::u16string(u"\x0002\x0001\x0000\x0000", 4));
    EXPECT_EQ(NumToBytes(1.0), std::u16string(u"\0\0\0\0\0\0\u00F0\u003F", 8));
    // Byte 0x80 is the euro sign in Windows-1252, not U+0080 as in Latin-1.
    EXPECT_EQ(NumToBytes(1.0f), std::u16string(u"\0\0\u20AC\u003F", 4));
    EXPECT_EQ(NumToBytes(int16_t(-1)), std::u16string(u"\u00FF\u00FF", 2));
}

TEST(PackedNumbers, ChosenByTheValuesOwnType) {
    EXPECT_EQ(NumToBytes(com::Variant::I2(1)).size(), 2u);
    EXPECT_EQ(NumToBytes(com::Variant::I4(1)).size(), 4u);
    EXPECT_EQ(NumToBytes(com::Variant::R4(1)), NumToBytes(1.0f));
    EXPECT_EQ(NumToBytes(com::Variant::R8(1)), NumToBytes(1.0));
    com::Variant byteValue;
    byteValue.vt = VT_UI1;
    byteValue.bVal = 7;
    EXPECT_EQ(ErrorOf([&] { NumToBytes(byteValue); }), 13);
    EXPECT_EQ(ErrorOf([&] { NumToBytes(com::Variant::Cy(10000)); }), 13);
    EXPECT_EQ(ErrorOf([&] { NumToBytes(com::Variant::Str("1")); }), 13);
}

TEST(PackedNumbers, WrongLengthOrTypeIsTypeMismatch) {
    EXPECT_EQ(ErrorOf([] { BytesToNum(u"abc", VT_I4); }), 13);
    EXPECT_EQ(ErrorOf([] { BytesToNum(u"abcd", VT_R8); }), 13);
    EXPECT_EQ(ErrorOf([] { BytesToNum(u"ab", VT_BSTR); }), 13);
    EXPECT_EQ(ErrorOf([] { BytesToNum(u"ab", VT_UI1); }), 13);
    // A character outside the code page cannot stand for a byte.
    EXPECT_EQ(ErrorOf([] { BytesToNum(u"a\u4E00", VT_I2); }), 13);
}

TEST(PackedNumbers, RoundTripIsBitExact) {
    const double doubles[] = {0.0, -0.0, 1.0, -2.5, 1e-310, std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity(),
                              3.141592653589793};
    for (double d : doubles) {
        const com::Variant v = BytesToNum(NumToBytes(d), VT_R8);
        ASSERT_EQ(v.vt, VT_R8);
        EXPECT_EQ(std::memcmp(&v.dblVal, &d, sizeof d), 0) << d;
    }
    const float floats[] = {1.0f, -0.0f, 7.5e-40f, 123456.789f, std::numeric_limits<float>::quiet_NaN()};
    for (float f : floats) {
        const com::Variant v = BytesToNum(NumToBytes(f), VT_R4);
        ASSERT_EQ(v.vt, VT_R4);
        EXPECT_EQ(std::memcmp(&v.fltVal, &f, sizeof f), 0) << f;
    }
    for (int32_t i : {0, 1, -1, 258, INT32_MIN, INT32_MAX, int32_t(0x9D8D8F81u)}) {
        const com::Variant v = BytesToNum(NumToBytes(i), VT_I4);
        ASSERT_EQ(v.vt, VT_I4);
        EXPECT_EQ(v.lVal, i);
    }
    for (int b = 0; b < 256; ++b) {
        const int16_t i = int16_t(b | (b << 8));
        EXPECT_EQ(BytesToNum(NumToBytes(i), VT_I2).iVal, i) << b;
    }
}

TEST(PackedNumbers, EveryByteHasItsOwnCharacter) {
    std::set<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const char16_t c = Cp1252ToUnicode(uint8_t(b));
        EXPECT_EQ(Cp1252FromUnicode(c), b);
        seen.insert(c);
    }
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(Cp1252ToUnicode(0x80), u'\u20AC');
    EXPECT_EQ(Cp1252ToUnicode(0x9F), u'\u0178');
    EXPECT_EQ(Cp1252ToUnicode(0xA0), u'\u00A0');
    EXPECT_EQ(Cp1252FromUnicode(u'\u0080'), -1);  // Latin-1's reading of 0x80 is not in the code page
}

// --- key forwarding -------------------------------------------------------

TEST(SplitText, EmptyPartsKeptAndTheUpperIndexReturned) {
    std::vector<std::string_view> parts;
    auto split = [&](std::string_view delimiter, std::string_view text) {
        const int16_t upper = MUtilities::Split(delimiter, text, parts);
        EXPECT_EQ(size_t(upper) + 1, parts.size()) << text;
        return std::vector<std::string>(parts.begin(), parts.end());
    };
    EXPECT_EQ(split(",", "a,,b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(split(",", "a,"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(split(",", ",a"), (std::vector<std::string>{"", "a"}));
    EXPECT_EQ(split(",", "abc"), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(split("\t", "x\ty"), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(split("A", "bab"), (std::vector<std::string>{"bab"}));  // the search keeps letter case
    // Parts from an earlier call do not survive.
    EXPECT_EQ(split(",", "one"), (std::vector<std::string>{"one"}));
    // More parts than a 16-bit upper index can count: overflow, not a wrapped count.
    const std::string wide(40000, ',');
    try {
        MUtilities::Split(",", wide, parts);
        ADD_FAILURE() << "no error";
    } catch (const app::RuntimeError& e) {
        EXPECT_EQ(e.Number(), 6);
    }
}

TEST(KeyForwarding, UsedShortcutsAreSwallowedOthersPassThrough) {
    app::ScopedFakeShell shell;
    shell.forms.main.bar.shortcuts.insert({79, 2});  // Ctrl+O
    int16_t key = 79, shift = 2;
    MenuKeyDown(key, shift);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(shift, 0);
    EXPECT_EQ(shell.forms.creations, 1);  // the main window is made on first reference
    key = 65;
    shift = 0;
    MenuKeyUp(key, shift);
    EXPECT_EQ(key, 65);
    EXPECT_EQ(shift, 0);
    ASSERT_EQ(shell.forms.main.bar.ups.size(), 1u);
    EXPECT_EQ(shell.forms.main.bar.ups[0], std::make_pair(int16_t(65), int16_t(0)));
}

TEST(KeyForwarding, NoMainWindowAndThrowingBarAreIgnored) {
    int16_t key = 13, shift = 1;
    app::IForms* saved = app::SetForms(nullptr);
    MenuKeyDown(key, shift);
    EXPECT_EQ(key, 13);
    EXPECT_EQ(shift, 1);

    struct ThrowingBar : app::FakeMenuBar {
        bool KeyDown(int16_t&, int16_t&) override { throw std::runtime_error("bar gone"); }
    };
    struct Forms : app::FakeForms {
        ThrowingBar bar;
        struct Main : app::FakeMainWindow {
            app::IMenuBar* b = nullptr;
            app::IMenuBar* MenuBar() override { return b; }
        } m;
        app::IMainWindow* MainWindow(bool) override {
            m.b = &bar;
            return &m;
        }
    } forms;
    app::SetForms(&forms);
    EXPECT_NO_THROW(MenuKeyDown(key, shift));
    EXPECT_EQ(key, 13);
    app::SetForms(saved);
}

// --- registry wrappers and window positions -------------------------------

TEST(RegistryWrappers, DoNothingWithoutSettingsObject) {
    testsupport::TempDir dir;
    testsupport::UseScratchRegistry(dir);
    SetRegSettings(nullptr);
    SaveRegSetting("Config", "AutoLoad", "True");
    EXPECT_EQ(GetRegSetting("Config", "AutoLoad", "False"), "");
    auto settings = std::make_shared<CRegSettings>();
    settings->SetAppName("WrapperTest");
    SetRegSettings(settings);
    EXPECT_EQ(GetRegSetting("Config", "AutoLoad", "False"), "False");
    SaveRegSetting("Config", "AutoLoad", "True");
    EXPECT_EQ(GetRegSetting("Config", "AutoLoad", "False"), "True");
    SaveRegSetting("Config", "Empty", "");
    EXPECT_EQ(GetRegSetting("Config", "Empty", "dflt"), "dflt");
    DeleteRegSetting("Config", std::string("AutoLoad"));
    EXPECT_EQ(GetRegSetting("Config", "AutoLoad", "gone"), "gone");
    SaveRegSetting("Config", "A", "1");
    DeleteRegSetting("Config");
    EXPECT_EQ(GetRegSetting("Config", "A", "none"), "none");
    SetRegSettings(nullptr);
}

TEST(WindowPositions, RoundTripAndDefaults) {
    testsupport::App();
    testsupport::TempDir dir;
    testsupport::UseScratchRegistry(dir);
    auto settings = std::make_shared<CRegSettings>();
    settings->SetAppName("PositionTest");
    SetRegSettings(settings);

    QWidget form;
    form.setObjectName("FMain");
    RestoreFormPosition(form);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(form.pos(), QPoint(0, 0));
    EXPECT_EQ(form.width(), screen.width());
    EXPECT_EQ(form.height(), (screen.height() * 15 - 420) / 15);

    form.move(30, 40);
    form.resize(300, 200);
    SaveFormPosition(form);
    EXPECT_EQ(settings->GetSetting("Window", "FMainLeft"), "450");
    EXPECT_EQ(settings->GetSetting("Window", "FMainHeight"), "3000");
    QWidget again;
    again.setObjectName("FMain");
    RestoreFormPosition(again);
    EXPECT_EQ(again.pos(), QPoint(30, 40));
    EXPECT_EQ(again.size(), QSize(300, 200));
    SetRegSettings(nullptr);
}

// --- printing the active window, fitting text, loaded forms ---------------

struct FakeScreenPrint : app::IScreenPrint {
    QImage capture;
    std::vector<QSize> printed;
    QImage CaptureActiveWindow() override { return capture; }
    bool PrintPictureToFitPage(const QImage& p) override {
        printed.push_back(p.size());
        return true;
    }
};

TEST(PrintForm, ClearsStatusPrintsAndReports) {
    app::ScopedFakeShell shell;
    ui::ScopedRecorder boxes;
    FakeScreenPrint print;
    print.capture = QImage(40, 30, QImage::Format_RGB32);
    app::IScreenPrint* saved = app::SetScreenPrint(&print);
    MENU_PrintForm();
    ASSERT_EQ(print.printed.size(), 1u);
    EXPECT_EQ(print.printed[0], QSize(40, 30));
    EXPECT_EQ(shell.status.texts, QStringList({"", "Screen Printed."}));
    EXPECT_TRUE(boxes.calls.empty());

    // Nothing to capture: the error box, no "printed" claim.
    print.capture = QImage();
    shell.status.texts.clear();
    MENU_PrintForm();
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].title, "modMenu::MENU_PrintForm");
    EXPECT_EQ(boxes.calls[0].icon, ui::Icon::Critical);
    EXPECT_FALSE(shell.status.texts.contains("Screen Printed."));
    app::SetScreenPrint(saved);
}

TEST(FitText, ShortensFromTheEndUntilItFits) {
    testsupport::App();
    QFont font;
    const QFontMetrics m(font);
    const QString text = "The quick brown fox jumps";
    const int full = m.horizontalAdvance(text);
    EXPECT_EQ(FitTextToWidth(font, text, full), text);
    const QString cut = FitTextToWidth(font, text, full / 2);
    EXPECT_TRUE(text.startsWith(cut));
    EXPECT_LE(m.horizontalAdvance(cut), full / 2);
    EXPECT_GT(m.horizontalAdvance(text.left(cut.size() + 1)), full / 2);  // the longest that fits
    EXPECT_EQ(FitTextToWidth(font, text, 0), "");
    EXPECT_EQ(FitTextToWidth(font, "", -5), "");
    QWidget w;
    EXPECT_EQ(FitTextToWidth(w, text, 100000), text);
}

TEST(LoadedForms, ExactNameOnly) {
    app::ScopedFakeShell shell;
    EXPECT_FALSE(IsFormLoaded("FMain"));
    shell.forms.MainWindow(true);
    EXPECT_TRUE(IsFormLoaded("FMain"));
    EXPECT_FALSE(IsFormLoaded("fmain"));
}

}  // namespace
