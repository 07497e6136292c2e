// Automation data: BSTR, VARIANT, SAFEARRAY and the conversions between scalar types.
#pragma once

#include <string>

#include "com/unknown.h"

struct IDispatch;

// ---------------------------------------------------------------- BSTR
// UTF-16, length-prefixed: a 32-bit byte count sits just before the first character
// and a NUL follows the last; embedded NULs survive. A null BSTR is an empty string.
using BSTR = OLECHAR*;

BSTR SysAllocString(LPCOLESTR text);                 // NUL-terminated input; null gives null
BSTR SysAllocStringLen(LPCOLESTR text, UINT chars);  // text may be null: uninitialised content
BSTR SysAllocStringByteLen(const char* bytes, UINT byteLen);
BOOL SysReAllocString(BSTR* pbstr, LPCOLESTR text);
void SysFreeString(BSTR bstr);                       // null is fine
UINT SysStringLen(BSTR bstr);                        // characters, 0 for null
UINT SysStringByteLen(BSTR bstr);

// ---------------------------------------------------------------- VARIANT
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAY;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        ULONGLONG ullVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        INT* pintVal;
        UINT* puintVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);  // frees BSTR/array, releases interfaces; by-ref targets untouched
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);     // deep copy; dest cleared first
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);  // as VariantCopy, dereferencing VT_BYREF

// Conversion flags.
constexpr WORD VARIANT_NOVALUEPROP = 0x01;
constexpr WORD VARIANT_ALPHABOOL = 0x02;  // BOOL to text as "True"/"False" (default: "-1"/"0")
constexpr WORD VARIANT_LOCALBOOL = 0x10;

// Converts with OLE Automation's rules: floating to integer rounds half to even;
// out-of-range gives DISP_E_OVERFLOW; Null to a scalar gives DISP_E_TYPEMISMATCH;
// Empty converts to 0 / "" ; text parses as a number (or True/False, or a date for
// VT_DATE) in the invariant locale, otherwise DISP_E_TYPEMISMATCH. Number to text:
// R4 with up to 7 significant digits, R8 with up to 15, as VB's CStr does.
// dest may equal src.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt);

// ---------------------------------------------------------------- SAFEARRAY
struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;

// rgsabound holds cDims entries; as in OLE Automation, rgsabound[0] describes the
// rightmost (last) dimension. Use SafeArrayGetLBound/UBound with 1-based dimension
// numbers instead of reading it. In memory the leftmost index varies fastest.
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    VARTYPE vt;  // element type (FADF_HAVEVARTYPE always set here)
    SAFEARRAYBOUND rgsabound[1];
};

// bounds[0] is the FIRST (leftmost) dimension here, as callers naturally write them.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);  // DISP_E_ARRAYISLOCKED while locked
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* out);  // nDim 1-based; DISP_E_BADINDEX
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* out);  // lbound + count - 1
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);  // E_UNEXPECTED when not locked
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);  // locks
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// indices[0] is the index in the first (leftmost) dimension. Get copies out (BSTR,
// VARIANT and interfaces deep-copied / AddRef'd); Put copies in, replacing the old.
// As in OLE Automation, Put takes a BSTR, IUnknown* or IDispatch* element as the
// pointer itself and every other type (VARIANT included) by address; Get always
// takes the address of the variable that receives the copy.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value);
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** out);

// ---------------------------------------------------------------- dates
// OLE date serials <-> calendar. Valid range as OLE Automation: years 100..9999.
bool VariantTimeFromParts(int year, int month, int day, int hour, int minute, int second, DATE* out);
bool VariantTimeToParts(DATE d, int* year, int* month, int* day, int* hour, int* minute, int* second);

namespace com {

// RAII BSTR owner.
class BStr {
public:
    BStr() = default;
    explicit BStr(const std::u16string& s) : b_(SysAllocStringLen(s.data(), UINT(s.size()))) {}
    explicit BStr(const std::string& utf8) : BStr(ToU16(utf8)) {}
    explicit BStr(const char16_t* s) : b_(SysAllocString(s)) {}
    BStr(const BStr& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {}
    BStr(BStr&& o) noexcept : b_(o.b_) { o.b_ = nullptr; }
    BStr& operator=(BStr o) noexcept { std::swap(b_, o.b_); return *this; }
    ~BStr() { SysFreeString(b_); }
    BSTR Get() const { return b_; }
    BSTR* Put() { SysFreeString(b_); b_ = nullptr; return &b_; }
    BSTR Detach() { BSTR b = b_; b_ = nullptr; return b; }
    void Attach(BSTR b) { SysFreeString(b_); b_ = b; }
    UINT Length() const { return SysStringLen(b_); }
    std::u16string U16() const { return b_ ? std::u16string(b_, SysStringLen(b_)) : std::u16string(); }
    std::string Utf8() const { return ToUtf8(U16()); }

private:
    BSTR b_ = nullptr;
};

// RAII VARIANT owner; a VARIANT in every respect (can be passed as VARIANT*).
class Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    Variant(const Variant& o) { VariantInit(this); VariantCopy(this, &o); }
    Variant(const VARIANT& o) { VariantInit(this); VariantCopy(this, &o); }
    Variant(Variant&& o) noexcept { static_cast<VARIANT&>(*this) = o; VariantInit(&o); }
    Variant& operator=(const Variant& o) { if (this != &o) VariantCopy(this, &o); return *this; }
    Variant& operator=(Variant&& o) noexcept {
        if (this != &o) { VariantClear(this); static_cast<VARIANT&>(*this) = o; VariantInit(&o); }
        return *this;
    }
    ~Variant() { VariantClear(this); }

    static Variant Null() { Variant v; v.vt = VT_NULL; return v; }
    static Variant I2(SHORT x) { Variant v; v.vt = VT_I2; v.iVal = x; return v; }
    static Variant I4(LONG x) { Variant v; v.vt = VT_I4; v.lVal = x; return v; }
    static Variant R4(FLOAT x) { Variant v; v.vt = VT_R4; v.fltVal = x; return v; }
    static Variant R8(DOUBLE x) { Variant v; v.vt = VT_R8; v.dblVal = x; return v; }
    static Variant Bool(bool x) { Variant v; v.vt = VT_BOOL; v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
    static Variant Date(DATE x) { Variant v; v.vt = VT_DATE; v.date = x; return v; }
    static Variant Cy(LONGLONG scaled) { Variant v; v.vt = VT_CY; v.cyVal.int64 = scaled; return v; }
    static Variant Str(const std::u16string& s) { Variant v; v.vt = VT_BSTR; v.bstrVal = SysAllocStringLen(s.data(), UINT(s.size())); return v; }
    static Variant Str(const std::string& utf8) { return Str(com::ToU16(utf8)); }
    static Variant Dispatch(IDispatch* d);  // AddRefs
    static Variant Array(SAFEARRAY* psa, VARTYPE elementVt);  // takes ownership of psa

    bool IsNull() const { return vt == VT_NULL; }
    bool IsEmpty() const { return vt == VT_EMPTY; }
    void Clear() { VariantClear(this); }

    // Typed reads through VariantChangeType; throw com::Error on failure
    // (Null gives DISP_E_TYPEMISMATCH, as reading Null into a typed variable does).
    SHORT ToI2() const;
    LONG ToI4() const;
    FLOAT ToR4() const;
    DOUBLE ToR8() const;
    bool ToBool() const;
    std::u16string ToU16() const;  // Booleans as "True"/"False", as CStr gives them
    std::string ToUtf8() const;
};

// An HRESULT with a description, for C++ code that reports COM failures by exception.
class Error : public std::exception {
public:
    explicit Error(HRESULT hr, std::string description = {}) : hr_(hr), what_(std::move(description)) {}
    HRESULT hr() const { return hr_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    HRESULT hr_;
    std::string what_;
};

}  // namespace com
