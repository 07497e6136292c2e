// Client-side helpers for the engine tests: creation through the runtime, rows in,
// trees out, and an event sink that records Progress.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "com/com.h"
#include "trx/ITRXTree.h"

namespace trxtest {

constexpr float M = kTRXMissingValue;

inline com::ComPtr<ITRXTree> Create() {
    com::ComPtr<ITRXTree> trx;
    HRESULT hr = CoCreateInstance(CLSID_TRXTree, nullptr, CLSCTX_INPROC_SERVER, IID_ITRXTree, trx.PutVoid());
    EXPECT_EQ(hr, S_OK);
    return trx;
}

// A 2-dimensional array of 4-byte floats, field index first.
inline SAFEARRAY* MakeRows(const std::vector<std::vector<float>>& rows, VARTYPE vt = VT_R4) {
    ULONG fields = rows.empty() ? 0 : ULONG(rows[0].size());
    SAFEARRAYBOUND b[2] = {{fields, 0}, {ULONG(rows.size()), 0}};
    SAFEARRAY* a = SafeArrayCreate(vt, 2, b);
    void* data = nullptr;
    SafeArrayAccessData(a, &data);
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t j = 0; j < fields; ++j) {
            if (vt == VT_R4) static_cast<float*>(data)[r * fields + j] = rows[r][j];
            else static_cast<double*>(data)[r * fields + j] = rows[r][j];
        }
    SafeArrayUnaccessData(a);
    return a;
}

inline HRESULT Add(ITRXTree* trx, const std::vector<std::vector<float>>& rows) {
    SAFEARRAY* a = MakeRows(rows);
    HRESULT hr = trx->AddData(&a);
    SafeArrayDestroy(a);
    return hr;
}

// The description of the thread's error information, "" when there is none.
inline std::string ErrorText(ITRXTree* trx, std::string* source = nullptr) {
    std::string text;
    if (!com::TakeErrorInfo(trx, IID_ITRXTree, &text, source)) return "";
    return text;
}

struct Node {
    int type, forks, field;
    float cut;
    int disclass, cls;
    float items, errors;
    std::vector<int> children;  // non-zero entries of slots 1..forks
};

struct Tree {
    std::vector<Node> nodes;
    long width = 0;  // first dimension of ChildIndex
    bool ok = false;
};

inline Tree Decode(SAFEARRAY* nt, SAFEARRAY* ci) {
    Tree t;
    LONG lo = 0, hi = -1, wlo = 0, whi = -1;
    EXPECT_EQ(SafeArrayGetDim(nt), 2u);
    EXPECT_EQ(SafeArrayGetDim(ci), 2u);
    SafeArrayGetLBound(nt, 1, &lo);
    SafeArrayGetUBound(nt, 1, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 7);
    SafeArrayGetUBound(nt, 2, &hi);
    SafeArrayGetLBound(ci, 1, &wlo);
    SafeArrayGetUBound(ci, 1, &whi);
    t.width = whi - wlo + 1;
    LONG n = hi + 1;
    LONG cn = -1;
    SafeArrayGetUBound(ci, 2, &cn);
    EXPECT_EQ(cn + 1, n);
    VARIANT* v = nullptr;
    SHORT* k = nullptr;
    SafeArrayAccessData(nt, reinterpret_cast<void**>(&v));
    SafeArrayAccessData(ci, reinterpret_cast<void**>(&k));
    for (LONG i = 0; i < n; ++i) {
        const VARIANT* c = v + i * 8;
        for (int col : {0, 1, 2, 4, 5}) EXPECT_EQ(c[col].vt, VT_I2) << "node " << i << " column " << col;
        for (int col : {3, 6, 7}) EXPECT_EQ(c[col].vt, VT_R4) << "node " << i << " column " << col;
        Node node{c[0].iVal, c[1].iVal, c[2].iVal, c[3].fltVal, c[4].iVal, c[5].iVal, c[6].fltVal, c[7].fltVal, {}};
        for (long b = 0; b < t.width; ++b) {
            SHORT child = k[i * t.width + b];
            if (b >= node.forks) EXPECT_EQ(child, 0) << "slot beyond Forks of node " << i;
            else if (child) node.children.push_back(child);
        }
        t.nodes.push_back(node);
    }
    SafeArrayUnaccessData(ci);
    SafeArrayUnaccessData(nt);
    t.ok = true;
    return t;
}

inline Tree Build(ITRXTree* trx, HRESULT* hrOut = nullptr) {
    SAFEARRAY* nt = nullptr;
    SAFEARRAY* ci = nullptr;
    HRESULT hr = trx->BuildTree(&nt, &ci);
    if (hrOut) *hrOut = hr;
    else EXPECT_EQ(hr, S_OK) << ErrorText(trx);
    Tree t;
    if (SUCCEEDED(hr) && nt && ci) t = Decode(nt, ci);
    if (nt) SafeArrayDestroy(nt);
    if (ci) SafeArrayDestroy(ci);
    return t;
}

// ITRXEvents sink: records every Progress value; sets Cancel at event `cancelAt` (1-based).
class ProgressSink : public IDispatch {
public:
    std::vector<int> values;
    int cancelAt = 0;
    SHORT cancelValue = -1;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_ITRXEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }  // lives on the test's stack
    HRESULT GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        EXPECT_EQ(id, DISPID_TRXEvents_Progress);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        EXPECT_EQ(p->cArgs, 2u);
        EXPECT_EQ(p->cNamedArgs, 0u);
        EXPECT_EQ(p->rgvarg[1].vt, VT_I2);
        EXPECT_EQ(p->rgvarg[0].vt, VT_BYREF | VT_I2);
        values.push_back(p->rgvarg[1].iVal);
        if (cancelAt && int(values.size()) == cancelAt) *p->rgvarg[0].piVal = cancelValue;
        return S_OK;
    }

private:
    std::atomic<int> refs_{0};
};

}  // namespace trxtest
