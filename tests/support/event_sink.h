// The IDispatch side of a test's sink for _IPresselEvents. The sink lives in
// the test (no reference counting); a subclass sees each event's DISPID and
// arguments in OnEvent.
#pragma once

#include "pressel/IPressel.h"
#include "tools/pressel/control_events.h"

namespace test_support {

class EventSinkBase : public pressel_tool::DispatchSink {
protected:
    virtual void OnEvent(DISPID id, DISPPARAMS* dp) = 0;

private:
    HRESULT OnInvoke(DISPID id, DISPPARAMS* dp) final {
        OnEvent(id, dp);
        return S_OK;
    }
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
