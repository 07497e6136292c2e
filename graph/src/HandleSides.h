// Which side of an item a connection handle sits on, by DrawDir. Handle 1
// always faces the incoming flow and handle 3 the outgoing; routing, drawing
// and hit-testing all read the same table.
#pragma once

#include <cstdint>

namespace nodars {

enum Side { kCentre = 0, kTop = 1, kRight = 2, kBottom = 3, kLeft = 4 };

inline int HandleSide(int32_t drawDir, int32_t handle) {
    static constexpr int kTable[4][5] = {
        {kRight, kRight, kBottom, kLeft, kTop},
        {kLeft, kLeft, kTop, kRight, kBottom},
        {kBottom, kBottom, kLeft, kTop, kRight},
        {kTop, kTop, kRight, kBottom, kLeft},
    };
    if (drawDir < 0 || drawDir > 3 || handle < 0 || handle > 4) return kCentre;
    return kTable[drawDir][handle];
}

// The handle (1..4) whose side is `side` under `drawDir`; 0 for no such side.
inline int16_t SideHandle(int32_t drawDir, int side) {
    for (int16_t h = 1; h <= 4; ++h)
        if (HandleSide(drawDir, h) == side) return h;
    return 0;
}

}  // namespace nodars
