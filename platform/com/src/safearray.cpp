#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "com/oleauto.h"

namespace {

constexpr UINT kMaxDims = 60;             // plenty; keeps descriptor sizes sane
constexpr uint64_t kMaxBytes = 1ull << 40;  // refuse sizes no allocation could meet

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: case VT_DATE: case VT_CY: case VT_I8: case VT_UI8: return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}

USHORT FeaturesOf(VARTYPE vt) {
    USHORT f = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) f |= FADF_BSTR;
    if (vt == VT_UNKNOWN) f |= FADF_UNKNOWN;
    if (vt == VT_DISPATCH) f |= FADF_DISPATCH;
    if (vt == VT_VARIANT) f |= FADF_VARIANT;
    return f;
}

// rgsabound is stored rightmost dimension first; nDim counts from the left, 1-based.
SAFEARRAYBOUND& Bound(SAFEARRAY* psa, UINT nDim) { return psa->rgsabound[psa->cDims - nDim]; }

bool TotalElements(const SAFEARRAY* psa, uint64_t* count) {
    uint64_t n = 1;
    for (UINT i = 0; i < psa->cDims; ++i) {
        if (__builtin_mul_overflow(n, uint64_t(psa->rgsabound[i].cElements), &n)) return false;
    }
    *count = n;
    return true;
}

SAFEARRAY* AllocDescriptor(UINT cDims) {
    size_t bytes = sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* psa = static_cast<SAFEARRAY*>(std::calloc(1, bytes));
    if (psa) psa->cDims = USHORT(cDims);
    return psa;
}

// Releases what the elements own (strings, variants, interfaces) and zeroes them.
void ClearElements(SAFEARRAY* psa, uint64_t count) {
    if (!psa->pvData) return;
    for (uint64_t i = 0; i < count; ++i) {
        char* p = static_cast<char*>(psa->pvData) + i * psa->cbElements;
        switch (psa->vt) {
        case VT_BSTR: {
            BSTR b;
            std::memcpy(&b, p, sizeof b);
            SysFreeString(b);
            break;
        }
        case VT_UNKNOWN: case VT_DISPATCH: {
            IUnknown* u;
            std::memcpy(&u, p, sizeof u);
            if (u) u->Release();
            break;
        }
        case VT_VARIANT: VariantClear(reinterpret_cast<VARIANT*>(p)); break;
        default: break;
        }
    }
    std::memset(psa->pvData, 0, size_t(count * psa->cbElements));
}

// Offset of the element at `indices` (leftmost index first, varying fastest).
HRESULT Offset(SAFEARRAY* psa, const LONG* indices, uint64_t* offset) {
    if (!indices) return E_INVALIDARG;
    uint64_t pos = 0, stride = 1;
    for (UINT d = 1; d <= psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = Bound(psa, d);
        int64_t rel = int64_t(indices[d - 1]) - int64_t(b.lLbound);
        if (rel < 0 || uint64_t(rel) >= b.cElements) return DISP_E_BADINDEX;
        pos += uint64_t(rel) * stride;
        stride *= b.cElements;
    }
    *offset = pos * psa->cbElements;
    return S_OK;
}

HRESULT CopyElement(VARTYPE vt, ULONG size, void* dest, const void* src) {
    switch (vt) {
    case VT_BSTR: {
        BSTR from, to = nullptr;
        std::memcpy(&from, src, sizeof from);
        if (from) {
            to = SysAllocStringLen(from, SysStringLen(from));
            if (!to) return E_OUTOFMEMORY;
        }
        std::memcpy(dest, &to, sizeof to);
        return S_OK;
    }
    case VT_UNKNOWN: case VT_DISPATCH: {
        IUnknown* u;
        std::memcpy(&u, src, sizeof u);
        if (u) u->AddRef();
        std::memcpy(dest, &u, sizeof u);
        return S_OK;
    }
    case VT_VARIANT: {
        auto* d = static_cast<VARIANT*>(dest);
        VariantInit(d);
        return VariantCopy(d, static_cast<const VARIANT*>(src));
    }
    default: std::memcpy(dest, src, size); return S_OK;
    }
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
    ULONG size = ElementSize(vt);
    if (!size || cDims == 0 || cDims > kMaxDims || !bounds) return nullptr;
    SAFEARRAY* psa = AllocDescriptor(cDims);
    if (!psa) return nullptr;
    psa->fFeatures = FeaturesOf(vt);
    psa->cbElements = size;
    psa->vt = vt;
    for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = bounds[i];
    uint64_t count, bytes;
    if (!TotalElements(psa, &count) || __builtin_mul_overflow(count, uint64_t(size), &bytes) || bytes > kMaxBytes) {
        std::free(psa);
        return nullptr;
    }
    // Zero-filled, and never null even for a zero-length array, so that
    // SafeArrayAccessData always hands out a usable pointer.
    psa->pvData = std::calloc(bytes ? size_t(bytes) : 1, 1);
    if (!psa->pvData) {
        std::free(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND b{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &b);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
    uint64_t count = 0;
    TotalElements(psa, &count);
    ClearElements(psa, count);
    std::free(psa->pvData);
    std::free(psa);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!psa) return S_OK;
    std::vector<SAFEARRAYBOUND> bounds(psa->cDims);
    for (UINT d = 1; d <= psa->cDims; ++d) bounds[d - 1] = Bound(psa, d);
    SAFEARRAY* copy = SafeArrayCreate(psa->vt, psa->cDims, bounds.data());
    if (!copy) return E_OUTOFMEMORY;
    uint64_t count = 0;
    TotalElements(psa, &count);
    for (uint64_t i = 0; i < count; ++i) {
        size_t off = size_t(i * psa->cbElements);
        HRESULT hr = CopyElement(psa->vt, psa->cbElements, static_cast<char*>(copy->pvData) + off,
                                 static_cast<char*>(psa->pvData) + off);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *out = copy;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }
UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) {
    if (!psa || !vt) return E_INVALIDARG;
    *vt = psa->vt;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* out) {
    if (!psa || !out) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *out = Bound(psa, nDim).lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* out) {
    if (!psa || !out) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = Bound(psa, nDim);
    // An empty dimension has upper bound lbound - 1, as in the language.
    *out = LONG(int64_t(b.lLbound) + int64_t(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks >= 65535) return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) {
    if (!psa || !data) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) return hr;
    *data = psa->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** out) {
    if (!psa || !out) return E_INVALIDARG;
    uint64_t off;
    HRESULT hr = Offset(psa, indices, &off);
    if (FAILED(hr)) return hr;
    *out = static_cast<char*>(psa->pvData) + off;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out) {
    if (!psa || !out) return E_INVALIDARG;
    uint64_t off;
    HRESULT hr = Offset(psa, indices, &off);
    if (FAILED(hr)) return hr;
    return CopyElement(psa->vt, psa->cbElements, out, static_cast<char*>(psa->pvData) + off);
}

// As in OLE Automation, a BSTR, IUnknown* or IDispatch* element is passed as the
// pointer itself; every other type (VARIANT included) by its address.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value) {
    if (!psa) return E_INVALIDARG;
    uint64_t off;
    HRESULT hr = Offset(psa, indices, &off);
    if (FAILED(hr)) return hr;
    char* slot = static_cast<char*>(psa->pvData) + off;
    switch (psa->vt) {
    case VT_BSTR: {
        auto from = static_cast<BSTR>(const_cast<void*>(value));
        BSTR to = nullptr;
        if (from) {
            to = SysAllocStringLen(from, SysStringLen(from));
            if (!to) return E_OUTOFMEMORY;
        }
        BSTR old;
        std::memcpy(&old, slot, sizeof old);
        SysFreeString(old);
        std::memcpy(slot, &to, sizeof to);
        return S_OK;
    }
    case VT_UNKNOWN: case VT_DISPATCH: {
        auto* u = static_cast<IUnknown*>(const_cast<void*>(value));
        if (u) u->AddRef();
        IUnknown* old;
        std::memcpy(&old, slot, sizeof old);
        std::memcpy(slot, &u, sizeof u);
        if (old) old->Release();
        return S_OK;
    }
    case VT_VARIANT: {
        if (!value) return E_INVALIDARG;
        return VariantCopy(reinterpret_cast<VARIANT*>(slot), static_cast<const VARIANT*>(value));
    }
    default:
        if (!value) return E_INVALIDARG;
        std::memcpy(slot, value, psa->cbElements);
        return S_OK;
    }
}
