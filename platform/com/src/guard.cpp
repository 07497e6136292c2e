#include "com/guard.h"

#include <exception>
#include <new>

namespace com {
namespace {

// What the exception in flight says; false for bad_alloc, which has nothing to add
// and must not allocate to say it.
bool DescribeCurrent(std::string* text) noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::exception& e) {
        try {
            *text = e.what();
        } catch (...) {
            return false;
        }
    } catch (...) {
        // An exception of no standard type: nothing to read from it.
    }
    return true;
}

}  // namespace

HRESULT HResultFromException(const char* source) noexcept {
    std::string text;
    if (!DescribeCurrent(&text)) return E_OUTOFMEMORY;
    try {
        SetErrorInfoText(GUID_NULL, source ? source : "", text.empty() ? "Unexpected error" : text);
    } catch (...) {
        SetErrorInfo(0, nullptr);  // a stale description would mislead more than none
    }
    return E_FAIL;
}

HRESULT HResultFromException(const char* source, EXCEPINFO* excep) noexcept {
    std::string text;
    if (!DescribeCurrent(&text)) return E_OUTOFMEMORY;
    if (!excep) return HResultFromException(source);
    HRESULT hr = HResultFromException(source);
    try {
        if (text.empty()) text = "Unexpected error";
        const std::u16string from = ToU16(source ? source : ""), what = ToU16(text);
        *excep = EXCEPINFO{};
        excep->scode = hr;
        excep->bstrSource = SysAllocString(from.c_str());
        excep->bstrDescription = SysAllocString(what.c_str());
    } catch (...) {
        return hr;  // the thread's error information still says what failed
    }
    return DISP_E_EXCEPTION;
}

}  // namespace com
