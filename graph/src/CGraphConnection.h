// A directed connection between two items, held by the source's outgoing list and
// the target's incoming list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "GraphGeometry.h"

namespace nodars {

class CGraphItem;

class CGraphConnection {
public:
    static constexpr int kMaxPoints = 6;

    CGraphConnection(int32_t id, CGraphItem* from, CGraphItem* to, uint32_t color)
        : ConnectionId(id), From(from), To(to), Color(color) {}

    bool IsSelf() const { return From == To; }

    int32_t ConnectionId;
    CGraphItem* From;
    CGraphItem* To;
    int16_t FromHandle = 3;
    int16_t ToHandle = 1;
    std::optional<std::u16string> Label;
    int32_t Data = 0;
    uint32_t Color;
    int16_t LineWidth = -1;  // -1: the control's LineWidth
    int16_t Arrow = 1;
    int16_t Align = 1;

    // Route, computed by the layout.
    std::array<GPoint, kMaxPoints> Points{};
    int16_t PointCount = 0;
    GRect BoundsRect;
};

}  // namespace nodars
