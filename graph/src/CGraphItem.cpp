#include "CGraphItem.h"

#include <algorithm>

#include "CGraphConnection.h"

namespace nodars {

CGraphConnection* CGraphItem::OutgoingTo(const CGraphItem* target) const {
    for (CGraphConnection* c : Outgoing)
        if (c->To == target) return c;
    return nullptr;
}

CGraphConnection* CGraphItem::IncomingFrom(const CGraphItem* source) const {
    for (CGraphConnection* c : Incoming)
        if (c->From == source) return c;
    return nullptr;
}

void CGraphItem::Detach(const CGraphConnection* c) {
    std::erase(Incoming, c);
    std::erase(Outgoing, c);
}

bool CGraphItem::HasBackTarget(const CGraphItem* t) const {
    return std::find(BackTargets.begin(), BackTargets.end(), t) != BackTargets.end();
}

void CGraphItem::ResetLayout() {
    Visited = false;
    IsRoot = true;
    Breadth = 0;
    Layer = 0;
    Slot = 0;
    PrimaryNeighbour = nullptr;
    PrimaryCount = 0;
}

}  // namespace nodars
