// The query engine: walks the graph for a client that holds no references. Item
// results land in the query item, connection results in the current connection.
#include "CNodars32Ctrl.h"

namespace nodars {

namespace {
enum QueryKind : int16_t {
    kNone = 0, kGetSources, kGetTargets, kGetConnections, kGetSelectRectItems, kIterate,
    kMatchItemId, kMatchItemData, kMatchConnectionId, kMatchConnectionData,
};
}  // namespace

// What Clear resets; the active kind and the count survive it.
void CNodars32Ctrl::ResetQuery() {
    mQueryItem = -1;
    mQueryData = 0;
    mQueryPhase = 0;
    mQueryList = nullptr;
    mQueryPos = 0;
    mQueryWalkItem = 0;
    mCurrent = nullptr;
}

void CNodars32Ctrl::EndQuery() {
    mQueryKind = kNone;
    mQueryPhase = 0;
    mQueryList = nullptr;
    mQueryPos = 0;
    mCurrent = nullptr;
}

// Whether connection c counts in the list being walked (incoming or outgoing).
bool CNodars32Ctrl::ConnectionMatchesQuery(const CGraphConnection* c, bool incomingList) const {
    const int32_t h = mQueryHandle;
    switch (mQueryKind) {
    case kGetSources: return h == 0 || c->ToHandle == h;
    case kGetTargets: return h == 0 || c->FromHandle == h;
    case kGetConnections:
        if (incomingList) return h == 0 || c->ToHandle == h;
        // A self-connection was reported from the incoming list already.
        if (h == 0) return !c->IsSelf();
        return c->FromHandle == h && !(c->IsSelf() && c->ToHandle == h);
    case kMatchConnectionId: return mQueryData == 0 || c->ConnectionId == mQueryData;
    case kMatchConnectionData: return c->Data == mQueryData;
    default: return false;
    }
}

int16_t CNodars32Ctrl::CountQuery(int16_t kind) const {
    int32_t count = 0;
    const int32_t h = mQueryHandle;
    switch (kind) {
    case kGetSources:
        for (const CGraphConnection* c : mItems[mQueryItem]->Incoming) count += (h == 0 || c->ToHandle == h);
        break;
    case kGetTargets:
        for (const CGraphConnection* c : mItems[mQueryItem]->Outgoing) count += (h == 0 || c->FromHandle == h);
        break;
    case kGetConnections:
        for (const CGraphConnection* c : mItems[mQueryItem]->Incoming)
            count += h == 0 || (c->ToHandle == h && !c->IsSelf());
        for (const CGraphConnection* c : mItems[mQueryItem]->Outgoing)
            count += h == 0 ? !c->IsSelf() : c->FromHandle == h;
        break;
    case kGetSelectRectItems:
        for (const auto& it : mItems) {
            const GRect& r = it->Rect;
            const GRect& s = mSelectRect;
            count += r.right >= s.left && r.left <= s.right && r.bottom >= s.top && r.top <= s.bottom;
        }
        break;
    case kMatchItemId:
        for (const auto& it : mItems) count += mQueryData == 0 || it->ItemId == mQueryData;
        break;
    case kMatchItemData:
        for (const auto& it : mItems) count += it->ItemData == mQueryData;
        break;
    case kMatchConnectionId:
    case kMatchConnectionData:
        for (const auto& it : mItems)
            for (const CGraphConnection* c : it->Outgoing)
                count += kind == kMatchConnectionId ? (mQueryData == 0 || c->ConnectionId == mQueryData)
                                                    : c->Data == mQueryData;
        break;
    default: break;
    }
    return int16_t(std::min(count, 32767));
}

void CNodars32Ctrl::RunQuery(int16_t kind) {
    if (kind == kIterate) {
        if (mQueryKind == kNone) {
            EndQuery();
            return;
        }
        QueryStep();
        return;
    }
    if (kind < 1 || kind > 9) {
        EndQuery();
        return;
    }
    const bool needsItem = kind == kGetSources || kind == kGetTargets || kind == kGetConnections;
    if (needsItem && !ValidItem(mQueryItem)) {
        EndQuery();
        return;
    }
    mQueryCount = CountQuery(kind);
    mQueryKind = kind;
    mQueryPhase = 0;
    mQueryPos = 0;
    mQueryList = nullptr;
    mCurrent = nullptr;
    switch (kind) {
    case kGetSources: mQueryList = &mItems[mQueryItem]->Incoming; break;
    case kGetTargets:
        mQueryList = &mItems[mQueryItem]->Outgoing;
        mQueryPhase = 2;
        break;
    case kGetConnections:
        mQueryList = &mItems[mQueryItem]->Incoming;
        mQueryPhase = 1;
        break;
    case kMatchConnectionId:
    case kMatchConnectionData:
        mQueryWalkItem = 0;
        mQueryList = mItems.empty() ? nullptr : &mItems[0]->Outgoing;
        break;
    default:
        mQueryWalkItem = 0;  // item queries: next item index to test
        break;
    }
    QueryStep();
}

void CNodars32Ctrl::QueryStep() {
    const int16_t kind = mQueryKind;
    auto finish = [&] {
        if (kind == kGetSelectRectItems || kind >= kMatchItemId) mQueryItem = -1;
        mQueryKind = kNone;
        mQueryPhase = 0;
        mQueryList = nullptr;
        mQueryPos = 0;
        mCurrent = nullptr;
    };
    switch (kind) {
    case kGetSources:
    case kGetTargets:
    case kGetConnections:
        while (mQueryList) {
            while (mQueryPos < mQueryList->size()) {
                CGraphConnection* c = (*mQueryList)[mQueryPos++];
                if (ConnectionMatchesQuery(c, mQueryPhase != 2)) {
                    mCurrent = c;
                    return;
                }
            }
            if (kind == kGetConnections && mQueryPhase == 1) {
                mQueryPhase = 2;
                mQueryList = &mItems[mQueryItem]->Outgoing;
                mQueryPos = 0;
                continue;
            }
            break;
        }
        finish();
        return;
    case kGetSelectRectItems:
    case kMatchItemId:
    case kMatchItemData:
        while (mQueryWalkItem < int32_t(mItems.size())) {
            const CGraphItem* it = mItems[mQueryWalkItem++].get();
            bool match = false;
            if (kind == kGetSelectRectItems) {
                const GRect& r = it->Rect;
                const GRect& s = mSelectRect;
                match = r.right >= s.left && r.left <= s.right && r.bottom >= s.top && r.top <= s.bottom;
            } else if (kind == kMatchItemId) {
                match = mQueryData == 0 || it->ItemId == mQueryData;
            } else {
                match = it->ItemData == mQueryData;
            }
            if (match) {
                mQueryItem = it->Index;
                return;
            }
        }
        finish();
        return;
    case kMatchConnectionId:
    case kMatchConnectionData:
        while (mQueryWalkItem < int32_t(mItems.size())) {
            const auto& list = mItems[mQueryWalkItem]->Outgoing;
            mQueryItem = mQueryWalkItem;
            while (mQueryPos < list.size()) {
                CGraphConnection* c = list[mQueryPos++];
                if (ConnectionMatchesQuery(c, false)) {
                    mCurrent = c;
                    return;
                }
            }
            ++mQueryWalkItem;
            mQueryPos = 0;
        }
        finish();
        return;
    default:
        finish();
        return;
    }
}

}  // namespace nodars
