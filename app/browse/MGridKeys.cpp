#include "MGridKeys.h"

#include "KeyCodes.h"
#include "MUtilities.h"

namespace MGridKeys {

int16_t KeyCode(const QKeyEvent& e) { return KeyCodes::VbKeyCode(&e); }

int16_t Shift(const QKeyEvent& e) { return KeyCodes::VbShift(e.modifiers()); }

int16_t ForwardDown(const QKeyEvent& e) {
    int16_t code = KeyCode(e), shift = Shift(e);
    if (code) MUtilities::MenuKeyDown(code, shift);
    return code;
}

int16_t ForwardUp(const QKeyEvent& e) {
    int16_t code = KeyCode(e), shift = Shift(e);
    if (code) MUtilities::MenuKeyUp(code, shift);
    return code;
}

}  // namespace MGridKeys
