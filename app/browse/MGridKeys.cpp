#include "MGridKeys.h"

#include "MUtilities.h"

namespace MGridKeys {

int16_t KeyCode(const QKeyEvent& e) {
    const int k = e.key();
    if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9)) return int16_t(k);
    if (k >= Qt::Key_F1 && k <= Qt::Key_F16) return int16_t(112 + (k - Qt::Key_F1));
    switch (k) {
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Tab: return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Shift: return 16;
        case Qt::Key_Control: return 17;
        case Qt::Key_Alt: return 18;
        case Qt::Key_Escape: return 27;
        case Qt::Key_Space: return 32;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        case Qt::Key_Insert: return 45;
        case Qt::Key_Delete: return 46;
        default: return 0;
    }
}

int16_t Shift(const QKeyEvent& e) {
    int16_t s = 0;
    if (e.modifiers() & Qt::ShiftModifier) s |= 1;
    if (e.modifiers() & Qt::ControlModifier) s |= 2;
    if (e.modifiers() & Qt::AltModifier) s |= 4;
    return s;
}

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
