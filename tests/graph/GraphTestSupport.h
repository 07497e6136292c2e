// Creating, embedding and driving the graph control by member id, and hearing its
// events, the way a host does.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "com/com.h"
#include "nodars/Nodars32.h"

namespace graphtest {

using nodars::DispId;

// Records every event a control raises.
class EventSink final : public com::RefCounted<IDispatch> {
public:
    struct Event {
        DISPID id;
        std::vector<com::Variant> args;  // natural order, by-ref dereferenced
    };

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

    std::vector<Event> events;
};

// One control on a parent widget of the given size, shown.
class Control {
public:
    explicit Control(int width = 500, int height = 400, bool show = true, const std::string& id = nodars::kProgId);
    ~Control();

    IDispatch* Disp() const { return mDisp.Get(); }
    nodars::IControlHosting* Host() const { return mHost.Get(); }
    nodars::IGraphGeometry* Geometry() const { return mGeometry.Get(); }
    QWidget* Parent() const { return mParent.get(); }
    EventSink* Sink() const { return mSink; }

    // Member access by id; failures fail the test.
    com::Variant Get(DISPID id, std::vector<com::Variant> index = {});
    int32_t GetInt(DISPID id, std::vector<com::Variant> index = {});
    int32_t Item(DISPID id, int ix) { return GetInt(id, {com::Variant::I2(int16_t(ix))}); }
    std::string GetText(DISPID id, std::vector<com::Variant> index = {});
    void Put(DISPID id, const com::Variant& value, std::vector<com::Variant> index = {});
    void PutInt(DISPID id, int32_t value) { Put(id, com::Variant::I2(int16_t(value))); }
    void PutItem(DISPID id, int ix, int32_t value) { Put(id, com::Variant::I4(value), {com::Variant::I2(int16_t(ix))}); }
    com::Variant Call(DISPID id, std::vector<com::Variant> args = {});
    int AddItem(const std::string& name) { return Call(nodars::dispidAddItem, {com::Variant::Str(name)}).ToI2(); }
    void Connect(int from, int to) { Put(nodars::dispidConnectTo, com::Variant::I2(int16_t(to)), {com::Variant::I2(int16_t(from))}); }

    // Raw calls that return the failure.
    HRESULT TryGet(DISPID id, std::vector<com::Variant> index, VARIANT* result, EXCEPINFO* excep = nullptr);
    HRESULT TryPut(DISPID id, const com::Variant& value, std::vector<com::Variant> index = {}, EXCEPINFO* excep = nullptr);

    // Item rectangle as left, top, right, bottom.
    std::vector<int32_t> ItemRect(int ix);
    std::vector<int32_t> Route(int from, int to);
    std::vector<int32_t> Bounds(int which);

private:
    std::unique_ptr<QWidget> mParent;
    com::ComPtr<IDispatch> mDisp;
    com::ComPtr<nodars::IControlHosting> mHost;
    com::ComPtr<nodars::IGraphGeometry> mGeometry;
    EventSink* mSink = nullptr;
    DWORD mCookie = 0;
};

// A root over two children ("root", "left", "right"), arranged now in `mode` and `dir`.
void RootWithTwoChildren(Control& c, int mode, int dir);
// n items joined one after the other, arranged now as a top-down flow chart at 100 %.
void FlowChartChain(Control& c, int n);

}  // namespace graphtest
