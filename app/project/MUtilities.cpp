#include "MUtilities.h"

#include "AppErrors.h"
#include "AppGlobals.h"
#include "AppServices.h"
#include "CRegSettings.h"
#include "ErrorGuard.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <cmath>
#include <cstring>

namespace MUtilities {

namespace {

// Bytes 0x80..0x9F of Windows-1252. The five bytes the code page leaves
// undefined map to the C1 control of the same number, as the system's
// conversion does, so every byte survives a round trip.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string Pack(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::u16string out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) out.push_back(Cp1252ToUnicode(bytes[i]));
    return out;
}

template <typename T>
T Unpack(const std::u16string& text) {
    if (text.size() != sizeof(T)) app::RaiseError(13);
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) {
        const int b = Cp1252FromUnicode(text[i]);
        if (b < 0) app::RaiseError(13);
        bytes[i] = uint8_t(b);
    }
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

int32_t ToLong(const std::string& text, int32_t fallback) {
    try {
        size_t used = 0;
        const double d = std::stod(text, &used);
        if (used == 0 || !std::isfinite(d) || d < INT32_MIN || d > INT32_MAX) return fallback;
        return int32_t(std::nearbyint(d));  // default rounding: half to even
    } catch (...) {
        // Not a number: the fallback.
        return fallback;
    }
}

}  // namespace

char16_t Cp1252ToUnicode(uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHigh[byte - 0x80];
    return char16_t(byte);
}

int Cp1252FromUnicode(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return ch;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == ch) return 0x80 + i;
    return -1;
}

std::u16string NumToBytes(int16_t value) { return Pack(&value, sizeof value); }
std::u16string NumToBytes(int32_t value) { return Pack(&value, sizeof value); }
std::u16string NumToBytes(float value) { return Pack(&value, sizeof value); }
std::u16string NumToBytes(double value) { return Pack(&value, sizeof value); }

std::u16string NumToBytes(const VARIANT& value) {
    switch (value.vt) {
        case VT_I2: return NumToBytes(int16_t(value.iVal));
        case VT_I4: return NumToBytes(int32_t(value.lVal));
        case VT_R4: return NumToBytes(float(value.fltVal));
        case VT_R8: return NumToBytes(double(value.dblVal));
        default: app::RaiseError(13);
    }
}

com::Variant BytesToNum(const std::u16string& text, int16_t varType) {
    switch (varType) {
        case VT_I2: return com::Variant::I2(Unpack<int16_t>(text));
        case VT_I4: return com::Variant::I4(Unpack<int32_t>(text));
        case VT_R4: return com::Variant::R4(Unpack<float>(text));
        case VT_R8: return com::Variant::R8(Unpack<double>(text));
        default: app::RaiseError(13);
    }
}

static void ForwardKey(int16_t& keyCode, int16_t& shift, bool down) {
    // A key that cannot be handed on stays with the window.
    base::RecordErrors("MUtilities::ForwardKey", [&] {
        app::IForms* forms = app::Forms();
        app::IMainWindow* main = forms ? forms->MainWindow(true) : nullptr;
        app::IMenuBar* bar = main ? main->MenuBar() : nullptr;
        if (!bar) return;
        int16_t k = keyCode, s = shift;
        const bool used = down ? bar->KeyDown(k, s) : bar->KeyUp(k, s);
        keyCode = k;
        shift = s;
        if (used) {
            keyCode = 0;
            shift = 0;
        }
    });
}

void MenuKeyDown(int16_t& keyCode, int16_t& shift) { ForwardKey(keyCode, shift, true); }
void MenuKeyUp(int16_t& keyCode, int16_t& shift) { ForwardKey(keyCode, shift, false); }

void SetRegSettings(std::shared_ptr<CRegSettings> settings) { app::Services().gRegSettings = std::move(settings); }
std::shared_ptr<CRegSettings> RegSettings() { return app::Services().gRegSettings; }

void SaveRegSetting(const std::string& section, const std::string& key, const std::string& value) {
    if (const auto settings = RegSettings()) settings->SaveSetting(section, key, value);
}

std::string GetRegSetting(const std::string& section, const std::string& key, const std::string& defaultValue) {
    const auto settings = RegSettings();
    if (!settings) return {};
    const std::string v = settings->GetSetting(section, key, defaultValue);
    return v.empty() ? defaultValue : v;
}

void DeleteRegSetting(const std::string& section, const std::optional<std::string>& key) {
    if (const auto settings = RegSettings()) settings->DeleteSetting(section, key);
}

void SaveFormPosition(const QWidget& form) {
    const std::string name = form.objectName().toStdString();
    const QPoint pos = form.pos();
    SaveRegSetting("Window", name + "Left", std::to_string(pos.x() * TwipsPerPixel));
    SaveRegSetting("Window", name + "Top", std::to_string(pos.y() * TwipsPerPixel));
    SaveRegSetting("Window", name + "Width", std::to_string(form.width() * TwipsPerPixel));
    SaveRegSetting("Window", name + "Height", std::to_string(form.height() * TwipsPerPixel));
}

void RestoreFormPosition(QWidget& form) {
    const std::string name = form.objectName().toStdString();
    QRect screen(0, 0, 800, 600);
    if (QScreen* s = QGuiApplication::primaryScreen()) screen = s->geometry();
    const int32_t defWidth = screen.width() * TwipsPerPixel;
    const int32_t defHeight = screen.height() * TwipsPerPixel - 420;
    const int32_t left = ToLong(GetRegSetting("Window", name + "Left", "0"), 0);
    const int32_t top = ToLong(GetRegSetting("Window", name + "Top", "0"), 0);
    const int32_t width = ToLong(GetRegSetting("Window", name + "Width", std::to_string(defWidth)), defWidth);
    const int32_t height = ToLong(GetRegSetting("Window", name + "Height", std::to_string(defHeight)), defHeight);
    form.move(left / TwipsPerPixel, top / TwipsPerPixel);
    form.resize(width / TwipsPerPixel, height / TwipsPerPixel);
}

void MENU_PrintForm() {
    base::ShowErrors("modMenu::MENU_PrintForm", [&] {
        app::StatusText(QString());
        app::IScreenPrint* print = app::ScreenPrint();
        const QImage picture = print->CaptureActiveWindow();
        if (picture.isNull()) app::RaiseError(481);
        if (!print->PrintPictureToFitPage(picture)) app::RaiseError(482);
        QThread::msleep(1000);
        app::StatusText(QStringLiteral("Screen Printed."));
    });
}

QString FitTextToWidth(const QFont& font, const QString& text, int maxWidth) {
    const QFontMetrics metrics(font);
    QString fitted = text;
    while (!fitted.isEmpty() && metrics.horizontalAdvance(fitted) > maxWidth) fitted.chop(1);
    return fitted;
}

QString FitTextToWidth(const QWidget& window, const QString& text, int maxWidth) {
    return FitTextToWidth(window.font(), text, maxWidth);
}

bool IsFormLoaded(const QString& name) {
    app::IForms* forms = app::Forms();
    return forms && forms->IsFormLoaded(name);
}


int16_t Split(std::string_view delimiter, std::string_view text, std::vector<std::string_view>& parts) {
    parts.clear();
    size_t start = 0;
    for (;;) {
        if (parts.size() > 32767) app::RaiseError(6);
        const size_t at = delimiter.empty() ? std::string_view::npos : text.find(delimiter, start);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;  // after the delimiter's first character
    }
    return int16_t(parts.size() - 1);
}

}  // namespace MUtilities
