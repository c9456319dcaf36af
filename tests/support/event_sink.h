// The IDispatch side of a test's sink for _IPresselEvents. The sink lives in
// the test (no reference counting); a subclass sees each event's DISPID and
// arguments in OnEvent.
#pragma once

#include "pressel/IPressel.h"

namespace test_support {

class EventSinkBase : public IDispatch {
public:
    virtual ~EventSinkBase() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPresselEvents) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) final {
        OnEvent(id, dp);
        return S_OK;
    }

protected:
    virtual void OnEvent(DISPID id, DISPPARAMS* dp) = 0;
};

// Connects sink to the control's event connection point; *cp holds a
// reference the caller releases after Unadvise.
inline HRESULT ConnectSink(IUnknown* control, IDispatch* sink, IConnectionPoint** cp, DWORD* cookie) {
    IConnectionPointContainer* cpc = nullptr;
    HRESULT hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
    if (FAILED(hr)) return hr;
    hr = cpc->FindConnectionPoint(DIID__IPresselEvents, cp);
    cpc->Release();
    if (FAILED(hr)) return hr;
    return (*cp)->Advise(sink, cookie);
}

}  // namespace test_support
