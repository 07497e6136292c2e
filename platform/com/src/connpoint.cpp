#include <algorithm>
#include <new>

#include "com/dispatch.h"
#include "com/guard.h"
#include "com/refcounted.h"

namespace {

constexpr const char* kSource = "ConnectionPoint";

IUnknown* UnknownOf(const CONNECTDATA& c) { return c.pUnk; }
IUnknown* UnknownOf(IConnectionPoint* p) { return p; }

// Enumerators hold their own references to what they hand out.
template <class Interface, class Item, const IID& Iid>
class Enumerator final : public com::RefCounted<Interface> {
public:
    explicit Enumerator(std::vector<Item> items) : items_(std::move(items)) {
        for (auto& item : items_)
            if (IUnknown* u = UnknownOf(item)) u->AddRef();
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == Iid) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        for (; n < count && pos_ < items_.size(); ++n, ++pos_) {
            out[n] = items_[pos_];
            if (IUnknown* u = UnknownOf(out[n])) u->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        size_t left = items_.size() - pos_;
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(Interface** out) override {
        if (!out) return E_POINTER;
        return com::Guard(kSource, [&] {
            auto* e = new Enumerator(items_);
            e->pos_ = pos_;
            *out = e;
            return S_OK;
        });
    }

private:
    ~Enumerator() {
        for (auto& item : items_)
            if (IUnknown* u = UnknownOf(item)) u->Release();
    }
    std::vector<Item> items_;
    size_t pos_ = 0;
};

using ConnectionEnum = Enumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;
using PointEnum = Enumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;

}  // namespace

namespace com {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, const IID& eventIid)
    : container_(container), iid_(eventIid) {}

ConnectionPoint::~ConnectionPoint() = default;

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG ConnectionPoint::AddRef() { return container_->AddRef(); }
ULONG ConnectionPoint::Release() { return container_->Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    *ppCPC = container_;
    container_->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    ComPtr<IDispatch> sink;
    // Event interfaces here are dispinterfaces: what the sink returns for the
    // event IID is an IDispatch.
    if (FAILED(pUnkSink->QueryInterface(iid_, sink.PutVoid())) || !sink) {
        if (FAILED(pUnkSink->QueryInterface(IID_IDispatch, sink.PutVoid())) || !sink)
            return CONNECT_E_CANNOTCONNECT;
    }
    if (nextCookie_ == 0) return CONNECT_E_ADVISELIMIT;  // 2^32 - 1 connections made
    return Guard(kSource, [&] {
        sinks_.push_back(Sink{nextCookie_, std::move(sink)});
        *pdwCookie = nextCookie_++;
        return S_OK;
    });
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == dwCookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    // Take the sink out before releasing it: its destructor may call back in.
    ComPtr<IDispatch> gone = std::move(it->dispatch);
    sinks_.erase(it);
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (!ppEnum) return E_POINTER;
    return Guard(kSource, [&] {
        std::vector<CONNECTDATA> items;
        for (const auto& s : sinks_) items.push_back(CONNECTDATA{s.dispatch.Get(), s.cookie});
        *ppEnum = new ConnectionEnum(std::move(items));
        return S_OK;
    });
}

void ConnectionPoint::Fire(DISPID id, VARIANTARG* argsReversed, UINT count) const {
    // The container (and with it this point) stays alive until the loop ends even
    // when a sink drops the last outside reference; a sink unadvised by an earlier
    // handler is not called any more.
    ComPtr<IConnectionPointContainer> keep(container_);
    std::vector<Sink> snapshot = sinks_;
    for (const Sink& s : snapshot) {
        bool connected = std::any_of(sinks_.begin(), sinks_.end(), [&](const Sink& c) { return c.cookie == s.cookie; });
        if (!connected) continue;
        DISPPARAMS params{argsReversed, nullptr, count, 0};
        s.dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
}

void ConnectionPointList::Add(ConnectionPoint* point) {
    if (point) points_.push_back(point);
}

HRESULT ConnectionPointList::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) const {
    if (!ppEnum) return E_POINTER;
    return Guard(kSource, [&] {
        *ppEnum = new PointEnum(std::vector<IConnectionPoint*>(points_.begin(), points_.end()));
        return S_OK;
    });
}

HRESULT ConnectionPointList::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) const {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    for (ConnectionPoint* p : points_) {
        if (p->EventIid() == riid) {
            p->AddRef();
            *ppCP = p;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT Advise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD* cookie) {
    if (!source || !sink || !cookie) return E_POINTER;
    *cookie = 0;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(iid, point.Put());
    if (FAILED(hr)) return hr;
    return point->Advise(sink, cookie);
}

HRESULT Unadvise(IUnknown* source, REFIID iid, DWORD cookie) {
    if (!source) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(iid, point.Put());
    if (FAILED(hr)) return hr;
    return point->Unadvise(cookie);
}

}  // namespace com
