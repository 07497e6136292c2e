// The COM class TRXTree: ITRXTree (dual), connection points for ITRXEvents and rich
// error information, over a TreeEngine.
#pragma once

#include "TreeEngine.h"
#include "com/com.h"
#include "trx/ITRXTree.h"

namespace trx {

class TRXTree final : public com::RefCounted<ITRXTree, ISupportErrorInfo, IConnectionPointContainer>,
                      private ProgressSink {
public:
    TRXTree();
    ~TRXTree();

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // IDispatch
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    // ITRXTree
    HRESULT Initialize(SHORT FieldCount) override;
    HRESULT AddData(SAFEARRAY** InputArray) override;
    HRESULT BuildTree(SAFEARRAY** NodeTree, SAFEARRAY** ChildIndex) override;
    HRESULT ClearTree() override;
    HRESULT ClearData() override;
    HRESULT get_FieldType(SHORT FieldNumber, SHORT* pVal) override;
    HRESULT put_FieldType(SHORT FieldNumber, SHORT newVal) override;
    HRESULT get_PruneRate(FLOAT* pVal) override;
    HRESULT put_PruneRate(FLOAT newVal) override;
    HRESULT get_FieldCount(SHORT* pVal) override;
    HRESULT get_RowCount(LONG* pVal) override;
    HRESULT get_MaxClass(SHORT FieldNumber, SHORT* pVal) override;
    HRESULT put_MaxClass(SHORT FieldNumber, SHORT newVal) override;
    HRESULT get_MinItems(LONG* pVal) override;
    HRESULT put_MinItems(LONG newVal) override;
    // ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;
    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

private:
    void Progress(int16_t percent) override;
    HRESULT Report(const Status& s);
    // Invoke's work; Invoke itself only keeps exceptions inside the object.
    HRESULT Dispatch(DISPID id, WORD flags, DISPPARAMS* p, VARIANT* result, EXCEPINFO* excep);
    HRESULT CallMethod(DISPID id, WORD flags, DISPPARAMS* p, HRESULT& hr);
    HRESULT CallProperty(DISPID id, bool put, bool get, DISPPARAMS* p, HRESULT& hr, com::Variant& out);
    HRESULT Failure(HRESULT hr, EXCEPINFO* excep);
    int lastErrorId_ = 0;  // of the last member call, for Invoke's exception record

    com::ConnectionPoint events_;
    com::ConnectionPointList points_;
    TreeEngine engine_;
};

// Live objects and server locks of the module.
com::ModuleCount& ModuleLocks();

}  // namespace trx
