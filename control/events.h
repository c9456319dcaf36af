// The control's connection point for _IPresselEvents (private to the
// control): the connected sinks, and the firing of HeaderEvent and
// NotifyMessage.
#pragma once

#include <vector>

#include "pressel/IPressel.h"
#include "win/ole.h"

class CPressel;

class CPresselEventsCP final : public IConnectionPoint {
public:
    explicit CPresselEventsCP(CPressel* pOwner) : m_pOwner(pOwner) {}
    ~CPresselEventsCP();
    CPresselEventsCP(const CPresselEventsCP&) = delete;
    CPresselEventsCP& operator=(const CPresselEventsCP&) = delete;

    // IUnknown: the lifetime is the owner's.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

    // Calls every connected sink's Invoke with the two I4 arguments (a first).
    void Fire(DISPID dispid, LONG a, LONG b);

private:
    struct Slot {
        DWORD dwCookie;
        IDispatch* pSink;  // null once disconnected
    };

    DWORD NewCookie() const;

    CPressel* m_pOwner;
    // In connection order. Disconnection empties a slot; empty slots are
    // dropped only while no event is being fired, so that a firing loop's
    // indices stay valid whatever its handlers do.
    std::vector<Slot> m_slots;
    DWORD m_dwLastCookie = 0;
    int m_nFiring = 0;
};
