// Qt key events as the forms runtime's KeyCode and Shift, which the menu bar's
// key hand-over expects.
#pragma once

#include <Qt>

#include <cstdint>

class QKeyEvent;

namespace MKeyCodes {

// Virtual-key codes: letters and digits as their upper-case character codes,
// Backspace 8, Tab 9, Enter 13, Escape 27, Page Up 33 ... Down 40, F1 112 ...; 0 for keys without one.
int16_t KeyCode(const QKeyEvent& e);
// 1 Shift, 2 Ctrl, 4 Alt, added together.
int16_t Shift(Qt::KeyboardModifiers modifiers);

}  // namespace MKeyCodes
