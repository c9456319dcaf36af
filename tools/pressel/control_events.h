// The IDispatch side of an automation client's sink for the control's
// _IPresselEvents.
#pragma once

#include "pressel/IPressel.h"
#include "win/ole.h"

namespace pressel_tool {

// The IUnknown and IDispatch plumbing of a sink that lives as long as its
// client's job (no reference counting, no type information); a subclass
// handles each call of Invoke.
class DispatchSink : public IDispatch {
public:
    virtual ~DispatchSink() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPresselEvents) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo) *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) final {
        return OnInvoke(id, dp);
    }

protected:
    virtual HRESULT OnInvoke(DISPID id, DISPPARAMS* dp) = 0;
};

// Hears HeaderEvent and NotifyMessage with their two I4 arguments in
// declaration order.
class ControlEventSink : public DispatchSink {
protected:
    HRESULT OnInvoke(DISPID id, DISPPARAMS* dp) final {
        if (!dp || dp->cArgs != 2 || dp->rgvarg[0].vt != VT_I4 || dp->rgvarg[1].vt != VT_I4)
            return DISP_E_BADPARAMCOUNT;
        LONG first = dp->rgvarg[1].lVal, second = dp->rgvarg[0].lVal;
        if (id == DISPID_HeaderEvent) OnHeader(first);
        else if (id == DISPID_NotifyMessage) OnNotify(first, second);
        else return DISP_E_MEMBERNOTFOUND;
        return S_OK;
    }

    // HeaderEvent: lFooter 0 asks for the page header, 1 for the footer.
    virtual void OnHeader(LONG lFooter) = 0;
    virtual void OnNotify(LONG lType, LONG lError) = 0;
};

}  // namespace pressel_tool
