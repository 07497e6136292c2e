// IUnknown and the smart pointer that app code uses instead of AddRef/Release pairs.
#pragma once

#include <utility>

#include "com/types.h"

extern const IID IID_IUnknown;        // {00000000-0000-0000-C000-000000000046}
extern const IID IID_IClassFactory;   // {00000001-0000-0000-C000-000000000046}
extern const IID IID_IDispatch;       // {00020400-0000-0000-C000-000000000046}
extern const IID IID_IErrorInfo;      // {1CF2B120-547D-101B-8E65-08002B2BD119}
extern const IID IID_ICreateErrorInfo;  // {22F03340-547D-101B-8E65-08002B2BD119}
extern const IID IID_ISupportErrorInfo;  // {DF0B3D60-548F-101B-8E65-08002B2BD119}
extern const IID IID_IConnectionPointContainer;  // {B196B284-BAB4-101A-B69C-00AA00341D07}
extern const IID IID_IConnectionPoint;  // {B196B286-BAB4-101A-B69C-00AA00341D07}
extern const IID IID_IEnumConnections;  // {B196B287-BAB4-101A-B69C-00AA00341D07}
extern const IID IID_IEnumConnectionPoints;  // {B196B285-BAB4-101A-B69C-00AA00341D07}

// Interfaces are abstract classes; an object deletes itself when Release brings its
// count to zero. No virtual destructor in the interface: the object owns its lifetime.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

namespace com {

// Reference-counting smart pointer. Assignment from a raw pointer AddRefs it;
// Attach takes over a reference the caller already owns (an out argument).
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o) {
        if (o.p_) o.p_->AddRef();
        Reset();
        p_ = o.p_;
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ComPtr& operator=(T* p) { return *this = ComPtr(p); }
    ComPtr& operator=(std::nullptr_t) { Reset(); return *this; }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Attach(T* p) { Reset(); p_ = p; }
    T* Detach() { return std::exchange(p_, nullptr); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Address for an out argument; releases what is held first.
    T** Put() { Reset(); return &p_; }
    void** PutVoid() { Reset(); return reinterpret_cast<void**>(&p_); }

    // QueryInterface into another smart pointer.
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, out->PutVoid());
    }

private:
    T* p_ = nullptr;
};

}  // namespace com
