// Creation through the class store, registration and unloading, against the
// fixture server built beside this test.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "com/com.h"
#include "fixture_ids.h"
#include "registry/registry.h"
#include "test_util.h"

using com::ComPtr;
using com::Variant;

namespace {

std::string Canonical(const std::string& p) {
    char buf[PATH_MAX];
    return ::realpath(p.c_str(), buf) ? buf : p;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ServerTest : public ::testing::Test {
protected:
    testutil::TempDir dir;
    testutil::ScopedEnv classes{"TESSARY_CLASSES", dir.File("classes.reg")};

    std::string Clsid() const { return com::GuidToString(CLSID_Fixture); }

    // Runs regsvr against this test's class store; returns its exit status.
    int RunRegsvr(const std::string& args, std::string* errors = nullptr) {
        std::string errFile = dir.File("regsvr.err");
        std::string cmd = "TESSARY_CLASSES='" + dir.File("classes.reg") + "' '" REGSVR "' " + args + " >/dev/null 2>'" +
                          errFile + "'";
        int status = std::system(cmd.c_str());
        if (errors) *errors = ReadFile(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ComPtr<IDispatch> Create() {
        ComPtr<IDispatch> obj;
        EXPECT_EQ(com::CreateInstance("Fixture.Server", IID_IDispatch, obj.PutVoid()), S_OK);
        return obj;
    }

    DISPID IdOf(IDispatch* d, const char16_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 12345;
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        return id;
    }
};

// A sink for the fixture's Tick(n, cancel) event that records what it hears.
class TickSink final : public IDispatch {
public:
    std::vector<int> heard;
    short setCancel = 0;
    ComPtr<IDispatch>* dropOnCall = nullptr;  // a reference to release when called
    ULONG refs = 1;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_IFixtureEvents) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // lives on the test's stack
    HRESULT GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        EXPECT_EQ(id, 1);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        EXPECT_EQ(p->cArgs, 2u);
        EXPECT_EQ(p->rgvarg[1].vt, VT_I2);
        EXPECT_EQ(p->rgvarg[0].vt, VT_BYREF | VT_I2);
        heard.push_back(p->rgvarg[1].iVal);
        if (setCancel) *p->rgvarg[0].piVal = setCancel;
        if (dropOnCall) dropOnCall->Reset();
        return S_OK;
    }
};

TEST_F(ServerTest, RegistrationWritesTheClassEntries) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    std::string value;
    ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "CLSID\\" + Clsid() + "\\InprocServer32", "", &value));
    EXPECT_EQ(value, Canonical(FIXTURE_SERVER));
    ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "CLSID\\" + Clsid() + "\\InprocServer32", "ThreadingModel", &value));
    EXPECT_EQ(value, "Apartment");
    ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "CLSID\\" + Clsid() + "\\ProgID", "", &value));
    EXPECT_EQ(value, "Fixture.Server.1");
    ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "Fixture.Server\\CurVer", "", &value));
    EXPECT_EQ(value, "Fixture.Server.1");
    ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "Fixture.Server.1\\CLSID", "", &value));
    EXPECT_EQ(value, Clsid());
    ASSERT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "Interface\\" + com::GuidToString(IID_IFixture), "", &value));
    EXPECT_EQ(value, "IFixture");
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ("CLSID\\" + Clsid() + "\\Programmable").c_str(), 0, KEY_READ, &k),
              ERROR_SUCCESS);
    RegCloseKey(k);

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_Fixture, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Fixture.Server.1");
    CoTaskMemFree(progId);
}

TEST_F(ServerTest, UnregistrationRemovesOnlyItsOwnEntries) {
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Other.Class\\CLSID", "", "{00000000-0000-0000-0000-000000000001}"));
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);  // twice is harmless
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, true), S_OK);

    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ("CLSID\\" + Clsid()).c_str(), 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Fixture.Server", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Fixture.Server.1", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    std::string other;
    EXPECT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "Other.Class\\CLSID", "", &other));

    ComPtr<IDispatch> obj;
    EXPECT_EQ(com::CreateInstance("Fixture.Server", IID_IDispatch, obj.PutVoid()), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, obj.PutVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(obj);
    // Unregistering what is not there is not an error.
    EXPECT_EQ(com::RegisterModule(FIXTURE_SERVER, true), S_OK);
}

TEST_F(ServerTest, UnregistrationKeepsAProgIdTakenOverByAnotherClass) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Fixture.Server\\CLSID", "", "{00000000-0000-0000-0000-000000000002}"));
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, true), S_OK);
    std::string value;
    EXPECT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "Fixture.Server\\CLSID", "", &value));
    EXPECT_FALSE(reg::GetString(HKEY_CLASSES_ROOT, "Fixture.Server.1\\CLSID", "", &value));
}

TEST_F(ServerTest, ProgIdsResolveDirectlyAndThroughCurVer) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    CLSID c;
    EXPECT_EQ(CLSIDFromProgID(u"Fixture.Server.1", &c), S_OK);
    EXPECT_EQ(c, CLSID_Fixture);
    EXPECT_EQ(CLSIDFromProgID(u"fixture.server", &c), S_OK);  // names compare without case
    EXPECT_EQ(c, CLSID_Fixture);

    // A newer version named by CurVer wins over the version-independent key's own CLSID.
    GUID v2 = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Fixture.Server.2\\CLSID", "", com::GuidToString(v2)));
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Fixture.Server\\CurVer", "", "Fixture.Server.2"));
    EXPECT_EQ(com::ClsidFromText("Fixture.Server", &c), S_OK);
    EXPECT_EQ(c, v2);

    // A CurVer loop ends instead of hanging.
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Loop.A\\CurVer", "", "Loop.B"));
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Loop.B\\CurVer", "", "Loop.A"));
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Loop.A\\CLSID", "", com::GuidToString(v2)));
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "Loop.B\\CLSID", "", com::GuidToString(v2)));
    EXPECT_EQ(com::ClsidFromText("Loop.A", &c), S_OK);
    EXPECT_EQ(c, v2);

    EXPECT_EQ(com::ClsidFromText(Clsid(), &c), S_OK);
    EXPECT_EQ(c, CLSID_Fixture);
}

TEST_F(ServerTest, BadNamesAndPathsGiveClearCodes) {
    CLSID c;
    EXPECT_EQ(com::ClsidFromText("{5D0C1A41-7E39-4B8E-9C57-2F0B6A1D3E1}", &c), CO_E_CLASSSTRING);
    EXPECT_EQ(com::ClsidFromText("Not.Registered", &c), CO_E_CLASSSTRING);
    EXPECT_EQ(com::ClsidFromText("", &c), CO_E_CLASSSTRING);
    EXPECT_EQ(com::ClsidFromText("CLSID\\" + Clsid(), &c), CO_E_CLASSSTRING);

    void* p = reinterpret_cast<void*>(1);
    // Registered, but the module is gone.
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "CLSID\\" + Clsid() + "\\InprocServer32", "", dir.File("gone.so")));
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
    EXPECT_EQ(p, nullptr);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    com::BStr text;
    info->GetDescription(text.Put());
    EXPECT_NE(text.Utf8().find("gone.so"), std::string::npos) << text.Utf8();

    // Registered, but the module is a library without the exports.
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "CLSID\\" + Clsid() + "\\InprocServer32", "", NOT_A_SERVER));
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_ERRORINDLL);
    EXPECT_FALSE(com::IsModuleLoaded(NOT_A_SERVER));

    // Registered, but the module is not a shared object at all.
    std::ofstream(dir.File("text.so")) << "not an ELF file\n";
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "CLSID\\" + Clsid() + "\\InprocServer32", "", dir.File("text.so")));
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_DLLNOTFOUND);

    EXPECT_EQ(com::RegisterModule(dir.File("missing.so"), false), CO_E_DLLNOTFOUND);
    EXPECT_EQ(com::RegisterModule(NOT_A_SERVER, false), CO_E_ERRORINDLL);
    EXPECT_EQ(com::RegisterModule(dir.File("text.so"), true), CO_E_DLLNOTFOUND);
}

TEST_F(ServerTest, CreationRefusesAggregationAndUnknownClasses) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    TickSink outer;
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    GUID unknown = {0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    // An interface the class does not have.
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ServerTest, DamagedClassStoreIsReportedAndKeptAside) {
    std::ofstream(dir.File("classes.reg")) << "\x7f" "ELF garbage\n\x01\x02";
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Fixture, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_READREGDB);
    bool aside = false;
    for (auto& e : std::filesystem::directory_iterator(dir.Path().string()))
        if (e.path().filename().string().rfind("classes.reg.damaged-", 0) == 0) aside = true;
    EXPECT_TRUE(aside);
    // The store starts empty afterwards and can be registered into again.
    EXPECT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ComPtr<IDispatch> obj = Create();
    EXPECT_TRUE(obj);
}

TEST_F(ServerTest, LateBoundCallsReachTheServer) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ComPtr<IDispatch> obj = Create();
    ASSERT_TRUE(obj);

    EXPECT_EQ(IdOf(obj.Get(), u"ADD"), 1);
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Name"), const_cast<LPOLESTR>(u"Nope")};
    DISPID ids[2];
    EXPECT_EQ(obj->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);

    // Arguments in natural order reach the server last-first; text converts to a number.
    Variant result;
    ASSERT_EQ(com::Invoke(obj.Get(), 1, DISPATCH_METHOD, {Variant::I2(2), Variant::Str("40")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);
    EXPECT_EQ(com::Invoke(obj.Get(), 1, DISPATCH_METHOD, {Variant::I2(2)}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(com::Invoke(obj.Get(), 1, DISPATCH_METHOD, {Variant::I2(2), Variant::Str("x")}, &result),
              DISP_E_TYPEMISMATCH);

    // A string with an embedded NUL survives the round trip.
    std::u16string withNul(u"a\0b", 3);
    ASSERT_EQ(com::PropertyPut(obj.Get(), 2, Variant::Str(withNul)), S_OK);
    ASSERT_EQ(com::PropertyGet(obj.Get(), 2, &result), S_OK);
    EXPECT_EQ(result.ToU16(), withNul);

    // An indexed property: the index comes first, the value is the named argument.
    ASSERT_EQ(com::PropertyPut(obj.Get(), 5, Variant::I4(7), {Variant::I4(1)}), S_OK);
    ASSERT_EQ(com::PropertyGet(obj.Get(), 5, &result, {Variant::I4(1)}), S_OK);
    EXPECT_EQ(result.lVal, 7);
    ASSERT_EQ(com::PropertyGet(obj.Get(), 5, &result, {Variant::I4(0)}), S_OK);
    EXPECT_EQ(result.lVal, 0);
    EXPECT_EQ(com::PropertyGet(obj.Get(), 5, &result, {Variant::I4(3)}), DISP_E_BADINDEX);
    EXPECT_EQ(com::PropertyPut(obj.Get(), 6, Variant::I4(1)), CTL_E_SETNOTSUPPORTED);
    EXPECT_EQ(com::Invoke(obj.Get(), 99, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ServerTest, ExceptionsCarryScodeAndErrorInfo) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ComPtr<IDispatch> obj = Create();
    ASSERT_TRUE(obj);
    com::ExcepInfo ex;
    Variant result;
    EXPECT_EQ(com::Invoke(obj.Get(), 4, DISPATCH_METHOD, {}, &result, &ex), DISP_E_EXCEPTION);
    EXPECT_EQ(ex.scode, E_FAIL);
    EXPECT_EQ(com::BStr(ex.bstrDescription ? ex.bstrDescription : u"").Utf8(), "Fixture failure");

    std::string description, source;
    ASSERT_TRUE(com::TakeErrorInfo(obj.Get(), IID_IFixture, &description, &source));
    EXPECT_EQ(description, "Fixture failure");
    EXPECT_EQ(source, "Fixture.Server.1");
    // Taken means gone.
    EXPECT_FALSE(com::TakeErrorInfo(obj.Get(), IID_IFixture, &description));

    // The object does not vouch for other interfaces.
    com::Invoke(obj.Get(), 4, DISPATCH_METHOD, {}, &result);
    EXPECT_FALSE(com::TakeErrorInfo(obj.Get(), IID_IDispatch, &description));
}

TEST_F(ServerTest, EventsReachSinksInConnectionOrder) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ComPtr<IDispatch> obj = Create();
    ASSERT_TRUE(obj);
    TickSink a, b;
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(com::Advise(obj.Get(), DIID_IFixtureEvents, &b, &cb), S_OK);
    ASSERT_EQ(com::Advise(obj.Get(), DIID_IFixtureEvents, &a, &ca), S_OK);
    EXPECT_EQ(cb, 1u);
    EXPECT_EQ(ca, 2u);
    b.setCancel = -1;
    Variant result;
    ASSERT_EQ(com::Invoke(obj.Get(), 3, DISPATCH_METHOD, {Variant::I2(7)}, &result), S_OK);
    EXPECT_EQ(result.iVal, -1);  // the by-reference cancel flag came back
    EXPECT_EQ(b.heard, std::vector<int>{7});
    EXPECT_EQ(a.heard, std::vector<int>{7});

    ASSERT_EQ(com::Unadvise(obj.Get(), DIID_IFixtureEvents, cb), S_OK);
    EXPECT_EQ(com::Unadvise(obj.Get(), DIID_IFixtureEvents, cb), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(com::Invoke(obj.Get(), 3, DISPATCH_METHOD, {Variant::I2(8)}, &result), S_OK);
    EXPECT_EQ(result.iVal, 0);
    EXPECT_EQ(b.heard, std::vector<int>{7});
    EXPECT_EQ((a.heard), (std::vector<int>{7, 8}));
    ASSERT_EQ(com::Unadvise(obj.Get(), DIID_IFixtureEvents, ca), S_OK);
    EXPECT_EQ(a.refs, 1u);  // the point let go of the sink
    EXPECT_EQ(b.refs, 1u);

    GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    DWORD c = 0;
    EXPECT_EQ(com::Advise(obj.Get(), other, &a, &c), CONNECT_E_NOCONNECTION);
}

TEST_F(ServerTest, SinkDroppingTheLastReferenceDuringAnEvent) {
    ASSERT_EQ(com::RegisterModule(FIXTURE_SERVER, false), S_OK);
    ComPtr<IDispatch> obj = Create();
    ASSERT_TRUE(obj);
    TickSink first, second;
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(com::Advise(obj.Get(), DIID_IFixtureEvents, &first, &c1), S_OK);
    ASSERT_EQ(com::Advise(obj.Get(), DIID_IFixtureEvents, &second, &c2), S_OK);
    // The sink drops the only reference while the event is raised: the object
    // outlives the raise and goes when the call ends, releasing both sinks.
    ComPtr<IDispatch> holder = std::move(obj);
    first.dropOnCall = &holder;
    IDispatch* raw = holder.Get();
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I2;
    arg.iVal = 3;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXPECT_EQ(raw->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_FALSE(holder);
    EXPECT_EQ(first.heard, std::vector<int>{3});
    EXPECT_EQ(second.heard, std::vector<int>{3});
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 1u);
}

TEST_F(ServerTest, ModuleUnloadsOnlyWhenItSaysSo) {
    // Registered by the tool, so that this process holds no pin on the module.
    ASSERT_EQ(RunRegsvr(std::string("'") + FIXTURE_SERVER + "'"), 0);
    auto mapped = [] {
        void* h = ::dlopen(FIXTURE_SERVER, RTLD_LAZY | RTLD_NOLOAD);
        if (h) ::dlclose(h);
        return h != nullptr;
    };
    ASSERT_FALSE(mapped());
    ComPtr<IDispatch> obj = Create();
    ASSERT_TRUE(obj);
    EXPECT_TRUE(com::IsModuleLoaded(FIXTURE_SERVER));
    CoFreeUnusedLibraries();
    EXPECT_TRUE(com::IsModuleLoaded(FIXTURE_SERVER));  // an object is alive

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Fixture, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutVoid()), S_OK);
    factory->LockServer(TRUE);
    factory.Reset();
    obj.Reset();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(com::IsModuleLoaded(FIXTURE_SERVER));  // locked
    EXPECT_TRUE(mapped());

    ASSERT_EQ(CoGetClassObject(CLSID_Fixture, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(com::IsModuleLoaded(FIXTURE_SERVER));
    EXPECT_FALSE(mapped());

    // And it comes back on the next creation.
    obj = Create();
    EXPECT_TRUE(obj);
    EXPECT_TRUE(com::IsModuleLoaded(FIXTURE_SERVER));
}

TEST_F(ServerTest, RegsvrToolRegistersAndUnregisters) {
    std::string errors;
    ASSERT_EQ(RunRegsvr(std::string("'") + FIXTURE_SERVER + "'", &errors), 0) << errors;
    std::string value;
    EXPECT_TRUE(reg::GetString(HKEY_CLASSES_ROOT, "Fixture.Server.1\\CLSID", "", &value));
    ASSERT_EQ(RunRegsvr(std::string("/u '") + FIXTURE_SERVER + "'", &errors), 0) << errors;
    EXPECT_FALSE(reg::GetString(HKEY_CLASSES_ROOT, "Fixture.Server.1\\CLSID", "", &value));

    EXPECT_EQ(RunRegsvr("'" + dir.File("missing.so") + "'", &errors), 1);
    EXPECT_NE(errors.find("missing.so"), std::string::npos) << errors;
    EXPECT_NE(errors.find("cannot be loaded"), std::string::npos) << errors;
    EXPECT_EQ(RunRegsvr(std::string("'") + NOT_A_SERVER + "'", &errors), 1);
    EXPECT_NE(errors.find("not an in-process server"), std::string::npos) << errors;
    EXPECT_EQ(RunRegsvr("", &errors), 2);
    EXPECT_NE(errors.find("usage"), std::string::npos);
}

}  // namespace
