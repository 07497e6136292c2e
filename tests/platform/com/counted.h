// A test object that counts its references and says when it is gone.
#pragma once

#include "com/com.h"

namespace testutil {

class Counted final : public IDispatch {
public:
    explicit Counted(bool* destroyed = nullptr) : destroyed_(destroyed) {}
    ULONG refs = 1;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        ULONG n = --refs;
        if (!n) {
            if (destroyed_) *destroyed_ = true;
            delete this;
        }
        return n;
    }
    HRESULT GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    // The default member answers 41, so that objects convert to numbers.
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
        if (result) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = 41;
        }
        return S_OK;
    }

private:
    ~Counted() = default;
    bool* destroyed_;
};

}  // namespace testutil
