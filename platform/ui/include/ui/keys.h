// Qt keys as the virtual-key codes and shift bits that every window and the
// graph control hand on in their key events, so a key reads the same wherever
// it was pressed.
#pragma once

#include <Qt>

#include <cstdint>

namespace ui {

// Letters and digits as their upper-case character codes, Backspace 8, Tab 9,
// Enter 13, Escape 27, Page Up 33 ... Down 40, Insert 45, Delete 46, F1 112 ...,
// minus 189, period 190; 0 for keys without one.
int16_t VirtualKey(int qtKey);
// 1 Shift, 2 Ctrl, 4 Alt.
int16_t ShiftBits(Qt::KeyboardModifiers modifiers);

}  // namespace ui
