// The component boundary: one reference count for every object, and no
// exception out of an interface call.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "com/com.h"

namespace {

class Probe final : public com::RefCounted<ISupportErrorInfo, IConnectionPointContainer> {
public:
    explicit Probe(int* deleted) : deleted_(deleted) {}
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }

private:
    ~Probe() override { ++*deleted_; }
    int* deleted_;
};

std::string ThreadErrorText() {
    com::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK) return "(none)";
    com::BStr text;
    info->GetDescription(text.Put());
    return text.Utf8();
}

TEST(ComRefCounted, EveryInterfaceSharesOneCountAndTheLastReleaseDeletesOnce) {
    int deleted = 0;
    auto* probe = new Probe(&deleted);
    IConnectionPointContainer* container = probe;
    ISupportErrorInfo* support = probe;
    EXPECT_EQ(support->AddRef(), 2u);
    EXPECT_EQ(container->AddRef(), 3u);
    EXPECT_EQ(container->Release(), 2u);
    EXPECT_EQ(support->Release(), 1u);
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(support->Release(), 0u);
    EXPECT_EQ(deleted, 1);
}

struct Thrown {
    const char* name;
    void (*raise)();
    HRESULT hr;
    const char* text;  // the thread's error information afterwards
};

TEST(ComGuard, MapsEveryExceptionToAnHresult) {
    const Thrown cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, "(none)"},
        {"std exception", [] { throw std::runtime_error("disk on fire"); }, E_FAIL, "disk on fire"},
        {"anything else", [] { throw 42; }, E_FAIL, "Unexpected error"},
    };
    for (const Thrown& c : cases) {
        SCOPED_TRACE(c.name);
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(com::Guard("Src.1",
                             [&]() -> HRESULT {
                                 c.raise();
                                 return S_OK;
                             }),
                  c.hr);
        EXPECT_EQ(ThreadErrorText(), c.text);
    }
    EXPECT_EQ(com::Guard("Src.1", [] { return S_FALSE; }), S_FALSE);
}

TEST(ComGuard, AnInvokeCarriesTheTextInItsExceptionRecord) {
    com::ExcepInfo excep;
    EXPECT_EQ(com::GuardInvoke("Src.1", &excep, []() -> HRESULT { throw std::logic_error("no such row"); }),
              DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_FAIL);
    EXPECT_EQ(com::BStr(std::u16string(excep.bstrDescription)).Utf8(), "no such row");
    EXPECT_EQ(com::BStr(std::u16string(excep.bstrSource)).Utf8(), "Src.1");
    // Without a record the failure and the thread's error information remain.
    EXPECT_EQ(com::GuardInvoke("Src.1", nullptr, []() -> HRESULT { throw std::logic_error("gone"); }), E_FAIL);
    EXPECT_EQ(ThreadErrorText(), "gone");
    EXPECT_EQ(com::GuardInvoke("Src.1", &excep, []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
}

}  // namespace
