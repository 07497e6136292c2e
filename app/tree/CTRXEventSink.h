// Receives the engine's Progress(Progress, Cancel) event through its
// connection point and hands it to the driver. The driver clears the handler
// before it lets go of the sink, so a late event reaches nobody.
#pragma once

#include <functional>

#include "com/dispatch.h"
#include "com/refcounted.h"

class CTRXEventSink final : public com::RefCounted<IDispatch> {
public:
    // percent; set *cancel to stop the build.
    using Handler = std::function<void(int16_t percent, bool* cancel)>;

    static com::ComPtr<CTRXEventSink> Create(Handler handler);
    void Detach() { mHandler = nullptr; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
    explicit CTRXEventSink(Handler handler) : mHandler(std::move(handler)) {}
    ~CTRXEventSink() override = default;

    Handler mHandler;
};
