// The engine's public interface: class TRXTree, its dual interface ITRXTree and the
// event interface ITRXEvents. Clients create the class through the runtime
// (CoCreateInstance / com::CreateInstance) and may call ITRXTree through its vtable
// after QueryInterface(IID_ITRXTree), or late-bound through IDispatch by dispid.
#pragma once

#include "com/com.h"

// {7B452883-DB8C-11D2-9121-00006E47F764}
constexpr CLSID CLSID_TRXTree = {0x7B452883, 0xDB8C, 0x11D2,
                                        {0x91, 0x21, 0x00, 0x00, 0x6E, 0x47, 0xF7, 0x64}};
// {7B452882-DB8C-11D2-9121-00006E47F764}
constexpr IID IID_ITRXTree = {0x7B452882, 0xDB8C, 0x11D2,
                                     {0x91, 0x21, 0x00, 0x00, 0x6E, 0x47, 0xF7, 0x64}};
// {58596022-0EB8-11D3-9121-00006E47F764}
constexpr IID DIID_ITRXEvents = {0x58596022, 0x0EB8, 0x11D3,
                                        {0x91, 0x21, 0x00, 0x00, 0x6E, 0x47, 0xF7, 0x64}};

constexpr const char* kTRXTreeProgId = "TRXTree.TRXTree.1";
constexpr const char* kTRXTreeVersionIndependentProgId = "TRXTree.TRXTree";

// Member ids of ITRXTree (dispatch) and ITRXEvents.
enum TRXDispId : DISPID {
    DISPID_TRX_Initialize = 1,
    DISPID_TRX_AddData = 2,
    DISPID_TRX_BuildTree = 3,
    DISPID_TRX_ClearTree = 4,
    DISPID_TRX_ClearData = 5,
    DISPID_TRX_FieldType = 6,
    DISPID_TRX_PruneRate = 7,
    DISPID_TRX_FieldCount = 8,
    DISPID_TRX_RowCount = 9,
    DISPID_TRX_MaxClass = 10,
    DISPID_TRX_MinItems = 11,
    DISPID_TRXEvents_Progress = 1,
};

// Error ids of the engine; a failing member reports the id's text as error
// information (source kTRXTreeProgId) and returns E_FAIL.
enum TRXErrorId : int {
    TRXERR_UNDEFINED = 3840,
    TRXERR_INIT_BAD_ARGUMENT = 3842,
    TRXERR_INIT_SECOND = 3843,
    TRXERR_ADDDATA_INVALID_ARRAY = 3844,
    TRXERR_NOT_INITIALIZED = 3845,
    TRXERR_ADDDATA_ACCESS = 3846,
    TRXERR_TREE_TOO_BIG = 3847,
    TRXERR_BUILD_NO_DATA = 3848,
    TRXERR_MISSING_CLASS = 3849,
};

// Field kinds (FieldType).
enum TRXFieldKind : SHORT {
    TRXFIELD_CONTINUOUS = 0,
    TRXFIELD_IGNORED = 1,
    TRXFIELD_DISCRETE = 2,
    TRXFIELD_CLASS = 3,
};

// The missing value of input rows; recognised by its exact bit pattern.
constexpr float kTRXMissingValue = -999.0f;

// Dual interface: the vtable order is the dispid order, property get before put.
//   BuildTree returns NodeTree as VARIANTs with bounds (0 To 7, 0 To N-1) and ChildIndex
//   as 16-bit integers with bounds (0 To B-1, 0 To N-1); any array passed in is destroyed
//   and replaced. AddData takes a 2-dimensional array of 4-byte floats, field index first.
struct ITRXTree : IDispatch {
    virtual HRESULT Initialize(SHORT FieldCount) = 0;
    virtual HRESULT AddData(SAFEARRAY** InputArray) = 0;
    virtual HRESULT BuildTree(SAFEARRAY** NodeTree, SAFEARRAY** ChildIndex) = 0;
    virtual HRESULT ClearTree() = 0;
    virtual HRESULT ClearData() = 0;
    virtual HRESULT get_FieldType(SHORT FieldNumber, SHORT* pVal) = 0;
    virtual HRESULT put_FieldType(SHORT FieldNumber, SHORT newVal) = 0;
    virtual HRESULT get_PruneRate(FLOAT* pVal) = 0;
    virtual HRESULT put_PruneRate(FLOAT newVal) = 0;
    virtual HRESULT get_FieldCount(SHORT* pVal) = 0;
    virtual HRESULT get_RowCount(LONG* pVal) = 0;
    virtual HRESULT get_MaxClass(SHORT FieldNumber, SHORT* pVal) = 0;
    virtual HRESULT put_MaxClass(SHORT FieldNumber, SHORT newVal) = 0;
    virtual HRESULT get_MinItems(LONG* pVal) = 0;
    virtual HRESULT put_MinItems(LONG newVal) = 0;

protected:
    ~ITRXTree() = default;
};
