#include "GraphTestSupport.h"

#include <QApplication>
#include <cstdio>

namespace graphtest {

namespace {

// One application object for the whole test program, made by the first control
// (not at start-up: listing the tests must work without a display).
struct AppHolder {
    int argc = 1;
    char name[16] = "graph_test";
    char* argv[2] = {name, nullptr};
    QApplication app{argc, argv};
};
// Never destroyed: at exit the runtime may already have unloaded the control's
// module, whose classes the application would still touch.
AppHolder& App() {
    static AppHolder* holder = new AppHolder;
    return *holder;
}

std::vector<VARIANT> Raw(const std::vector<com::Variant>& v) {
    return std::vector<VARIANT>(v.begin(), v.end());
}

}  // namespace

HRESULT EventSink::QueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == nodars::DIID__DNodars32Events) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    Event e{id, {}};
    for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
        com::Variant v;
        VariantCopyInd(&v, &params->rgvarg[i]);
        e.args.push_back(v);
    }
    events.push_back(std::move(e));
    return S_OK;
}

Control::Control(int width, int height, bool show, const std::string& id) {
    App();
    mParent = std::make_unique<QWidget>();
    mParent->resize(width, height);
    HRESULT hr = com::CreateInstance(id, IID_IDispatch, mDisp.PutVoid());
    if (FAILED(hr)) {
        char text[64];
        snprintf(text, sizeof text, "cannot create the graph control: 0x%08X", unsigned(hr));
        throw com::Error(hr, text);
    }
    if (FAILED(mDisp.As(nodars::IID_IControlHosting, &mHost)) || FAILED(mDisp.As(nodars::IID_IGraphGeometry, &mGeometry)))
        throw com::Error(E_NOINTERFACE, "hosting interfaces missing");
    mSink = new EventSink();
    if (FAILED(com::Advise(mDisp.Get(), nodars::DIID__DNodars32Events, mSink, &mCookie)))
        throw com::Error(E_FAIL, "cannot connect to the events");
    mHost->SetParentWidget(mParent.get());
    mHost->SetBounds(0, 0, width, height);
    if (show) mParent->show();
}

Control::~Control() {
    if (mCookie) com::Unadvise(mDisp.Get(), nodars::DIID__DNodars32Events, mCookie);
    if (mSink) mSink->Release();
    mGeometry.Reset();
    mHost.Reset();
    mDisp.Reset();
}

HRESULT Control::TryGet(DISPID id, std::vector<com::Variant> index, VARIANT* result, EXCEPINFO* excep) {
    return com::PropertyGet(mDisp.Get(), id, result, Raw(index), excep);
}

HRESULT Control::TryPut(DISPID id, const com::Variant& value, std::vector<com::Variant> index, EXCEPINFO* excep) {
    return com::PropertyPut(mDisp.Get(), id, value, Raw(index), excep);
}

com::Variant Control::Get(DISPID id, std::vector<com::Variant> index) {
    com::Variant v;
    HRESULT hr = TryGet(id, std::move(index), &v);
    EXPECT_EQ(hr, S_OK) << "get of member " << id;
    return v;
}

int32_t Control::GetInt(DISPID id, std::vector<com::Variant> index) {
    com::Variant v = Get(id, std::move(index));
    com::Variant c;
    EXPECT_EQ(VariantChangeType(&c, &v, 0, VT_I4), S_OK);
    return c.lVal;
}

std::string Control::GetText(DISPID id, std::vector<com::Variant> index) { return Get(id, std::move(index)).ToUtf8(); }

void Control::Put(DISPID id, const com::Variant& value, std::vector<com::Variant> index) {
    HRESULT hr = TryPut(id, value, std::move(index));
    EXPECT_EQ(hr, S_OK) << "put of member " << id;
}

com::Variant Control::Call(DISPID id, std::vector<com::Variant> args) {
    com::Variant v;
    HRESULT hr = com::Invoke(mDisp.Get(), id, DISPATCH_METHOD, Raw(args), &v);
    EXPECT_EQ(hr, S_OK) << "call of member " << id;
    return v;
}

std::vector<int32_t> Control::ItemRect(int ix) {
    int32_t left = Item(nodars::dispidItemXPos, ix), top = Item(nodars::dispidItemYPos, ix);
    return {left, top, left + Item(nodars::dispidItemWidth, ix), top + Item(nodars::dispidItemHeight, ix)};
}

std::vector<int32_t> Control::Route(int from, int to) {
    int count = 0;
    int32_t xy[12] = {};
    mGeometry->GetRoute(from, to, &count, xy);
    return std::vector<int32_t>(xy, xy + 2 * count);
}

std::vector<int32_t> Control::Bounds(int which) {
    int32_t r[4] = {};
    mGeometry->GetBounds(which, r);
    return {r[0], r[1], r[2], r[3]};
}

void RootWithTwoChildren(Control& c, int mode, int dir) {
    c.PutInt(nodars::dispidArrangeMode, mode);
    c.PutInt(nodars::dispidDrawDir, dir);
    c.AddItem("root");
    c.AddItem("left");
    c.AddItem("right");
    c.Connect(0, 1);
    c.Connect(0, 2);
    c.PutInt(nodars::dispidAutoArrange, 2);
}

void FlowChartChain(Control& c, int n) {
    for (int i = 0; i < n; ++i) c.AddItem("n" + std::to_string(i));
    for (int i = 1; i < n; ++i) c.Connect(i - 1, i);
    c.PutInt(nodars::dispidArrangeMode, 2);
    c.PutInt(nodars::dispidDrawScale, 100);
    c.PutInt(nodars::dispidAutoArrange, 2);
}

}  // namespace graphtest
