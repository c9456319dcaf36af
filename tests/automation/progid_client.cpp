// An automation client that knows only the program identifier
// "Quendrix.Pressel": it creates the control through COM, reaches every
// member by name through IDispatch and hears the events through the
// connection point. It prints one text job:
//
//   pressel_progid_client INI PRINTER OUTPUT LINE...
//
// Each LINE is written and ended; "\f" alone is a form feed. Events go to
// standard output as "NotifyMessage A B" and "HeaderEvent A B" lines. The
// exit status is 0 when the job started and ended without error.
#include <cstdio>
#include <string>
#include <vector>

#include "win/ole.h"
#include "windows.h"

namespace {

// The event interface's identity, as the client's own headers would hold it.
const IID kEventsIid = {0x6F1B2C4C, 0x3D8E, 0x4B71, {0x9A, 0x52, 0x0C, 0x7E, 0x4D, 0x9B, 0x1F, 0x31}};

std::u16string Wide(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::u16string out(n > 0 ? static_cast<size_t>(n) : 1, u'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

class Events final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == kEventsIid) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* p) override {
        if (p) *p = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!dp || dp->cArgs != 2) return DISP_E_BADPARAMCOUNT;
        const char* name = id == 1 ? "HeaderEvent" : id == 2 ? "NotifyMessage" : "Unknown";
        std::printf("%s %d %d\n", name, static_cast<int>(dp->rgvarg[1].lVal), static_cast<int>(dp->rgvarg[0].lVal));
        return S_OK;
    }
};

class Client {
public:
    explicit Client(IDispatch* disp) : disp_(disp) {}

    // Calls a member by name with its arguments in declaration order.
    HRESULT Call(const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        HRESULT hr = disp_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (SUCCEEDED(hr)) {
            std::vector<VARIANT> reversed(args.rbegin(), args.rend());
            DISPPARAMS dp = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
            EXCEPINFO excep = {};
            hr = disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, &excep, nullptr);
            SysFreeString(excep.bstrSource);
            SysFreeString(excep.bstrDescription);
            SysFreeString(excep.bstrHelpFile);
        }
        for (VARIANT& v : args) VariantClear(&v);
        return hr;
    }

    LONG Property(const char16_t* name) {
        VARIANT r;
        VariantInit(&r);
        LONG value = -1;
        if (SUCCEEDED(Call(name, DISPATCH_PROPERTYGET, {}, &r)) &&
            SUCCEEDED(VariantChangeType(&r, &r, 0, VT_I4)))
            value = r.lVal;
        VariantClear(&r);
        return value;
    }

    static VARIANT Text(const std::u16string& s) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        return v;
    }
    static VARIANT Long(LONG l) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = l;
        return v;
    }

private:
    IDispatch* disp_;
};

int Run(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s INI PRINTER OUTPUT LINE...\n", argv[0]);
        return 2;
    }
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(u"Quendrix.Pressel", &clsid);
    if (FAILED(hr)) {
        std::fprintf(stderr, "Quendrix.Pressel is not registered (0x%08X)\n", static_cast<unsigned>(hr));
        return 1;
    }
    IDispatch* disp = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&disp));
    if (FAILED(hr)) {
        std::fprintf(stderr, "cannot create the control (0x%08X)\n", static_cast<unsigned>(hr));
        return 1;
    }
    Events events;
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    if (SUCCEEDED(disp->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)))) {
        if (SUCCEEDED(cpc->FindConnectionPoint(kEventsIid, &cp))) cp->Advise(&events, &cookie);
        cpc->Release();
    }

    Client control(disp);
    VARIANT started;
    VariantInit(&started);
    VARIANT noRegistryKey;
    VariantInit(&noRegistryKey);
    noRegistryKey.vt = VT_BSTR;  // a null BSTR: the profile is the INI file
    noRegistryKey.bstrVal = nullptr;
    hr = control.Call(u"StartLP", DISPATCH_METHOD,
                      {noRegistryKey, Client::Text(Wide(argv[2])), Client::Text(Wide(argv[3])), Client::Long(0),
                       Client::Text(Wide(argv[1]))},
                      &started);
    bool ok = SUCCEEDED(hr) && started.vt == VT_I4 && started.lVal == 0;
    for (int i = 4; ok && i < argc; ++i) {
        if (std::string(argv[i]) == "\\f") {
            control.Call(u"FormFeed", DISPATCH_METHOD, {});
        } else {
            control.Call(u"Write", DISPATCH_METHOD, {Client::Text(Wide(argv[i]))});
            control.Call(u"NewLine", DISPATCH_METHOD, {});
        }
    }
    if (ok) {
        std::printf("LineNo %d PageNo %d\n", static_cast<int>(control.Property(u"LineNo")),
                    static_cast<int>(control.Property(u"PageNo")));
        control.Call(u"Finish", DISPATCH_METHOD, {});
    }
    LONG lastError = control.Property(u"LastError");
    std::printf("LastError 0x%08X\n", static_cast<unsigned>(lastError));
    ok = ok && lastError == 0;

    if (cp) {
        cp->Unadvise(cookie);
        cp->Release();
    }
    disp->Release();
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (FAILED(CoInitialize(nullptr))) return 1;
    int rc = Run(argc, argv);
    CoUninitialize();
    return rc;
}
