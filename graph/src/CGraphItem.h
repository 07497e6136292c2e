// An item (node) of the graph with its connection lists and layout scratch fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "GraphGeometry.h"

namespace nodars {

class CGraphConnection;

class CGraphItem {
public:
    CGraphItem(int32_t id, std::optional<std::u16string> name) : ItemId(id), Name(std::move(name)) {}

    // The connection from this item to `target` in the outgoing list, or null.
    CGraphConnection* OutgoingTo(const CGraphItem* target) const;
    // The connection from `source` in the incoming list, or null.
    CGraphConnection* IncomingFrom(const CGraphItem* source) const;
    // Drops `c` from both lists of this item (it may be in both for a self-connection).
    void Detach(const CGraphConnection* c);
    bool HasBackTarget(const CGraphItem* t) const;
    // Clears the layout fields as every arrangement does before it starts.
    void ResetLayout();

    int32_t Index = 0;
    int32_t ItemId;
    int32_t ItemData = 0;
    std::optional<std::u16string> Name;
    int16_t Shape = 1;
    int16_t Graphic = 0;
    uint32_t BorderColor = 0;
    uint32_t FillColor = 0xFFFFFF;
    uint32_t TextColor = 0;
    int16_t GraphicStyle = 3;
    GRect GraphicRect;
    int16_t GraphicAlign = 4;
    int16_t DrawLabel = 1;
    GRect LabelRect;
    int16_t LabelAlign = 4;
    GRect Rect;
    std::vector<CGraphConnection*> Incoming;  // in creation order
    std::vector<CGraphConnection*> Outgoing;  // in creation order (the tree arrangement sorts it)

    // Layout scratch (rebuilt by each arrangement). 32-bit so that large trees do
    // not overflow.
    int32_t Layer = 0;
    int32_t Slot = 0;
    int32_t Breadth = 0;
    bool Visited = false;
    bool IsRoot = false;
    CGraphItem* PrimaryNeighbour = nullptr;
    int32_t PrimaryCount = 0;
    std::vector<CGraphItem*> BackTargets;
    std::vector<CGraphItem*> Neighbours;
};

}  // namespace nodars
