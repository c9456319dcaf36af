// Events of the control: the connection point for _IPresselEvents, its
// enumerators, and the two methods that raise the events.
#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "control/Pressel.h"

namespace {

IUnknown* AsUnknown(const CONNECTDATA& cd) { return cd.pUnk; }
IUnknown* AsUnknown(IConnectionPoint* cp) { return cp; }

// An enumerator over a snapshot of items that each hold a reference.
template <class IEnum, class Item, const IID& kIid>
class CSnapshotEnum final : public IEnum {
public:
    CSnapshotEnum(std::vector<Item> items, size_t pos) : m_items(std::move(items)), m_pos(pos) {
        for (const Item& item : m_items) AsUnknown(item)->AddRef();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == kIid) {
            *ppv = static_cast<IEnum*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --m_cRef;
        if (left == 0) delete this;
        return left;
    }

    // Hands out up to celt items, each with a reference for the caller.
    STDMETHODIMP Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched) *pceltFetched = 0;
        if (!rgelt) return E_POINTER;
        if (celt > 1 && !pceltFetched) return E_INVALIDARG;
        ULONG n = 0;
        for (; n < celt && m_pos < m_items.size(); ++n, ++m_pos) {
            rgelt[n] = m_items[m_pos];
            AsUnknown(rgelt[n])->AddRef();
        }
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        size_t left = m_items.size() - m_pos;
        m_pos += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_pos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        return Make(m_items, m_pos, ppEnum);
    }

    static HRESULT Make(const std::vector<Item>& items, size_t pos, IEnum** ppEnum) {
        try {
            *ppEnum = new CSnapshotEnum(items, pos);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    ~CSnapshotEnum() {
        for (const Item& item : m_items) AsUnknown(item)->Release();
    }

    std::vector<Item> m_items;
    size_t m_pos;
    ULONG m_cRef = 1;
};

using CEnumConnections = CSnapshotEnum<IEnumConnections, CONNECTDATA, IID_IEnumConnections>;
using CEnumConnectionPoints = CSnapshotEnum<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>;

}  // namespace

// ---- The connection point ----

CPresselEventsCP::~CPresselEventsCP() {
    // Taken out first: a sink's release must not find itself still listed.
    std::vector<Slot> slots;
    slots.swap(m_slots);
    for (const Slot& slot : slots)
        if (slot.pSink) slot.pSink->Release();
}

HRESULT CPresselEventsCP::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CPresselEventsCP::AddRef() { return m_pOwner->AddRef(); }

ULONG CPresselEventsCP::Release() { return m_pOwner->Release(); }

HRESULT CPresselEventsCP::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = DIID__IPresselEvents;
    return S_OK;
}

HRESULT CPresselEventsCP::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    *ppCPC = m_pOwner;
    m_pOwner->AddRef();
    return S_OK;
}

DWORD CPresselEventsCP::NewCookie() const {
    // Cookies are never 0 and never shared by two live connections.
    DWORD cookie = m_dwLastCookie;
    for (;;) {
        if (++cookie == 0) continue;
        bool used = std::any_of(m_slots.begin(), m_slots.end(),
                                [cookie](const Slot& s) { return s.pSink && s.dwCookie == cookie; });
        if (!used) return cookie;
    }
}

HRESULT CPresselEventsCP::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    IDispatch* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(DIID__IPresselEvents, reinterpret_cast<void**>(&sink))) &&
        FAILED(pUnkSink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink))))
        return CONNECT_E_CANNOTCONNECT;
    if (!sink) return CONNECT_E_CANNOTCONNECT;
    if (m_nFiring == 0)
        m_slots.erase(std::remove_if(m_slots.begin(), m_slots.end(), [](const Slot& s) { return !s.pSink; }),
                      m_slots.end());
    DWORD cookie = NewCookie();
    try {
        m_slots.push_back({cookie, sink});
    } catch (const std::bad_alloc&) {
        sink->Release();
        return E_OUTOFMEMORY;
    }
    m_dwLastCookie = cookie;
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT CPresselEventsCP::Unadvise(DWORD dwCookie) {
    for (Slot& slot : m_slots) {
        if (slot.pSink && slot.dwCookie == dwCookie) {
            IDispatch* sink = slot.pSink;
            slot.pSink = nullptr;  // emptied before the release can re-enter
            sink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT CPresselEventsCP::EnumConnections(IEnumConnections** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        std::vector<CONNECTDATA> live;
        for (const Slot& slot : m_slots)
            if (slot.pSink) live.push_back({slot.pSink, slot.dwCookie});
        return CEnumConnections::Make(live, 0, ppEnum);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void CPresselEventsCP::Fire(DISPID dispid, LONG a, LONG b) {
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    ++m_nFiring;
    // The number of slots is taken once: sinks connected by a handler wait
    // for the next event; slots emptied by a handler are skipped.
    const size_t count = m_slots.size();
    for (size_t i = 0; i < count && i < m_slots.size(); ++i) {
        IDispatch* sink = m_slots[i].pSink;
        if (!sink) continue;
        sink->AddRef();
        // Set afresh for each sink: a handler may have changed them.
        for (VARIANT& v : args) {
            if (v.vt != VT_I4) {
                VariantClear(&v);
                v.vt = VT_I4;
            }
        }
        args[1].lVal = a;  // DISPPARAMS lists the arguments last first
        args[0].lVal = b;
        DISPPARAMS params = {args, nullptr, 2, 0};
        // A failing sink does not stop the others.
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }
    --m_nFiring;
    VariantClear(&args[0]);
    VariantClear(&args[1]);
}

// ---- The container and the event methods of CPressel ----

HRESULT CPressel::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    if (riid != DIID__IPresselEvents) return CONNECT_E_NOCONNECTION;
    *ppCP = &m_eventsCP;
    AddRef();
    return S_OK;
}

HRESULT CPressel::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        return CEnumConnectionPoints::Make({&m_eventsCP}, 0, ppEnum);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

void CPressel::FireHeaderEvent(LONG lMsgFooter, LONG lMsgIgnore) {
    m_eventsCP.Fire(DISPID_HeaderEvent, lMsgFooter, lMsgIgnore);
}

void CPressel::FireNotifyMessage(LONG lMsgType, LONG lMsgError) {
    m_eventsCP.Fire(DISPID_NotifyMessage, lMsgType, lMsgError);
}

HRESULT CPressel::InvokeEventMessage(LONG lmsg, LONG ltype) {
    FireNotifyMessage(lmsg, ltype);
    return SetError(0, u"CPressel::No error..", 0);
}

HRESULT CPressel::InvokeHeaderMsg(LONG lmsg, LONG ltype) {
    FireHeaderEvent(lmsg, ltype);
    return SetError(0, u"CPressel::No error..", 0);
}
