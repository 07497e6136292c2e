#include <new>

#include "com/dispatch.h"
#include "com/refcounted.h"

namespace {

class ErrorObject final : public com::RefCounted<IErrorInfo, ICreateErrorInfo> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo) *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    HRESULT GetGUID(GUID* g) override {
        if (!g) return E_INVALIDARG;
        *g = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* out) override { return Give(source_, out); }
    HRESULT GetDescription(BSTR* out) override { return Give(description_, out); }
    HRESULT GetHelpFile(BSTR* out) override { return Give(helpFile_, out); }
    HRESULT GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        *out = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID g) override {
        guid_ = g;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR s) override { return Take(s, &source_); }
    HRESULT SetDescription(LPOLESTR s) override { return Take(s, &description_); }
    HRESULT SetHelpFile(LPOLESTR s) override { return Take(s, &helpFile_); }
    HRESULT SetHelpContext(DWORD c) override {
        helpContext_ = c;
        return S_OK;
    }

private:
    ~ErrorObject() = default;

    static HRESULT Give(const std::u16string& s, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = SysAllocStringLen(s.data(), UINT(s.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Take(LPOLESTR s, std::u16string* into) {
        *into = s ? std::u16string(s) : std::u16string();
        return S_OK;
    }

    GUID guid_ = GUID_NULL;
    std::u16string source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

// Error information belongs to the thread that raised it.
thread_local com::ComPtr<IErrorInfo> t_error;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    ErrorObject* e = new (std::nothrow) ErrorObject();
    if (!e) return E_OUTOFMEMORY;
    *out = e;
    return S_OK;
}

HRESULT SetErrorInfo(DWORD, IErrorInfo* perrinfo) {
    t_error = perrinfo;
    return S_OK;
}

HRESULT GetErrorInfo(DWORD, IErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = t_error.Detach();
    return *pperrinfo ? S_OK : S_FALSE;
}

namespace com {

HRESULT SetErrorInfoText(const GUID& guid, const std::string& source, const std::string& description) {
    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(create.Put());
    if (FAILED(hr)) return hr;
    std::u16string s = ToU16(source), d = ToU16(description);
    create->SetGUID(guid);
    create->SetSource(s.data());
    create->SetDescription(d.data());
    ComPtr<IErrorInfo> info;
    hr = create.As(IID_IErrorInfo, &info);
    if (FAILED(hr)) return hr;
    return SetErrorInfo(0, info.Get());
}

bool TakeErrorInfo(IUnknown* object, REFIID iid, std::string* description, std::string* source) {
    if (!object) return false;
    ComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid())) || !support) return false;
    if (support->InterfaceSupportsErrorInfo(iid) != S_OK) return false;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return false;
    BStr text;
    if (description && SUCCEEDED(info->GetDescription(text.Put()))) *description = text.Utf8();
    if (source && SUCCEEDED(info->GetSource(text.Put()))) *source = text.Utf8();
    return true;
}

}  // namespace com
