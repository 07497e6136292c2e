#include "TRXTree.h"

#include <vector>

namespace trx {
namespace {

const std::vector<com::DispMember>& Members() {
    static const std::vector<com::DispMember> members = {
        {DISPID_TRX_Initialize, "Initialize", "method Initialize"},
        {DISPID_TRX_AddData, "AddData", "method AddData"},
        {DISPID_TRX_BuildTree, "BuildTree", "method BuildTree"},
        {DISPID_TRX_ClearTree, "ClearTree", "method ClearTree"},
        {DISPID_TRX_ClearData, "ClearData", "method ClearData"},
        {DISPID_TRX_FieldType, "FieldType", "property FieldType"},
        {DISPID_TRX_PruneRate, "PruneRate", "property PruneRate"},
        {DISPID_TRX_FieldCount, "FieldCount", "property FieldCount"},
        {DISPID_TRX_RowCount, "RowCount", "property RowCount"},
        {DISPID_TRX_MaxClass, "MaxClass", "property MaxClass"},
        {DISPID_TRX_MinItems, "MinItems", "property MinItems"},
    };
    return members;
}

// Argument i in natural order (0 = first), following a by-reference VARIANT.
VARIANT* RawArg(DISPPARAMS* p, UINT i) {
    if (!p || i >= p->cArgs) return nullptr;
    VARIANT* v = &p->rgvarg[p->cArgs - 1 - i];
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    return v;
}

HRESULT ArgCount(const DISPPARAMS* p, UINT n) { return p->cArgs == n ? S_OK : DISP_E_BADPARAMCOUNT; }

HRESULT Convert(const VARIANT* v, VARTYPE vt, com::Variant* out) {
    if (!v) return DISP_E_PARAMNOTOPTIONAL;
    HRESULT hr = VariantCopyInd(out, v);
    if (FAILED(hr)) return hr;
    return VariantChangeType(out, out, 0, vt);
}

HRESULT ArgI2(DISPPARAMS* p, UINT i, SHORT* out) {
    com::Variant v;
    HRESULT hr = Convert(RawArg(p, i), VT_I2, &v);
    if (SUCCEEDED(hr)) *out = v.iVal;
    return hr;
}
HRESULT ArgI4(DISPPARAMS* p, UINT i, LONG* out) {
    com::Variant v;
    HRESULT hr = Convert(RawArg(p, i), VT_I4, &v);
    if (SUCCEEDED(hr)) *out = v.lVal;
    return hr;
}
HRESULT ArgR4(DISPPARAMS* p, UINT i, FLOAT* out) {
    com::Variant v;
    HRESULT hr = Convert(RawArg(p, i), VT_R4, &v);
    if (SUCCEEDED(hr)) *out = v.fltVal;
    return hr;
}

// An out array argument must be passed by reference.
bool IsArrayOut(const VARIANT* v) {
    if (!v) return false;
    if (!(v->vt & VT_BYREF)) return v->vt == VT_EMPTY || (v->vt & VT_ARRAY);
    return (v->vt & VT_ARRAY) != 0;
}

void StoreArray(VARIANT* v, SAFEARRAY* a, VARTYPE elem) {
    if (v->vt & VT_BYREF) {
        if (*v->pparray) SafeArrayDestroy(*v->pparray);
        *v->pparray = a;
        return;
    }
    VariantClear(v);
    v->vt = VARTYPE(VT_ARRAY | elem);
    v->parray = a;
}

}  // namespace

com::ModuleCount& ModuleLocks() {
    static com::ModuleCount count;
    return count;
}

TRXTree::TRXTree() : events_(static_cast<IConnectionPointContainer*>(this), DIID_ITRXEvents) {
    points_.Add(&events_);
    ModuleLocks().Lock();
}

TRXTree::~TRXTree() { ModuleLocks().Unlock(); }

HRESULT TRXTree::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITRXTree)
        *ppv = static_cast<ITRXTree*>(this);
    else if (riid == IID_ISupportErrorInfo)
        *ppv = static_cast<ISupportErrorInfo*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT TRXTree::Report(const Status& s) {
    lastErrorId_ = s.errorId;
    if (s.errorId) {
        return com::Guard(kTRXTreeProgId, [&] {
            com::SetErrorInfoText(GUID_NULL, kTRXTreeProgId, ErrorText(s.errorId));
            return E_FAIL;
        });
    }
    if (FAILED(s.hr)) SetErrorInfo(0, nullptr);
    return s.hr;
}

void TRXTree::Progress(int16_t percent) {
    VARIANTARG args[2];
    args[0].vt = VT_BYREF | VT_I2;
    args[0].piVal = engine_.CancelFlag();
    args[1].vt = VT_I2;
    args[1].iVal = percent;
    events_.Fire(DISPID_TRXEvents_Progress, args, 2);
}

// ---------------------------------------------------------------- ITRXTree

// The members that allocate (the data, the tree, an error's text) are guarded: a
// client gets E_OUTOFMEMORY, never an exception.
HRESULT TRXTree::Initialize(SHORT FieldCount) {
    return com::Guard(kTRXTreeProgId, [&] { return Report(engine_.Initialize(FieldCount)); });
}

HRESULT TRXTree::AddData(SAFEARRAY** InputArray) {
    return com::Guard(kTRXTreeProgId, [&] { return Report(engine_.AddData(InputArray ? *InputArray : nullptr)); });
}

HRESULT TRXTree::BuildTree(SAFEARRAY** NodeTree, SAFEARRAY** ChildIndex) {
    // Keep the object alive while sinks run.
    com::ComPtr<ITRXTree> self(this);
    return com::Guard(kTRXTreeProgId, [&] { return Report(engine_.BuildTree(NodeTree, ChildIndex, this)); });
}

HRESULT TRXTree::ClearTree() { return S_OK; }
HRESULT TRXTree::ClearData() { return S_OK; }

HRESULT TRXTree::get_FieldType(SHORT FieldNumber, SHORT* pVal) {
    if (!pVal) return E_POINTER;
    return Report(engine_.GetFieldType(FieldNumber, pVal));
}
HRESULT TRXTree::put_FieldType(SHORT FieldNumber, SHORT newVal) {
    return Report(engine_.PutFieldType(FieldNumber, newVal));
}
HRESULT TRXTree::get_PruneRate(FLOAT* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = engine_.PruneRate();
    return S_OK;
}
HRESULT TRXTree::put_PruneRate(FLOAT newVal) { return Report(engine_.PutPruneRate(newVal)); }
HRESULT TRXTree::get_FieldCount(SHORT* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = engine_.FieldCount();
    return S_OK;
}
HRESULT TRXTree::get_RowCount(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = engine_.RowCount();
    return S_OK;
}
HRESULT TRXTree::get_MaxClass(SHORT FieldNumber, SHORT* pVal) {
    if (!pVal) return E_POINTER;
    return Report(engine_.GetMaxClass(FieldNumber, pVal));
}
HRESULT TRXTree::put_MaxClass(SHORT FieldNumber, SHORT newVal) {
    return Report(engine_.PutMaxClass(FieldNumber, newVal));
}
HRESULT TRXTree::get_MinItems(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = engine_.MinItems();
    return S_OK;
}
HRESULT TRXTree::put_MinItems(LONG newVal) { return Report(engine_.PutMinItems(newVal)); }

// ---------------------------------------------------------------- error info, events

HRESULT TRXTree::InterfaceSupportsErrorInfo(REFIID riid) { return riid == IID_ITRXTree ? S_OK : S_FALSE; }

HRESULT TRXTree::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return points_.EnumConnectionPoints(ppEnum);
}

HRESULT TRXTree::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return points_.FindConnectionPoint(riid, ppCP);
}

// ---------------------------------------------------------------- IDispatch

HRESULT TRXTree::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT TRXTree::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT TRXTree::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    return com::LookupDispIds(Members(), rgszNames, cNames, rgDispId);
}

HRESULT TRXTree::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* result,
                        EXCEPINFO* excep, UINT*) {
    return com::GuardInvoke(kTRXTreeProgId, excep, [&] { return Dispatch(id, flags, p, result, excep); });
}

HRESULT TRXTree::Dispatch(DISPID id, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO* excep) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!p) p = &none;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    const bool get = !put && (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0;
    HRESULT hr = S_OK;
    com::Variant out;
    HRESULT call;
    switch (id) {
    case DISPID_TRX_Initialize:
    case DISPID_TRX_AddData:
    case DISPID_TRX_BuildTree:
    case DISPID_TRX_ClearTree:
    case DISPID_TRX_ClearData: call = CallMethod(id, flags, p, hr); break;
    default: call = CallProperty(id, put, get, p, hr, out); break;
    }
    if (FAILED(call)) return call;
    if (FAILED(hr)) return Failure(hr, excep);
    if (result && !put) {
        VariantInit(result);
        *static_cast<VARIANT*>(result) = out;
        VariantInit(&out);
    }
    return S_OK;
}

// Dispatch's call of method `id`: S_OK once it is called, its own result in hr; a
// fault of the call itself (not called as a method, wrong arguments) is returned.
HRESULT TRXTree::CallMethod(DISPID id, WORD flags, DISPPARAMS* p, HRESULT& hr) {
    const bool method = (flags & DISPATCH_METHOD) != 0;
    HRESULT fault = S_OK;
    switch (id) {
    case DISPID_TRX_Initialize: {
        if (!method) return DISP_E_MEMBERNOTFOUND;
        SHORT n = 0;
        if (FAILED(fault = ArgCount(p, 1)) || FAILED(fault = ArgI2(p, 0, &n))) return fault;
        hr = Initialize(n);
        return S_OK;
    }
    case DISPID_TRX_AddData: {
        if (!method) return DISP_E_MEMBERNOTFOUND;
        if (FAILED(fault = ArgCount(p, 1))) return fault;
        VARIANT* v = RawArg(p, 0);
        if (!v || !(v->vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
        SAFEARRAY* a = (v->vt & VT_BYREF) ? (v->pparray ? *v->pparray : nullptr) : v->parray;
        hr = AddData(&a);
        return S_OK;
    }
    case DISPID_TRX_BuildTree: {
        if (!method) return DISP_E_MEMBERNOTFOUND;
        if (FAILED(fault = ArgCount(p, 2))) return fault;
        VARIANT* nodeArg = RawArg(p, 0);
        VARIANT* childArg = RawArg(p, 1);
        if (!IsArrayOut(nodeArg) || !IsArrayOut(childArg)) return DISP_E_TYPEMISMATCH;
        SAFEARRAY* nt = nullptr;
        SAFEARRAY* ci = nullptr;
        hr = BuildTree(&nt, &ci);
        if (SUCCEEDED(hr) && nt && ci) {
            StoreArray(nodeArg, nt, VT_VARIANT);
            StoreArray(childArg, ci, VT_I2);
        }
        return S_OK;
    }
    default:  // ClearTree, ClearData
        if (FAILED(fault = ArgCount(p, 0))) return fault;
        hr = id == DISPID_TRX_ClearTree ? ClearTree() : ClearData();
        return S_OK;
    }
}

// Dispatch's get or put of property `id`, as CallMethod; what a get reads goes to out.
HRESULT TRXTree::CallProperty(DISPID id, bool put, bool get, DISPPARAMS* p, HRESULT& hr, com::Variant& out) {
    if (!put && !get) return DISP_E_MEMBERNOTFOUND;
    HRESULT fault = S_OK;
    switch (id) {
    case DISPID_TRX_FieldType:
    case DISPID_TRX_MaxClass: {
        SHORT field = 0, value = 0;
        if (put) {
            if (FAILED(fault = ArgCount(p, 2)) || FAILED(fault = ArgI2(p, 0, &field)) ||
                FAILED(fault = ArgI2(p, 1, &value)))
                return fault;
            hr = id == DISPID_TRX_FieldType ? put_FieldType(field, value) : put_MaxClass(field, value);
        } else {
            if (FAILED(fault = ArgCount(p, 1)) || FAILED(fault = ArgI2(p, 0, &field))) return fault;
            hr = id == DISPID_TRX_FieldType ? get_FieldType(field, &value) : get_MaxClass(field, &value);
            if (SUCCEEDED(hr)) out = com::Variant::I2(value);
        }
        return S_OK;
    }
    case DISPID_TRX_PruneRate: {
        FLOAT rate = 0;
        if (FAILED(fault = ArgCount(p, put ? 1 : 0)) || (put && FAILED(fault = ArgR4(p, 0, &rate)))) return fault;
        if (put) {
            hr = put_PruneRate(rate);
        } else {
            hr = get_PruneRate(&rate);
            out = com::Variant::R4(rate);
        }
        return S_OK;
    }
    case DISPID_TRX_MinItems: {
        LONG value = 0;
        if (FAILED(fault = ArgCount(p, put ? 1 : 0)) || (put && FAILED(fault = ArgI4(p, 0, &value)))) return fault;
        if (put) {
            hr = put_MinItems(value);
        } else {
            hr = get_MinItems(&value);
            out = com::Variant::I4(value);
        }
        return S_OK;
    }
    case DISPID_TRX_FieldCount:
    case DISPID_TRX_RowCount: {
        if (!get) return DISP_E_MEMBERNOTFOUND;
        if (FAILED(fault = ArgCount(p, 0))) return fault;
        if (id == DISPID_TRX_FieldCount) {
            SHORT n = 0;
            hr = get_FieldCount(&n);
            out = com::Variant::I2(n);
        } else {
            LONG n = 0;
            hr = get_RowCount(&n);
            out = com::Variant::I4(n);
        }
        return S_OK;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// A member's failure as Invoke returns it: its error information travels in the
// exception record.
HRESULT TRXTree::Failure(HRESULT hr, EXCEPINFO* excep) {
    if (hr != E_FAIL || !excep) return hr;
    com::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return hr;
    *excep = EXCEPINFO{};
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    // The report's own code: severity error, interface facility (4), the number.
    excep->scode = lastErrorId_ ? MAKE_HRESULT(1, 4, uint32_t(lastErrorId_)) : hr;
    SetErrorInfo(0, info.Get());
    return DISP_E_EXCEPTION;
}

}  // namespace trx
