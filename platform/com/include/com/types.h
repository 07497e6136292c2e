// Basic types, result codes and GUIDs of the component runtime.
// Widths are fixed: LONG is 32-bit on every platform here (unlike C++ `long`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using BYTE = uint8_t;
using CHAR = int8_t;
using WORD = uint16_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using INT = int32_t;
using UINT = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using BOOL = int32_t;
using HRESULT = int32_t;
using SCODE = int32_t;
using LCID = uint32_t;
using DISPID = int32_t;
using MEMBERID = int32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;  // -1 true, 0 false
using DATE = double;           // OLE date serial: days since 1899-12-30
using OLECHAR = char16_t;      // UTF-16 code unit
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Currency: a 64-bit integer scaled by 10 000.
struct CY {
    LONGLONG int64;
};

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

// Not `inline`: inline variables become GNU_UNIQUE symbols, which make a server
// module impossible to unload.
constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT(uint32_t sev, uint32_t fac, uint32_t code) {
    return static_cast<HRESULT>((sev << 31) | (fac << 16) | code);
}
constexpr uint32_t HRESULT_CODE(HRESULT hr) { return static_cast<uint32_t>(hr) & 0xFFFF; }

// The codes the system uses. Written as unsigned bit patterns, stored as HRESULT.
constexpr HRESULT hr_(uint32_t v) { return static_cast<HRESULT>(v); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hr_(0x80004001);
constexpr HRESULT E_NOINTERFACE = hr_(0x80004002);
constexpr HRESULT E_POINTER = hr_(0x80004003);
constexpr HRESULT E_ABORT = hr_(0x80004004);
constexpr HRESULT E_FAIL = hr_(0x80004005);
constexpr HRESULT E_UNEXPECTED = hr_(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = hr_(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = hr_(0x8007000E);
constexpr HRESULT E_INVALIDARG = hr_(0x80070057);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hr_(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = hr_(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = hr_(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = hr_(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = hr_(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = hr_(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = hr_(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = hr_(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = hr_(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = hr_(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = hr_(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = hr_(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hr_(0x8002000F);
constexpr HRESULT DISP_E_DIVBYZERO = hr_(0x80020012);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hr_(0x8002802B);
constexpr HRESULT CLASS_E_NOAGGREGATION = hr_(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr_(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = hr_(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = hr_(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = hr_(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = hr_(0x80040152);
constexpr HRESULT CO_E_CLASSSTRING = hr_(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = hr_(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = hr_(0x800401F9);
constexpr HRESULT CONNECT_E_NOCONNECTION = hr_(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = hr_(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = hr_(0x80040202);
constexpr HRESULT CONNECT_E_OVERRIDDEN = hr_(0x80040203);
constexpr HRESULT SELFREG_E_CLASS = hr_(0x80040201);
// Control errors (facility 10, the automation facility of the forms runtime).
constexpr HRESULT CTL_E_ILLEGALFUNCTIONCALL = hr_(0x800A0005);  // error 5
constexpr HRESULT CTL_E_SETNOTSUPPORTED = hr_(0x800A017F);      // error 383, read-only property
constexpr HRESULT CTL_E_GETNOTSUPPORTED = hr_(0x800A018A);      // error 394, write-only / design time

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// GUID text in the braced form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
// CLSIDFromString answers CO_E_CLASSSTRING for malformed text.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out);
HRESULT IIDFromString(LPCOLESTR text, IID* out);
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);  // characters written incl. NUL, 0 if too small

namespace com {
// UTF-8 conveniences for code that is not UTF-16 throughout.
std::string GuidToString(const GUID& g);                  // braced, upper-case hex
bool GuidFromString(const std::string& text, GUID* out);  // false on malformed text
std::u16string ToU16(const std::string& utf8);
std::string ToUtf8(const std::u16string& utf16);
std::string ToUtf8(const OLECHAR* s, size_t len);
}  // namespace com
