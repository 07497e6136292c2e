// Qt key events as the key codes and shift bits (1 Shift, 2 Ctrl, 4 Alt)
// that the windows hand to the menu bar.
#pragma once

#include <Qt>

#include <cstdint>

class QKeyEvent;

namespace KeyCodes {

// Virtual-key codes: letters and digits as their upper-case character codes,
// Backspace 8, Tab 9, Enter 13, Escape 27, Page Up 33 ... Down 40, F1 112 ...,
// minus 189, period 190; 0 for keys without one.
int16_t VbKeyCode(const QKeyEvent* event);
int16_t VbShift(Qt::KeyboardModifiers modifiers);

}  // namespace KeyCodes
