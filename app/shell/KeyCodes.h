// Qt key events as the key codes and shift bits (1 Shift, 2 Ctrl, 4 Alt)
// that the windows hand to the menu bar.
#pragma once

#include <Qt>

#include <cstdint>

class QKeyEvent;

namespace KeyCodes {

int16_t VbKeyCode(const QKeyEvent* event);
int16_t VbShift(Qt::KeyboardModifiers modifiers);

}  // namespace KeyCodes
