// Qt keys as the key codes and shift states the menu bar's key handlers take.
#pragma once

#include <QKeyEvent>

#include <cstdint>

namespace MGridKeys {

int16_t KeyCode(const QKeyEvent& e);  // 0 for a key without a code
int16_t Shift(const QKeyEvent& e);    // 1 Shift, 2 Ctrl, 4 Alt
// Hands the key to the menu bar; the key code that is left (0 when the bar used it).
int16_t ForwardDown(const QKeyEvent& e);
int16_t ForwardUp(const QKeyEvent& e);

}  // namespace MGridKeys
