// COM activation against the test server registered in a scratch registry.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "scratch_registry.h"
#include "tests/platform_com/test_calc.h"
#include "win/objbase.h"

namespace {

const std::string kServer = PRESSEL_LIB_DIR "/libpressel_test_server.so";
const std::string kCalcKey = "HKEY_CLASSES_ROOT\\CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}";

// Whether the server is mapped, asked without taking a reference.
bool ServerLoaded() {
    void* handle = dlopen(kServer.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

long ServerObjects() {
    void* handle = dlopen(kServer.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return -1;
    auto fn = reinterpret_cast<long (*)()>(dlsym(handle, "TestServerObjects"));
    long n = fn ? fn() : -2;
    dlclose(handle);
    return n;
}

class ActivationTest : public ScratchRegistry {
protected:
    void SetUp() override {
        ScratchRegistry::SetUp();
        Import("[" + kCalcKey + "\\InprocServer32]\n@=\"" + kServer +
               "\"\n\"ThreadingModel\"=\"Apartment\"\n"
               "[" + kCalcKey + "\\ProgID]\n@=\"Test.Calc.1\"\n"
               "[HKEY_CLASSES_ROOT\\Test.Calc.1\\CLSID]\n@=\"{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}\"\n"
               "[HKEY_CLASSES_ROOT\\Test.Calc\\CurVer]\n@=\"Test.Calc.1\"\n"
               "[HKEY_CLASSES_ROOT\\Test.Loop\\CurVer]\n@=\"Test.Loop\"\n");
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        CoUninitialize();  // the last apartment: frees the server when it is unused
        EXPECT_FALSE(ServerLoaded());
        ScratchRegistry::TearDown();
    }
};

TEST(Apartments, CountedPerThreadAndRequiredForActivation) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many: ignored
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

TEST_F(ActivationTest, CreatesCallsAndKeepsTheServerWhileObjectsLive) {
    ITestCalc* calc = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCalc, nullptr, CLSCTX_ALL, IID_ITestCalc, reinterpret_cast<void**>(&calc)),
              S_OK);
    LONG sum = 0;
    EXPECT_EQ(calc->Add(40, 2, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    EXPECT_EQ(ServerObjects(), 1);

    CoFreeUnusedLibraries();
    EXPECT_TRUE(ServerLoaded());
    calc->Release();
    EXPECT_EQ(ServerObjects(), 0);
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ServerLoaded());
}

TEST_F(ActivationTest, LockServerHoldsTheLibrary) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCalc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(ServerLoaded());
    // The factory of a loaded server is still valid.
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ServerLoaded());
}

TEST_F(ActivationTest, FailuresOfActivation) {
    Import("[HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32]\n"
           "@=\"/nonexistent/libnothing.so\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000002}\\InprocServer32]\n"
           "@=\"" PRESSEL_LIB_DIR "/libpressel_rsrc_probe.so\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000003}]\n@=\"no server key\"\n");
    const CLSID missingLib = {0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    const CLSID notAServer = {0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
    const CLSID noServerKey = {0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
    const CLSID unknown = {0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};
    struct Case {
        const CLSID* clsid;
        DWORD context;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {&unknown, CLSCTX_INPROC_SERVER, &IID_IUnknown, REGDB_E_CLASSNOTREG},
        {&noServerKey, CLSCTX_INPROC_SERVER, &IID_IUnknown, REGDB_E_CLASSNOTREG},
        {&missingLib, CLSCTX_INPROC_SERVER, &IID_IUnknown, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {&notAServer, CLSCTX_INPROC_SERVER, &IID_IUnknown, CO_E_ERRORINDLL},
        {&CLSID_TestCalc, CLSCTX_LOCAL_SERVER, &IID_IUnknown, REGDB_E_CLASSNOTREG},
        {&CLSID_TestCalc, CLSCTX_INPROC_SERVER, &IID_IConnectionPoint, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(CoCreateInstance(*c.clsid, nullptr, c.context, *c.iid, &object), c.expected);
        EXPECT_EQ(object, nullptr);
    }
    IUnknown* outer = reinterpret_cast<IUnknown*>(0x10);  // never called: refused first
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCalc, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(ServerObjects(), 0);
}

TEST_F(ActivationTest, ProgramIdentifiers) {
    struct Case {
        const char16_t* progId;
        HRESULT expected;
    } cases[] = {
        {u"Test.Calc.1", S_OK},
        {u"Test.Calc", S_OK},  // through CurVer
        {u"test.calc", S_OK},  // registry keys ignore case
        {u"{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}", S_OK},
        {u"Test.Loop", CO_E_CLASSSTRING},
        {u"No.Such.Thing", CO_E_CLASSSTRING},
        {u"", CO_E_CLASSSTRING},
    };
    for (const Case& c : cases) {
        CLSID clsid = IID_IDispatch;
        EXPECT_EQ(CLSIDFromProgID(c.progId, &clsid), c.expected);
        EXPECT_TRUE(clsid == (c.expected == S_OK ? CLSID_TestCalc : CLSID_NULL));
    }
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TestCalc, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Test.Calc.1");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(IID_IDispatch, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
}

}  // namespace
