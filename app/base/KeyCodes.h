// Qt key events as the key codes and shift bits (1 Shift, 2 Ctrl, 4 Alt)
// that the windows hand to the menu bar.
#pragma once

#include <QKeyEvent>

#include <cstdint>

#include "ui/keys.h"

namespace KeyCodes {

// The key's virtual-key code (see ui::VirtualKey); 0 for keys without one.
inline int16_t VbKeyCode(const QKeyEvent* event) { return ui::VirtualKey(event->key()); }
inline int16_t VbShift(Qt::KeyboardModifiers modifiers) { return ui::ShiftBits(modifiers); }

}  // namespace KeyCodes
