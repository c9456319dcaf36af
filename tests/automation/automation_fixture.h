// The control as automation clients see it: libstavlo.so loaded by its path,
// registered into a scratch registry, objects made by CoCreateInstance from
// the program identifier, members reached by name through IDispatch.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pressel/IPressel.h"
#include "pressel/OleControl.h"
#include "pressel/registry.h"
#include "windows.h"

namespace automation_test {

inline std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::string Narrow(const WCHAR* s) {
    std::string out;
    for (; s && *s; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

inline const std::string kLibrary = std::string(PRESSEL_LIB_DIR) + "/libstavlo.so";

// An event sink that records (sink tag, DISPID, first, second) into a shared log.
struct Event {
    int sink;
    DISPID id;
    LONG a, b;
    bool operator==(const Event&) const = default;
};

class Sink final : public IDispatch {
public:
    Sink(int tag, std::vector<Event>* log, HRESULT answer = S_OK) : tag_(tag), log_(log), answer_(answer) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPresselEvents) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) override {
        if (dp && dp->cArgs == 2) log_->push_back({tag_, id, dp->rgvarg[1].lVal, dp->rgvarg[0].lVal});
        return answer_;
    }
    ULONG refs = 0;

private:
    int tag_;
    std::vector<Event>* log_;
    HRESULT answer_;
};

class AutomationFixture : public ::testing::Test {
protected:
    using DllFn = HRESULT (*)();
    using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);

    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "pressel-auto-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        setenv("PRESSEL_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
        module_ = LoadLibraryW(U16(kLibrary).c_str());
        ASSERT_NE(module_, nullptr) << kLibrary;
        registerServer_ = Entry<DllFn>(u"DllRegisterServer");
        unregisterServer_ = Entry<DllFn>(u"DllUnregisterServer");
        canUnloadNow_ = Entry<DllFn>(u"DllCanUnloadNow");
        getClassObject_ = Entry<GetClassObjectFn>(u"DllGetClassObject");
        ASSERT_TRUE(registerServer_ && unregisterServer_ && canUnloadNow_ && getClassObject_);
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }

    void TearDown() override {
        CoUninitialize();
        if (module_) FreeLibrary(module_);
        unsetenv("PRESSEL_REGISTRY");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    template <typename F>
    F Entry(const char16_t* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddressW(module_, name)));
    }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    // A registered control created from the program identifier.
    IDispatch* Create() {
        EXPECT_EQ(registerServer_(), S_OK);
        CLSID clsid;
        EXPECT_EQ(CLSIDFromProgID(u"Quendrix.Pressel", &clsid), S_OK);
        IDispatch* disp = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&disp)),
                  S_OK);
        return disp;
    }

    static DISPID Id(IDispatch* disp, const char16_t* name) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << Narrow(name);
        return id;
    }

    // Calls a member by name; args in declaration order (they are reversed
    // into DISPPARAMS here). The caller clears *result.
    static HRESULT Call(IDispatch* disp, const char16_t* name, WORD flags, std::vector<VARIANT> args,
                        VARIANT* result = nullptr, EXCEPINFO* excep = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS dp = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (flags == DISPATCH_PROPERTYPUT) {
            dp.rgdispidNamedArgs = &put;
            dp.cNamedArgs = 1;
        }
        UINT argErr = 0;
        HRESULT hr = disp->Invoke(Id(disp, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, excep, &argErr);
        for (VARIANT& v : args) VariantClear(&v);
        return hr;
    }

    static VARIANT I4(LONG v) {
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_I4;
        var.lVal = v;
        return var;
    }
    static VARIANT Str(const std::string& s) {
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_BSTR;
        var.bstrVal = SysAllocString(U16(s).c_str());
        return var;
    }

    // A property read by name, as a long (VT_BOOL as -1/0).
    static LONG Get(IDispatch* disp, const char16_t* name) {
        VARIANT r;
        VariantInit(&r);
        EXPECT_EQ(Call(disp, name, DISPATCH_PROPERTYGET, {}, &r), S_OK) << Narrow(name);
        LONG v = r.vt == VT_BOOL ? r.boolVal : r.vt == VT_I4 ? r.lVal : 0x7EADBEEF;
        VariantClear(&r);
        return v;
    }

    static IConnectionPoint* EventsPoint(IUnknown* unk) {
        IConnectionPointContainer* cpc = nullptr;
        EXPECT_EQ(unk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
        IConnectionPoint* cp = nullptr;
        if (cpc) {
            EXPECT_EQ(cpc->FindConnectionPoint(DIID__IPresselEvents, &cp), S_OK);
            cpc->Release();
        }
        return cp;
    }

    // The printer "P" with entry "E", no pages, no delays.
    std::string WriteIni(const std::string& extra = "") const {
        std::string ini = Path("printer.ini");
        std::ofstream(ini) << "[P]\n"
                           << extra
                           << "\nEntryName=E\nInitSeq=27,64\nNormalFontSeq=27,78\nStartupDelay=0\n"
                              "ShutdownDelay=0\nPrintableLines=0\n[PrinterPorts]\nE=LPT1:\n";
        return ini;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path dir_;
    HMODULE module_ = nullptr;
    DllFn registerServer_ = nullptr, unregisterServer_ = nullptr, canUnloadNow_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
};

}  // namespace automation_test
