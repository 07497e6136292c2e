#include "ui/keys.h"

namespace ui {

namespace {

struct KeyCode {
    int qtKey;
    int16_t code;
};

constexpr KeyCode kKeys[] = {
    {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},   {Qt::Key_Return, 13}, {Qt::Key_Enter, 13},  {Qt::Key_Shift, 16},
    {Qt::Key_Control, 17},  {Qt::Key_Alt, 18},  {Qt::Key_Escape, 27}, {Qt::Key_Space, 32},  {Qt::Key_PageUp, 33},
    {Qt::Key_PageDown, 34}, {Qt::Key_End, 35},  {Qt::Key_Home, 36},   {Qt::Key_Left, 37},   {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},    {Qt::Key_Down, 40}, {Qt::Key_Insert, 45}, {Qt::Key_Delete, 46}, {Qt::Key_Minus, 189},
    {Qt::Key_Period, 190},
};

}  // namespace

int16_t VirtualKey(int qtKey) {
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)) return int16_t(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return int16_t(112 + qtKey - Qt::Key_F1);
    for (const KeyCode& k : kKeys)
        if (k.qtKey == qtKey) return k.code;
    return 0;
}

int16_t ShiftBits(Qt::KeyboardModifiers modifiers) {
    int16_t s = 0;
    if (modifiers & Qt::ShiftModifier) s |= 1;
    if (modifiers & Qt::ControlModifier) s |= 2;
    if (modifiers & Qt::AltModifier) s |= 4;
    return s;
}

}  // namespace ui
