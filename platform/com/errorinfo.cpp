// Error objects and the error object of each thread.
#include <atomic>
#include <new>

#include "win/ole.h"

namespace {

class ErrorInfo final : public ICreateErrorInfo, public IErrorInfo {
public:
    // IUnknown, shared by both interfaces.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICreateErrorInfo) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else if (riid == IID_IErrorInfo) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // ICreateErrorInfo
    STDMETHODIMP SetGUID(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    STDMETHODIMP SetSource(LPOLESTR text) override { return Store(&source_, text); }
    STDMETHODIMP SetDescription(LPOLESTR text) override { return Store(&description_, text); }
    STDMETHODIMP SetHelpFile(LPOLESTR text) override { return Store(&helpFile_, text); }
    STDMETHODIMP SetHelpContext(DWORD context) override {
        helpContext_ = context;
        return S_OK;
    }

    // IErrorInfo
    STDMETHODIMP GetGUID(GUID* pGUID) override {
        if (!pGUID) return E_INVALIDARG;
        *pGUID = guid_;
        return S_OK;
    }
    STDMETHODIMP GetSource(BSTR* out) override { return Copy(source_, out); }
    STDMETHODIMP GetDescription(BSTR* out) override { return Copy(description_, out); }
    STDMETHODIMP GetHelpFile(BSTR* out) override { return Copy(helpFile_, out); }
    STDMETHODIMP GetHelpContext(DWORD* out) override {
        if (!out) return E_INVALIDARG;
        *out = helpContext_;
        return S_OK;
    }

private:
    ~ErrorInfo() {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(helpFile_);
    }

    static HRESULT Store(BSTR* field, LPOLESTR text) {
        BSTR copy = nullptr;
        if (text && !(copy = SysAllocString(text))) return E_OUTOFMEMORY;
        SysFreeString(*field);
        *field = copy;
        return S_OK;
    }
    static HRESULT Copy(BSTR field, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (!field) return S_OK;
        *out = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(field), SysStringByteLen(field));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    BSTR source_ = nullptr;
    BSTR description_ = nullptr;
    BSTR helpFile_ = nullptr;
    DWORD helpContext_ = 0;
};

// The calling thread's error object; released when the thread ends.
struct ThreadErrorInfo {
    IErrorInfo* info = nullptr;
    ~ThreadErrorInfo() {
        if (info) info->Release();
    }
};
thread_local ThreadErrorInfo t_errorInfo;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = new (std::nothrow) ErrorInfo;
    return *pperrinfo ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG /*dwReserved*/, IErrorInfo* perrinfo) {
    if (perrinfo) perrinfo->AddRef();
    IErrorInfo* old = t_errorInfo.info;
    t_errorInfo.info = perrinfo;
    // Released last: its destructor may set another error object.
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG /*dwReserved*/, IErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = t_errorInfo.info;
    t_errorInfo.info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}
