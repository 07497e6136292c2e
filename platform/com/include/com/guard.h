// The component boundary: no C++ exception may leave an interface call, because the
// caller may be another module, another language or another runtime. Every entry
// point that can throw runs its body through Guard (or GuardInvoke for IDispatch).
#pragma once

#include <string>

#include "com/dispatch.h"

namespace com {

// The HRESULT for the exception being handled (call it inside a catch block):
// bad_alloc is E_OUTOFMEMORY; anything else is E_FAIL with the thread's error
// information set to its text, `source` being the object's ProgID.
HRESULT HResultFromException(const char* source) noexcept;

// As HResultFromException for an Invoke: with an EXCEPINFO the text travels in it
// and the call answers DISP_E_EXCEPTION, the way a member's own error does.
HRESULT HResultFromException(const char* source, EXCEPINFO* excep) noexcept;

template <class Body>
HRESULT Guard(const char* source, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return HResultFromException(source);
    }
}

template <class Body>
HRESULT GuardInvoke(const char* source, EXCEPINFO* excep, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return HResultFromException(source, excep);
    }
}

}  // namespace com
