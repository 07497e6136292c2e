// Connection points: order, cookies, and sinks that leave while being called.
#include <gtest/gtest.h>

#include <functional>

#include "com/com.h"

using com::ComPtr;

namespace {

const IID DIID_Events = {0xA1B2C3D4, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID DIID_Other = {0xA1B2C3D4, 0x1111, 0x2223, {1, 2, 3, 4, 5, 6, 7, 8}};

// The count an object holds now: what Release answers after an AddRef.
ULONG RefsOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// An event source with two connection points.
class Source final : public com::RefCounted<IConnectionPointContainer> {
public:
    explicit Source(bool* destroyed) : events_(this, DIID_Events), other_(this, DIID_Other), destroyed_(destroyed) {
        list_.Add(&events_);
        list_.Add(&other_);
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IConnectionPointContainer) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) override { return list_.EnumConnectionPoints(e); }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
        return list_.FindConnectionPoint(riid, cp);
    }
    void Raise(int n) {
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = n;
        events_.Fire(7, &arg, 1);
    }
    com::ConnectionPoint& Events() { return events_; }

private:
    ~Source() override { *destroyed_ = true; }
    com::ConnectionPoint events_, other_;
    com::ConnectionPointList list_;
    bool* destroyed_;
};

// A sink that records calls into a shared log and can act while being called.
class Sink final : public IDispatch {
public:
    Sink(std::string name, std::vector<std::string>* log, bool answersEventIid = true)
        : name_(std::move(name)), log_(log), answersEventIid_(answersEventIid) {}
    ULONG refs = 1;
    std::function<void()> onCall;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || (answersEventIid_ && riid == DIID_Events)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // owned by the test
    HRESULT GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        EXPECT_EQ(id, 7);
        EXPECT_EQ(riid, IID_NULL);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        log_->push_back(name_ + std::to_string(p->rgvarg[0].lVal));
        if (onCall) onCall();
        return S_OK;
    }

private:
    std::string name_;
    std::vector<std::string>* log_;
    bool answersEventIid_;
};

// A sink that answers only IUnknown.
class Deaf final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

class ComEvents : public ::testing::Test {
protected:
    bool destroyed = false;
    Source* source = new Source(&destroyed);
    std::vector<std::string> log;
    void TearDown() override {
        if (!destroyed) source->Release();
    }
    DWORD Advise(IUnknown* sink) {
        DWORD cookie = 0;
        EXPECT_EQ(com::Advise(source, DIID_Events, sink, &cookie), S_OK);
        return cookie;
    }
};

TEST_F(ComEvents, SinksAreCalledInConnectionOrderWithFreshCookies) {
    Sink a("a", &log), b("b", &log, false), c("c", &log);
    DWORD ca = Advise(&a), cb = Advise(&b), cc = Advise(&c);
    EXPECT_EQ((std::vector<DWORD>{ca, cb, cc}), (std::vector<DWORD>{1, 2, 3}));
    source->Raise(1);
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "c1"}));

    EXPECT_EQ(source->Events().Unadvise(cb), S_OK);
    EXPECT_EQ(source->Events().Unadvise(cb), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(source->Events().Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(Advise(&b), 4u);  // cookies are not reused
    log.clear();
    source->Raise(2);
    EXPECT_EQ(log, (std::vector<std::string>{"a2", "c2", "b2"}));

    ComPtr<IEnumConnections> e;
    ASSERT_EQ(source->Events().EnumConnections(e.Put()), S_OK);
    CONNECTDATA cd[4];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(4, cd, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    EXPECT_EQ((std::vector<DWORD>{cd[0].dwCookie, cd[1].dwCookie, cd[2].dwCookie}), (std::vector<DWORD>{1, 3, 4}));
    for (ULONG i = 0; i < fetched; ++i) cd[i].pUnk->Release();
    e.Reset();
    EXPECT_EQ(a.refs, 2u);  // held once by the point

    Deaf deaf;
    DWORD cookie = 99;
    EXPECT_EQ(com::Advise(source, DIID_Events, &deaf, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);

    source->Events().Unadvise(1);
    source->Events().Unadvise(3);
    source->Events().Unadvise(4);
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
    EXPECT_EQ(c.refs, 1u);
}

TEST_F(ComEvents, SinkUnadvisingItselfWhileCalled) {
    Sink a("a", &log), b("b", &log), c("c", &log);
    DWORD cb = 0;
    Advise(&a);
    cb = Advise(&b);
    Advise(&c);
    b.onCall = [&] { EXPECT_EQ(source->Events().Unadvise(cb), S_OK); };
    source->Raise(1);
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "c1"}));
    EXPECT_EQ(b.refs, 1u);  // let go once the raise is over
    log.clear();
    source->Raise(2);
    EXPECT_EQ(log, (std::vector<std::string>{"a2", "c2"}));
    source->Events().Unadvise(1);
    source->Events().Unadvise(3);
}

TEST_F(ComEvents, SinkUnadvisedByAnEarlierSinkIsNotCalled) {
    Sink a("a", &log), b("b", &log);
    Advise(&a);
    DWORD cb = Advise(&b);
    a.onCall = [&] { source->Events().Unadvise(cb); };
    source->Raise(1);
    EXPECT_EQ(log, (std::vector<std::string>{"a1"}));
    source->Events().Unadvise(1);
}

TEST_F(ComEvents, SinkReleasingTheLastReferenceWhileCalled) {
    Sink a("a", &log), b("b", &log);
    Advise(&a);
    Advise(&b);
    // The test's own reference is the source's last one; a drops it mid-raise.
    a.onCall = [&] { source->Release(); };
    source->Raise(1);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1"}));
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
}

TEST_F(ComEvents, ContainerFindsAndEnumeratesItsPoints) {
    ComPtr<IConnectionPoint> cp;
    ASSERT_EQ(source->FindConnectionPoint(DIID_Other, cp.Put()), S_OK);
    IID iid;
    cp->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, DIID_Other);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(cp->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_EQ(back.Get(), source);
    EXPECT_EQ(RefsOf(source), 3u);  // the point counts on its container
    back.Reset();
    cp.Reset();
    EXPECT_EQ(source->FindConnectionPoint(IID_IDispatch, cp.Put()), CONNECT_E_NOCONNECTION);

    ComPtr<IEnumConnectionPoints> e;
    ASSERT_EQ(source->EnumConnectionPoints(e.Put()), S_OK);
    IConnectionPoint* points[3] = {};
    ULONG n = 0;
    EXPECT_EQ(e->Next(3, points, &n), S_FALSE);
    ASSERT_EQ(n, 2u);
    points[0]->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, DIID_Events);
    points[0]->Release();
    points[1]->Release();
    e.Reset();
    EXPECT_EQ(RefsOf(source), 1u);
}

}  // namespace
