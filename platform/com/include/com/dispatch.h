// IDispatch, error information, connection points.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "com/oleauto.h"

// ---------------------------------------------------------------- IDispatch
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;
constexpr DISPID DISPID_REFRESH = -550;
constexpr DISPID DISPID_ABOUTBOX = -552;
constexpr DISPID DISPID_BACKCOLOR = -501;
constexpr DISPID DISPID_FORECOLOR = -513;
constexpr DISPID DISPID_FONT = -512;
constexpr DISPID DISPID_ENABLED = -514;
constexpr DISPID DISPID_HWND = -515;
constexpr DISPID DISPID_BORDERSTYLE = -504;
constexpr DISPID DISPID_AMBIENT_USERMODE = -709;
constexpr DISPID DISPID_AMBIENT_FONT = -703;
constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701;
constexpr DISPID DISPID_AMBIENT_FORECOLOR = -704;

// Arguments are positional in reverse order: rgvarg[0] is the LAST argument.
// Named arguments (only DISPID_PROPERTYPUT here) come first in rgvarg.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Type information is not modelled beyond names and help strings; GetTypeInfo
// answers E_NOTIMPL and GetTypeInfoCount 0 unless a server says otherwise.
struct ITypeInfo;

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                           UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

namespace com {

// A member of a dispatch interface as a server describes it, for GetIDsOfNames
// (case-insensitive name lookup) and for the help strings of its type library.
struct DispMember {
    DISPID id;
    const char* name;
    const char* helpString;
};

// Looks each name up in `members` (ASCII case-insensitive). Unknown names give
// DISP_E_UNKNOWNNAME with DISPID_UNKNOWN in their slot.
HRESULT LookupDispIds(const std::vector<DispMember>& members, LPOLESTR* names, UINT count,
                      DISPID* ids);

// Client-side helpers for late-bound calls by member id. Arguments are given in
// natural order (first argument first); they are reversed into DISPPARAMS here.
// On DISP_E_EXCEPTION the EXCEPINFO is filled and its strings are the caller's to free
// (use com::ExcepInfo for RAII). `result` must hold a valid VARIANT (a com::Variant
// or one set up by VariantInit); it is cleared before the call, so one Variant can
// take the results of many calls.
HRESULT Invoke(IDispatch* target, DISPID id, WORD flags, const std::vector<VARIANT>& args,
               VARIANT* result, EXCEPINFO* excep = nullptr);
HRESULT PropertyGet(IDispatch* target, DISPID id, VARIANT* result,
                    const std::vector<VARIANT>& indexArgs = {}, EXCEPINFO* excep = nullptr);
HRESULT PropertyPut(IDispatch* target, DISPID id, const VARIANT& value,
                    const std::vector<VARIANT>& indexArgs = {}, EXCEPINFO* excep = nullptr);

struct ExcepInfo : EXCEPINFO {
    ExcepInfo();
    ~ExcepInfo();
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;
};

// Fetches argument `index` (natural order, 0 = first) of a DISPPARAMS, dereferencing
// VT_BYREF|VT_VARIANT; null when there are fewer arguments.
const VARIANT* ArgAt(const DISPPARAMS* params, UINT index);

}  // namespace com

// ---------------------------------------------------------------- error information
struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

// Per-thread error object. SetErrorInfo(0, nullptr) clears; GetErrorInfo hands over
// the thread's object (and clears it), S_FALSE when there is none.
HRESULT CreateErrorInfo(ICreateErrorInfo** out);
HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* perrinfo);
HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** pperrinfo);

namespace com {
// Sets the thread's error information in one call (description/source UTF-8).
HRESULT SetErrorInfoText(const GUID& guid, const std::string& source, const std::string& description);

// After a failed call: reads and clears the thread's error information when the
// object says (ISupportErrorInfo) that `iid` supports it. Returns false otherwise.
bool TakeErrorInfo(IUnknown* object, REFIID iid, std::string* description, std::string* source = nullptr);
}  // namespace com

// ---------------------------------------------------------------- connection points
struct IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;

protected:
    ~IEnumConnections() = default;
};

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;

protected:
    ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

namespace com {

// A ready connection point for servers: one per event interface, owned by the
// server object (which passes itself as the container; the point forwards
// AddRef/Release to it, so it lives exactly as long as the object).
// Advise asks the sink for the event IID, then IDispatch, and keeps that pointer.
// Sinks are kept in connection order; cookies start at 1 and are never reused.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer* container, const IID& eventIid);
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    const IID& EventIid() const { return iid_; }
    // Calls Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, args) on
    // every sink; args are in DISPPARAMS order (last argument first). Results ignored.
    void Fire(DISPID id, VARIANTARG* argsReversed, UINT count) const;

private:
    IConnectionPointContainer* container_;
    IID iid_;
    struct Sink {
        DWORD cookie;
        ComPtr<IDispatch> dispatch;
    };
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
};

// Connection-point container support: a server holds one of these and forwards
// EnumConnectionPoints / FindConnectionPoint to it.
class ConnectionPointList {
public:
    void Add(ConnectionPoint* point);  // not owned
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) const;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) const;

private:
    std::vector<ConnectionPoint*> points_;
};

// Client side: connects `sink` to the event interface `iid` of `source`.
HRESULT Advise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD* cookie);
HRESULT Unadvise(IUnknown* source, REFIID iid, DWORD cookie);

}  // namespace com
