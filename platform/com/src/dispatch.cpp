#include <algorithm>

#include "com/dispatch.h"

namespace com {

namespace {

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool SameName(LPCOLESTR a, const char* b) {
    size_t i = 0;
    for (; a[i] && b[i]; ++i)
        if (Fold(a[i]) != Fold(char16_t(static_cast<unsigned char>(b[i])))) return false;
    return a[i] == 0 && b[i] == 0;
}

}  // namespace

HRESULT LookupDispIds(const std::vector<DispMember>& members, LPOLESTR* names, UINT count, DISPID* ids) {
    if ((!names || !ids) && count) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        if (!names[i]) {
            hr = DISP_E_UNKNOWNNAME;
            continue;
        }
        auto it = std::find_if(members.begin(), members.end(),
                               [&](const DispMember& m) { return m.name && SameName(names[i], m.name); });
        if (it == members.end()) hr = DISP_E_UNKNOWNNAME;
        else ids[i] = it->id;
    }
    return hr;
}

namespace {

HRESULT Call(IDispatch* target, DISPID id, WORD flags, const std::vector<VARIANT>& natural, bool put,
             VARIANT* result, EXCEPINFO* excep) {
    if (!target) return E_POINTER;
    // The callee fills the result without freeing what it held: clear it here, so
    // that a caller may reuse one Variant for many calls.
    if (result) VariantClear(result);
    // Shallow copies: the callee borrows the arguments and never frees them.
    std::vector<VARIANT> reversed(natural.rbegin(), natural.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), put ? &named : nullptr, UINT(reversed.size()),
                      put ? 1u : 0u};
    ExcepInfo local;
    EXCEPINFO* info = excep ? excep : &local;
    UINT argErr = 0;
    HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, info, &argErr);
    if (hr == DISP_E_EXCEPTION && info->pfnDeferredFillIn) {
        info->pfnDeferredFillIn(info);
        info->pfnDeferredFillIn = nullptr;
    }
    return hr;
}

}  // namespace

HRESULT Invoke(IDispatch* target, DISPID id, WORD flags, const std::vector<VARIANT>& args, VARIANT* result,
               EXCEPINFO* excep) {
    return Call(target, id, flags, args, false, result, excep);
}

HRESULT PropertyGet(IDispatch* target, DISPID id, VARIANT* result, const std::vector<VARIANT>& indexArgs,
                    EXCEPINFO* excep) {
    return Call(target, id, DISPATCH_PROPERTYGET, indexArgs, false, result, excep);
}

HRESULT PropertyPut(IDispatch* target, DISPID id, const VARIANT& value, const std::vector<VARIANT>& indexArgs,
                    EXCEPINFO* excep) {
    std::vector<VARIANT> args = indexArgs;
    args.push_back(value);  // becomes rgvarg[0], the named DISPID_PROPERTYPUT argument
    return Call(target, id, DISPATCH_PROPERTYPUT, args, true, nullptr, excep);
}

ExcepInfo::ExcepInfo() : EXCEPINFO{} {}

ExcepInfo::~ExcepInfo() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
}

const VARIANT* ArgAt(const DISPPARAMS* params, UINT index) {
    if (!params || !params->rgvarg || index >= params->cArgs) return nullptr;
    const VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    return v;
}

}  // namespace com
