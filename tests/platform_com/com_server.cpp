// A tiny in-process COM server for the activation, registrar and dispatch
// tests: one class, TestCalc, with the dual interface ITestCalc.
#include <dlfcn.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "tests/platform_com/test_calc.h"
#include "pressel/registrar.h"
#include "win/base.h"
#include "win/objbase.h"

#define SERVER_API extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<long> g_locks{0};    // live objects and LockServer(TRUE) calls
std::atomic<long> g_objects{0};  // live objects only
std::atomic<long> g_touches{0};

class Calc final : public ITestCalc {
public:
    Calc() {
        ++g_locks;
        ++g_objects;
    }
    ~Calc() {
        if (info_) info_->Release();
        --g_objects;
        --g_locks;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITestCalc) {
            *ppv = static_cast<ITestCalc*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch, through the registered type library.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        HRESULT hr = LoadInfo();
        if (FAILED(hr)) return hr;
        info_->AddRef();
        *ppTInfo = info_;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
        HRESULT hr = LoadInfo();
        return FAILED(hr) ? hr : DispGetIDsOfNames(info_, rgszNames, cNames, rgDispId);
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                        EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        HRESULT hr = LoadInfo();
        if (FAILED(hr)) return hr;
        return DispInvoke(static_cast<ITestCalc*>(this), info_, dispIdMember, wFlags, pDispParams, pVarResult,
                          pExcepInfo, puArgErr);
    }

    // ITestCalc
    STDMETHODIMP Add(LONG a, LONG b, LONG* pResult) override {
        if (!pResult) return E_POINTER;
        *pResult = a + b;
        return S_OK;
    }
    STDMETHODIMP Concat(BSTR a, BSTR b, BSTR* pResult) override {
        if (!pResult) return E_POINTER;
        std::u16string joined = std::u16string(a ? a : u"") + (b ? b : u"");
        *pResult = SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()));
        return *pResult ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_Value(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = value_;
        return S_OK;
    }
    STDMETHODIMP put_Value(LONG newVal) override {
        value_ = newVal;
        return S_OK;
    }
    STDMETHODIMP Fail(LONG code) override {
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetSource(const_cast<LPOLESTR>(u"TestCalc"));
            create->SetDescription(const_cast<LPOLESTR>(u"Calc failed on purpose"));
            create->SetHelpContext(static_cast<DWORD>(code));
            IErrorInfo* info = nullptr;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
                SetErrorInfo(0, info);
                info->Release();
            }
            create->Release();
        }
        return kCalcFailure;
    }
    STDMETHODIMP Swap(LONG* a, LONG* b) override {
        if (!a || !b) return E_POINTER;
        LONG t = *a;
        *a = *b;
        *b = t;
        return S_OK;
    }
    STDMETHODIMP Describe(LONG n, BSTR s, VARIANT_BOOL f, SHORT h, BSTR* pOut) override {
        if (!pOut) return E_POINTER;
        std::string text = std::to_string(n) + "|";
        for (const OLECHAR* p = s; p && *p; ++p) text += static_cast<char>(*p);
        text += "|" + std::to_string(f) + "|" + std::to_string(h);
        std::u16string wide(text.begin(), text.end());
        *pOut = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        return S_OK;
    }
    STDMETHODIMP Mean(double) override { return E_NOTIMPL; }
    STDMETHODIMP Sum8(LONG a1, LONG a2, LONG a3, LONG a4, LONG a5, LONG a6, LONG a7, LONG a8, LONG* pSum) override {
        if (!pSum) return E_POINTER;
        // Weighted, so that a shuffled argument order shows.
        *pSum = a1 + 2 * a2 + 3 * a3 + 4 * a4 + 5 * a5 + 6 * a6 + 7 * a7 + 8 * a8;
        return S_OK;
    }
    STDMETHODIMP Touch() override {
        ++g_touches;
        return S_OK;
    }

private:
    HRESULT LoadInfo() {
        if (info_) return S_OK;
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadRegTypeLib(LIBID_TestCalcLib, 1, 0, 0, &lib);
        if (FAILED(hr)) return hr;
        hr = lib->GetTypeInfoOfGuid(IID_ITestCalc, &info_);
        lib->Release();
        return hr;
    }

    std::atomic<ULONG> refs_{1};
    LONG value_ = 0;
    ITypeInfo* info_ = nullptr;
};

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: it never holds the module.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        Calc* calc = new Calc;
        HRESULT hr = calc->QueryInterface(riid, ppv);
        calc->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override {
        if (fLock)
            ++g_locks;
        else
            --g_locks;
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

SERVER_API HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_TestCalc) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

SERVER_API HRESULT DllCanUnloadNow() { return g_locks == 0 ? S_OK : S_FALSE; }

// For the tests: how many objects are alive, how often Touch ran.
SERVER_API long TestServerObjects() { return g_objects; }
SERVER_API long TestServerTouches() { return g_touches; }

namespace {

// This library's own module handle (one more load of it; the caller frees it).
HMODULE LoadSelf() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&DllCanUnloadNow), &info) || !info.dli_fname) return nullptr;
    std::string path = info.dli_fname;
    return LoadLibraryW(std::u16string(path.begin(), path.end()).c_str());
}

}  // namespace

SERVER_API HRESULT DllRegisterServer() {
    HMODULE self = LoadSelf();
    if (!self) return E_UNEXPECTED;
    HRESULT hr = PresselUpdateRegistryFromResource(self, 101, TRUE, nullptr);
    WCHAR path[4096];
    DWORD n = GetModuleFileNameW(self, path, 4096);
    FreeLibrary(self);
    if (FAILED(hr)) return hr;
    if (n == 0 || n >= 4096) return E_UNEXPECTED;
    ITypeLib* lib = nullptr;
    hr = LoadTypeLib(path, &lib);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(lib, path, nullptr);
    lib->Release();
    return hr;
}

SERVER_API HRESULT DllUnregisterServer() {
    HMODULE self = LoadSelf();
    if (!self) return E_UNEXPECTED;
    HRESULT hr = PresselUpdateRegistryFromResource(self, 101, FALSE, nullptr);
    FreeLibrary(self);
    return hr;
}
