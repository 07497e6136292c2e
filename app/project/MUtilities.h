// Shared desktop functions: packed numbers for the stored tree, key hand-over
// to the main window's menu bar, registry wrappers and window positions,
// printing the active window, fitting a text to a width.
#pragma once

#include "com/oleauto.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CRegSettings;
class QFont;
class QWidget;

namespace MUtilities {

// Packed numbers: 2, 4, 4 or 8 characters, one per byte in little-endian
// order, each byte b the character whose Windows-1252 code is b (0x80 is
// U+20AC, the euro sign). VT_I2, VT_I4, VT_R4 and VT_R8 pack; anything else
// raises app::RuntimeError 13.
std::u16string NumToBytes(const VARIANT& value);
std::u16string NumToBytes(int16_t value);
std::u16string NumToBytes(int32_t value);
std::u16string NumToBytes(float value);
std::u16string NumToBytes(double value);
// varType 2, 3, 4 or 5; error 13 for another type, a wrong length, or a
// character outside Windows-1252.
com::Variant BytesToNum(const std::u16string& text, int16_t varType);

// Splits text at every occurrence of the delimiter (letter case counts):
// consecutive delimiters give empty parts, a delimiter at the end an empty last
// part, text without it one part. Parts view into text. Returns the upper index
// (parts - 1); more than 32768 parts raise app::RuntimeError 6 (overflow).
int16_t Split(std::string_view delimiter, std::string_view text, std::vector<std::string_view>& parts);

// Windows-1252 <-> Unicode for one byte / one character (-1 when not in the code page).
char16_t Cp1252ToUnicode(uint8_t byte);
int Cp1252FromUnicode(char16_t ch);

// Every window hands its keys to the menu bar through these; a key the bar
// used as a shortcut comes back as KeyCode 0, Shift 0. Errors are ignored.
void MenuKeyDown(int16_t& keyCode, int16_t& shift);
void MenuKeyUp(int16_t& keyCode, int16_t& shift);

// The settings object of the program's single instances (AppGlobals). The
// wrappers below do nothing, and GetRegSetting answers "", while there is none.
void SetRegSettings(std::shared_ptr<CRegSettings> settings);
std::shared_ptr<CRegSettings> RegSettings();
void SaveRegSetting(const std::string& section, const std::string& key, const std::string& value);
// Default also when the stored value is empty.
std::string GetRegSetting(const std::string& section, const std::string& key, const std::string& defaultValue);
void DeleteRegSetting(const std::string& section, const std::optional<std::string>& key = std::nullopt);

// Section "Window", values <objectName>Left/Top/Width/Height in twips
// (15 per pixel). Restore defaults: 0, 0, the screen's width, its height less 420.
void SaveFormPosition(const QWidget& form);
void RestoreFormPosition(QWidget& form);
constexpr int TwipsPerPixel = 15;

// Prints a capture of the active window fitted to one page of the default printer.
void MENU_PrintForm();

// The text, shortened from the end until it is at most maxWidth pixels wide in
// the widget's font. An empty text always fits.
QString FitTextToWidth(const QWidget& window, const QString& text, int maxWidth);
QString FitTextToWidth(const QFont& font, const QString& text, int maxWidth);

bool IsFormLoaded(const QString& name);

}  // namespace MUtilities
