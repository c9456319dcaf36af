// COM activation: apartments, in-process servers loaded on demand and kept
// until they agree to be unloaded, program identifiers, the task allocator.
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "com/regread.h"
#include "core/trace.h"
#include "core/utf.h"
#include "win/base.h"
#include "win/objbase.h"
#include "win/registry.h"
#include "win/wcs.h"

namespace platform::com {

LONG ReadRegistryText(HKEY root, const std::u16string& path, const WCHAR* valueName, std::u16string* out) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD type = 0, size = 0;
    rc = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) rc = ERROR_INVALID_DATA;
    std::u16string text;
    if (rc == ERROR_SUCCESS) {
        text.resize(size / 2 + 1);
        size = static_cast<DWORD>(text.size() * 2);
        rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return rc;
    text.resize(size / 2);
    while (!text.empty() && text.back() == 0) text.pop_back();
    *out = std::move(text);
    return ERROR_SUCCESS;
}

std::u16string GuidText(REFGUID guid) {
    WCHAR buffer[40];
    int n = StringFromGUID2(guid, buffer, 40);
    return std::u16string(buffer, n > 0 ? n - 1 : 0);
}

}  // namespace platform::com

namespace {

using platform::com::GuidText;
using platform::com::ReadRegistryText;

struct Apartment {
    int count = 0;
    DWORD model = 0;
};
thread_local Apartment t_apartment;
std::atomic<int> g_apartments{0};  // threads with an apartment

struct Server {
    HMODULE module;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;  // may be missing: such a server stays
};

struct ServerTable {
    // Recursive: a server may activate other classes from DllGetClassObject.
    std::recursive_mutex mutex;
    std::map<std::u16string, Server> servers;  // by the registered path
};

ServerTable& Servers() {
    static auto* table = new ServerTable;  // never destroyed: servers may be freed at exit
    return *table;
}

HRESULT LoadServer(const std::u16string& path, Server* out) {
    ServerTable& table = Servers();
    auto it = table.servers.find(path);
    if (it != table.servers.end()) {
        *out = it->second;
        return S_OK;
    }
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddressW(module, u"DllGetClassObject")));
    if (!get) {
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    Server server{module, get, reinterpret_cast<LPFNCANUNLOADNOW>(
                                   reinterpret_cast<void*>(GetProcAddressW(module, u"DllCanUnloadNow")))};
    table.servers.emplace(path, server);
    *out = server;
    return S_OK;
}

}  // namespace

WINOLEAPI CoInitializeEx(LPVOID, DWORD dwCoInit) {
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    Apartment& apartment = t_apartment;
    if (apartment.count > 0 && apartment.model != model) return RPC_E_CHANGED_MODE;
    if (apartment.count++ > 0) return S_FALSE;
    apartment.model = model;
    ++g_apartments;
    return S_OK;
}

WINOLEAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

WINOLEAPI_(void) CoUninitialize(void) {
    Apartment& apartment = t_apartment;
    if (apartment.count == 0) return;  // unbalanced: nothing to end
    if (--apartment.count > 0) return;
    if (--g_apartments == 0) CoFreeUnusedLibraries();
}

WINOLEAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (t_apartment.count == 0) return CO_E_NOTINITIALIZED;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::u16string path;
    LONG rc = ReadRegistryText(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidText(rclsid) + u"\\InprocServer32", nullptr, &path);
    PLATFORM_TRACE("CoGetClassObject(%s) -> %s", platform::ToUtf8(GuidText(rclsid)).c_str(),
                   platform::ToUtf8(path).c_str());
    if (rc != ERROR_SUCCESS || path.empty()) return REGDB_E_CLASSNOTREG;
    ServerTable& table = Servers();
    std::lock_guard lock(table.mutex);
    Server server{};
    HRESULT hr = LoadServer(path, &server);
    if (FAILED(hr)) return hr;
    return server.getClassObject(rclsid, riid, ppv);
}

WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

WINOLEAPI_(void) CoFreeUnusedLibraries(void) {
    ServerTable& table = Servers();
    std::lock_guard lock(table.mutex);
    for (auto it = table.servers.begin(); it != table.servers.end();) {
        const Server& server = it->second;
        if (server.canUnloadNow && server.canUnloadNow() == S_OK) {
            FreeLibrary(server.module);
            it = table.servers.erase(it);
        } else {
            ++it;
        }
    }
}

WINOLEAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    *lpclsid = CLSID_NULL;
    if (lpszProgID[0] == u'{') return CLSIDFromString(lpszProgID, lpclsid);
    std::u16string progId = lpszProgID;
    // CurVer chains are short; the bound stops a loop in a damaged registry.
    for (int hops = 0; hops < 8 && !progId.empty(); ++hops) {
        std::u16string text;
        if (ReadRegistryText(HKEY_CLASSES_ROOT, progId + u"\\CLSID", nullptr, &text) == ERROR_SUCCESS)
            return SUCCEEDED(CLSIDFromString(text.c_str(), lpclsid)) ? S_OK : CO_E_CLASSSTRING;
        std::u16string next;
        if (ReadRegistryText(HKEY_CLASSES_ROOT, progId + u"\\CurVer", nullptr, &next) != ERROR_SUCCESS) break;
        progId = next;
    }
    return CO_E_CLASSSTRING;
}

namespace {

HRESULT TaskString(const std::u16string& text, LPOLESTR* out) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!copy) return E_OUTOFMEMORY;
    text.copy(copy, text.size());
    copy[text.size()] = 0;
    *out = copy;
    return S_OK;
}

}  // namespace

WINOLEAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    std::u16string text;
    if (ReadRegistryText(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidText(clsid) + u"\\ProgID", nullptr, &text) !=
            ERROR_SUCCESS ||
        text.empty())
        return REGDB_E_CLASSNOTREG;
    return TaskString(text, lplpszProgID);
}

WINOLEAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (!lplpsz) return E_INVALIDARG;
    return TaskString(GuidText(rclsid), lplpsz);
}

WINOLEAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }
WINOLEAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb ? cb : 1); }
WINOLEAPI_(void) CoTaskMemFree(LPVOID pv) { std::free(pv); }
