// The entry points of libstavlo.so, the in-process server of the Pressel
// control: its class factory, the unload check, and registration from the
// library's own resources (registration script 101, type library 1).
#include <dlfcn.h>

#include <string>

#include "control/Pressel.h"
#include "pressel/registrar.h"
#include "win/base.h"

#define STAVLO_EXPORT extern "C" __attribute__((visibility("default")))

STAVLO_EXPORT HRESULT DllCanUnloadNow();

namespace {

constexpr UINT kRegistryScript = 101;

class PresselFactory final : public IClassFactory {
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
    // One factory for the life of the module; references to it do not hold
    // the module (only objects and LockServer do).
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        return CPressel::CreateAggregated(pUnkOuter, riid, ppv);
    }

    STDMETHODIMP LockServer(BOOL fLock) override {
        if (fLock)
            stavlo::LockModule();
        else
            stavlo::UnlockModule();
        return S_OK;
    }
};

PresselFactory g_factory;

// The full path of this library, as the registry and the type library name it.
std::u16string ModulePath() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&DllCanUnloadNow), &info) || !info.dli_fname) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, info.dli_fname, -1, nullptr, 0);
    if (n <= 1) return {};
    std::u16string path(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, info.dli_fname, -1, path.data(), n);
    path.resize(static_cast<size_t>(n - 1));
    return path;
}

// Runs the registration script with this library's handle (one more load of
// the library, freed again).
HRESULT RunScript(BOOL bRegister) {
    std::u16string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    HMODULE self = LoadLibraryW(path.c_str());
    if (!self) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = PresselUpdateRegistryFromResource(self, kRegistryScript, bRegister, nullptr);
    FreeLibrary(self);
    return hr;
}

HRESULT RegisterOwnTypeLib() {
    std::u16string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    ITypeLib* pLib = nullptr;
    HRESULT hr = LoadTypeLib(path.c_str(), &pLib);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(pLib, const_cast<OLECHAR*>(path.c_str()), nullptr);
    pLib->Release();
    return hr;
}

}  // namespace

STAVLO_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(rclsid == CLSID_Pressel)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STAVLO_EXPORT HRESULT DllCanUnloadNow() { return stavlo::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STAVLO_EXPORT HRESULT DllRegisterServer() {
    HRESULT hr = RunScript(TRUE);
    if (FAILED(hr)) return hr;
    return RegisterOwnTypeLib();
}

// The type library stays registered: other servers of the same library may
// still use it.
STAVLO_EXPORT HRESULT DllUnregisterServer() {
    RunScript(FALSE);
    return S_OK;
}
