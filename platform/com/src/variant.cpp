#include <cstring>

#include "com/dispatch.h"

namespace {

bool ScalarType(VARTYPE t) {
    switch (t) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH:
    case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT:
        return true;
    default: return false;
    }
}

// Whether vt is a type a VARIANT may hold.
bool ValidVt(VARTYPE vt) {
    VARTYPE base = vt & VT_TYPEMASK;
    if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) return false;
    if (vt & VT_ARRAY) return ScalarType(base) || base == VT_VARIANT;
    if (vt & VT_BYREF) return ScalarType(base) || base == VT_VARIANT;
    return base == VT_EMPTY || base == VT_NULL || ScalarType(base);
}

size_t ByrefSize(VARTYPE base) {
    switch (base) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: case VT_DATE: case VT_CY: case VT_I8: case VT_UI8: return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
    default: return 0;
    }
}

}  // namespace

void VariantInit(VARIANT* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!ValidVt(v->vt)) return DISP_E_BADVARTYPE;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(v->parray);
            if (FAILED(hr)) return hr;
        } else if (v->vt == VT_BSTR) {
            SysFreeString(v->bstrVal);
        } else if (v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) {
            if (v->punkVal) v->punkVal->Release();
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!ValidVt(src->vt)) return DISP_E_BADVARTYPE;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt & VT_ARRAY) {
            copy.parray = nullptr;
            if (src->parray) {
                HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
                if (FAILED(hr)) return hr;
            }
        } else if (src->vt == VT_BSTR) {
            if (src->bstrVal) {
                copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
                if (!copy.bstrVal) return E_OUTOFMEMORY;
            }
        } else if (src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) {
            if (src->punkVal) src->punkVal->AddRef();
        }
    }
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
    if (!ValidVt(src->vt)) return DISP_E_BADVARTYPE;
    if (!src->byref) return E_INVALIDARG;
    VARTYPE base = src->vt & ~VT_BYREF;
    VARIANT view;  // borrows the referenced value; VariantCopy makes it owned
    VariantInit(&view);
    if (base == VT_VARIANT) {
        const VARIANT* inner = src->pvarVal;
        if (inner->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
        return VariantCopyInd(dest, inner);
    }
    view.vt = base;
    if (base & VT_ARRAY) view.parray = *src->pparray;
    else std::memcpy(&view.llVal, src->byref, ByrefSize(base));
    return VariantCopy(dest, &view);
}

namespace com {

Variant Variant::Dispatch(IDispatch* d) {
    Variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    if (d) d->AddRef();
    return v;
}

Variant Variant::Array(SAFEARRAY* psa, VARTYPE elementVt) {
    Variant v;
    v.vt = VT_ARRAY | (elementVt & VT_TYPEMASK);
    v.parray = psa;
    return v;
}

namespace {

Variant Changed(const VARIANT& v, VARTYPE vt, WORD flags = 0) {
    Variant out;
    HRESULT hr = VariantChangeType(&out, &v, flags, vt);
    if (FAILED(hr)) {
        const VARIANT* base = &v;
        if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) base = v.pvarVal;
        const char* text = hr == DISP_E_OVERFLOW ? "Overflow"
                           : base->vt == VT_NULL ? "Invalid use of Null"
                           : hr == DISP_E_TYPEMISMATCH ? "Type mismatch"
                                                       : "Conversion failed";
        throw Error(hr, text);
    }
    return out;
}

}  // namespace

SHORT Variant::ToI2() const { return Changed(*this, VT_I2).iVal; }
LONG Variant::ToI4() const { return Changed(*this, VT_I4).lVal; }
FLOAT Variant::ToR4() const { return Changed(*this, VT_R4).fltVal; }
DOUBLE Variant::ToR8() const { return Changed(*this, VT_R8).dblVal; }
bool Variant::ToBool() const { return Changed(*this, VT_BOOL).boolVal != VARIANT_FALSE; }
std::u16string Variant::ToU16() const {
    Variant s = Changed(*this, VT_BSTR, VARIANT_ALPHABOOL);
    return std::u16string(s.bstrVal ? s.bstrVal : u"", SysStringLen(s.bstrVal));
}
std::string Variant::ToUtf8() const { return com::ToUtf8(ToU16()); }

}  // namespace com
