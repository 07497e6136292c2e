#include "CTRXEventSink.h"

#include "trx/ITRXTree.h"

namespace {
constexpr DISPID kDispProgress = 1;
}  // namespace

com::ComPtr<CTRXEventSink> CTRXEventSink::Create(Handler handler) {
    com::ComPtr<CTRXEventSink> sink;
    sink.Attach(new CTRXEventSink(std::move(handler)));  // born with the one reference
    return sink;
}

HRESULT CTRXEventSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_ITRXEvents) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT CTRXEventSink::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo) *pctinfo = 0;
    return S_OK;
}

HRESULT CTRXEventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT CTRXEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT CTRXEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (id != kDispProgress) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs < 2) return DISP_E_BADPARAMCOUNT;
    // Last argument first: rgvarg[0] is Cancel (by reference), rgvarg[1] Progress.
    VARIANT& cancelArg = params->rgvarg[0];
    const VARIANT* progressArg = com::ArgAt(params, 0);
    VARIANT p;
    VariantInit(&p);
    if (!progressArg || FAILED(VariantChangeType(&p, progressArg, 0, VT_I2))) return DISP_E_TYPEMISMATCH;
    bool cancel = false;
    if (mHandler) mHandler(p.iVal, &cancel);
    if (cancel) {
        if (cancelArg.vt == (VT_I2 | VT_BYREF) && cancelArg.piVal)
            *cancelArg.piVal = -1;
        else if (cancelArg.vt == (VT_BOOL | VT_BYREF) && cancelArg.pboolVal)
            *cancelArg.pboolVal = VARIANT_TRUE;
        else if (cancelArg.vt == (VT_VARIANT | VT_BYREF) && cancelArg.pvarVal) {
            VARIANT* inner = cancelArg.pvarVal;
            if (inner->vt == (VT_I2 | VT_BYREF) && inner->piVal)
                *inner->piVal = -1;
            else {
                VariantClear(inner);
                inner->vt = VT_I2;
                inner->iVal = -1;
            }
        }
    }
    return S_OK;
}
