// Receives the engine's Progress(Progress, Cancel) event through its
// connection point and hands it to the driver. The driver clears the handler
// before it lets go of the sink, so a late event reaches nobody.
#pragma once

#include <atomic>
#include <functional>

#include "com/dispatch.h"

class CTRXEventSink final : public IDispatch {
public:
    // percent; set *cancel to stop the build.
    using Handler = std::function<void(int16_t percent, bool* cancel)>;

    static com::ComPtr<CTRXEventSink> Create(Handler handler);
    void Detach() { mHandler = nullptr; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
    explicit CTRXEventSink(Handler handler) : mHandler(std::move(handler)) {}
    ~CTRXEventSink() = default;

    std::atomic<ULONG> mRefs{0};
    Handler mHandler;
};
