#include "ui/keys.h"

#include <gtest/gtest.h>

namespace {

// The keys the windows' key handlers and the menu bar's shortcuts look at.
TEST(KeyCodes, KeysAndModifiersReadAsVirtualKeyCodes) {
    const struct {
        int key;
        int16_t code;
    } keys[] = {
        {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},    {Qt::Key_Return, 13}, {Qt::Key_Enter, 13},
        {Qt::Key_Escape, 27},   {Qt::Key_Space, 32}, {Qt::Key_PageUp, 33}, {Qt::Key_PageDown, 34},
        {Qt::Key_End, 35},      {Qt::Key_Home, 36},  {Qt::Key_Left, 37},   {Qt::Key_Up, 38},
        {Qt::Key_Right, 39},    {Qt::Key_Down, 40},  {Qt::Key_Insert, 45}, {Qt::Key_Delete, 46},
        {Qt::Key_0, 48},        {Qt::Key_9, 57},     {Qt::Key_A, 65},      {Qt::Key_Z, 90},
        {Qt::Key_F1, 112},      {Qt::Key_F3, 114},   {Qt::Key_F12, 123},   {Qt::Key_Minus, 189},
        {Qt::Key_Period, 190},  {Qt::Key_Plus, 0},   {Qt::Key_unknown, 0},
    };
    for (const auto& k : keys) EXPECT_EQ(ui::VirtualKey(k.key), k.code) << "Qt key 0x" << std::hex << k.key;
    EXPECT_EQ(ui::ShiftBits(Qt::NoModifier), 0);
    EXPECT_EQ(ui::ShiftBits(Qt::ShiftModifier | Qt::KeypadModifier), 1);
    EXPECT_EQ(ui::ShiftBits(Qt::ControlModifier | Qt::AltModifier), 6);
}

}  // namespace
