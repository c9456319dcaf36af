// The tool's automation client of the Pressel control.
#include "tools/pressel/automation_client.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "win/base.h"

namespace pressel_tool {
namespace {

const char16_t* const kProgId = u"Quendrix.Pressel";

VARIANT Text(const std::u16string& s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}

VARIANT Long(LONG l) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = l;
    return v;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

std::u16string Wide(const std::string& text) {
    if (text.empty()) return {};
    std::u16string wide(text.size(), u'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

std::string Narrow(std::u16string_view text, UINT codePage) {
    if (text.empty()) return {};
    std::string out(text.size() * 3, '\0');
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string DefaultServerPath() {
    // The platform library is loaded already; asking for it by name only finds it.
    void* platform = ::dlopen("libpressel-platform.so", RTLD_LAZY | RTLD_NOLOAD);
    link_map* map = nullptr;
    std::string path = "libstavlo.so";
    if (platform && ::dlinfo(platform, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
        path = (std::filesystem::path(map->l_name).parent_path() / "libstavlo.so").lexically_normal().string();
    if (platform) ::dlclose(platform);
    return path;
}

HRESULT RunServerEntry(const std::string& path, bool bRegister, std::string* why) {
    HMODULE module = LoadLibraryW(Wide(path).c_str());
    if (!module) {
        *why = "cannot load " + path;
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const char16_t* name = bRegister ? u"DllRegisterServer" : u"DllUnregisterServer";
    auto entry = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddressW(module, name)));
    HRESULT hr = E_UNEXPECTED;
    if (!entry) {
        *why = path + " has no " + (bRegister ? "DllRegisterServer" : "DllUnregisterServer");
    } else {
        hr = entry();
        if (FAILED(hr)) *why = std::string(bRegister ? "registration" : "unregistration") + " failed (" + Hex(hr) + ")";
    }
    FreeLibrary(module);
    return hr;
}

PresselClient::~PresselClient() {
    if (m_pCP) {
        m_pCP->Unadvise(m_dwCookie);
        m_pCP->Release();
    }
    if (m_pDisp) m_pDisp->Release();
}

bool PresselClient::Create(const char* verb, bool quiet, std::string* why) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    if (hr == CO_E_CLASSSTRING) {
        std::string path = DefaultServerPath();
        if (FAILED(RunServerEntry(path, true, why))) return false;
        if (!quiet) std::fprintf(stderr, "pressel %s: registered the Pressel control from %s\n", verb, path.c_str());
        hr = CLSIDFromProgID(kProgId, &clsid);
    }
    if (FAILED(hr)) {
        *why = "Quendrix.Pressel is not registered (" + Hex(hr) + ")";
        return false;
    }
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&m_pDisp));
    if (FAILED(hr)) {
        m_pDisp = nullptr;
        *why = "the control could not be created (" + Hex(hr) + ")";
        return false;
    }
    return true;
}

bool PresselClient::Advise(IDispatch* sink) {
    IConnectionPointContainer* cpc = nullptr;
    if (!m_pDisp || FAILED(m_pDisp->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc))))
        return false;
    HRESULT hr = cpc->FindConnectionPoint(DIID__IPresselEvents, &m_pCP);
    cpc->Release();
    if (FAILED(hr)) {
        m_pCP = nullptr;
        return false;
    }
    if (FAILED(m_pCP->Advise(sink, &m_dwCookie))) {
        m_pCP->Release();
        m_pCP = nullptr;
        return false;
    }
    return true;
}

DISPID PresselClient::IdOf(const char16_t* name) {
    auto it = m_ids.find(name);
    if (it != m_ids.end()) return it->second;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (m_pDisp && SUCCEEDED(m_pDisp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) m_ids[name] = id;
    return id;
}

HRESULT PresselClient::Call(const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
    HRESULT hr = DISP_E_UNKNOWNNAME;
    DISPID id = IdOf(name);
    if (id != DISPID_UNKNOWN) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS dp = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        EXCEPINFO excep = {};
        hr = m_pDisp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, &excep, nullptr);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
}

LONG PresselClient::StartLP(const std::u16string& regPath, const std::u16string& printer,
                            const std::u16string& output, LONG lInst, const std::u16string& iniName) {
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = Call(u"StartLP", DISPATCH_METHOD,
                      {Text(regPath), Text(printer), Text(output), Long(lInst), Text(iniName)}, &result);
    LONG value = SUCCEEDED(hr) && result.vt == VT_I4 ? result.lVal : -1;
    VariantClear(&result);
    return value;
}

void PresselClient::Write(const std::u16string& text) { Call(u"Write", DISPATCH_METHOD, {Text(text)}); }
void PresselClient::WriteBytes(const void* bytes, UINT count) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringByteLen(static_cast<const char*>(bytes), count);
    Call(u"WriteBytes", DISPATCH_METHOD, {v, Long(static_cast<LONG>(count))});
}

void PresselClient::FontSelect(LONG type, LONG style, LONG effect) {
    Call(u"FontSelect", DISPATCH_METHOD, {Long(type), Long(style), Long(effect)});
}

void PresselClient::NewLine() { Call(u"NewLine", DISPATCH_METHOD, {}); }
void PresselClient::FormFeed() { Call(u"FormFeed", DISPATCH_METHOD, {}); }
void PresselClient::ActualFormFeed() { Call(u"ActualFormFeed", DISPATCH_METHOD, {}); }
void PresselClient::Cancel() { Call(u"Cancel", DISPATCH_METHOD, {}); }
void PresselClient::UserAbort() { Call(u"UserAbort", DISPATCH_METHOD, {}); }
void PresselClient::Finish() { Call(u"Finish", DISPATCH_METHOD, {}); }

void PresselClient::PrintTextLine(const std::string& line) {
    bool pending = false, sawFormFeed = false;
    for (size_t start = 0;;) {
        size_t ff = line.find('\f', start);
        std::string piece = line.substr(start, ff == std::string::npos ? std::string::npos : ff - start);
        if (!piece.empty()) {
            Write(Wide(piece));
            pending = true;
        }
        if (ff == std::string::npos) break;
        if (pending) NewLine();
        FormFeed();
        pending = false;
        sawFormFeed = true;
        start = ff + 1;
    }
    if (pending || !sawFormFeed) NewLine();
}

void PresselClient::Bitmap(LONG col, LONG height, LONG width, const std::u16string& file) {
    Call(u"Bitmap", DISPATCH_METHOD, {Long(col), Long(height), Long(width), Text(file)});
}

LONG PresselClient::LongProperty(const char16_t* name) {
    VARIANT result;
    VariantInit(&result);
    LONG value = INT32_MIN;
    if (SUCCEEDED(Call(name, DISPATCH_PROPERTYGET, {}, &result)) &&
        SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4)))
        value = result.lVal;
    VariantClear(&result);
    return value;
}

bool PresselClient::StillPrinting() { return LongProperty(u"StillPrinting") == VARIANT_TRUE; }
LONG PresselClient::LastError() { return LongProperty(u"LastError"); }
LONG PresselClient::PageNo() { return LongProperty(u"PageNo"); }

}  // namespace pressel_tool
