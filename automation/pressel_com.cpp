// The control's COM identity: QueryInterface over the fixed interface list,
// reference counting with aggregation, the module lock count, and IDispatch
// answered from the registered type library.
#include <atomic>
#include <mutex>
#include <new>

#include "control/Pressel.h"
#include "win/base.h"

namespace stavlo {
namespace {

std::atomic<LONG> g_cLocks{0};

// The registered library's type information, kept once loaded. The cache
// releases what it holds when the module is unloaded.
class TypeInfoCache {
public:
    ~TypeInfoCache() {
        if (m_pLib) m_pLib->Release();
    }

    HRESULT Get(REFGUID guid, ITypeInfo** ppTI) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pLib) {
            // A failed load is tried again on the next use: the library may be
            // registered in between.
            HRESULT hr = LoadRegTypeLib(LIBID_STAVLOLib, 1, 0, LOCALE_NEUTRAL, &m_pLib);
            if (FAILED(hr)) {
                m_pLib = nullptr;
                return hr;
            }
        }
        return m_pLib->GetTypeInfoOfGuid(guid, ppTI);
    }

private:
    std::mutex m_mutex;
    ITypeLib* m_pLib = nullptr;
};

TypeInfoCache& Cache() {
    static TypeInfoCache cache;
    return cache;
}

}  // namespace

void LockModule() { g_cLocks.fetch_add(1); }
void UnlockModule() { g_cLocks.fetch_sub(1); }
LONG ModuleLockCount() { return g_cLocks.load(); }

HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTI) {
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    HRESULT hr = Cache().Get(guid, ppTI);
    if (FAILED(hr)) *ppTI = nullptr;
    return hr;
}

void DebugLine(const WCHAR* text) { OutputDebugStringW(text); }

}  // namespace stavlo

// ---- Identity ----

HRESULT CPressel::CreateAggregated(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!pUnkOuter) return CreateInstance(riid, ppv);
    if (!(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CPressel;
    if (!object) return E_OUTOFMEMORY;
    object->m_pUnkOuter = pUnkOuter;
    object->InnerAddRef();
    *ppv = static_cast<IUnknown*>(&object->m_innerUnknown);
    return S_OK;
}

HRESULT CPressel::InnerQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
        // Aggregated, the object's own unknown is the inner one; otherwise the
        // primary interface stands for the object.
        *ppv = m_pUnkOuter ? static_cast<IUnknown*>(&m_innerUnknown) : static_cast<IUnknown*>(static_cast<IPressel*>(this));
    } else if (riid == IID_IPressel || riid == IID_IDispatch) {
        *ppv = static_cast<IPressel*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else {
        *ppv = m_ole.Find(riid);
    }
    if (!*ppv) return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

ULONG CPressel::InnerAddRef() { return ++m_cRef; }

ULONG CPressel::InnerRelease() {
    ULONG left = --m_cRef;
    if (left == 0) {
        // Stabilise the count: the job's end runs methods that may AddRef
        // and Release the object through its own interface.
        m_cRef = 1;
        EndJobOnRelease();
        delete this;
    }
    return left;
}

HRESULT CPressel::QueryInterface(REFIID riid, void** ppv) {
    return m_pUnkOuter ? m_pUnkOuter->QueryInterface(riid, ppv) : InnerQueryInterface(riid, ppv);
}

ULONG CPressel::AddRef() { return m_pUnkOuter ? m_pUnkOuter->AddRef() : InnerAddRef(); }

ULONG CPressel::Release() { return m_pUnkOuter ? m_pUnkOuter->Release() : InnerRelease(); }

// ---- IDispatch, from the registered type library ----

HRESULT CPressel::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT CPressel::GetTypeInfo(UINT iTInfo, LCID /*lcid*/, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    return stavlo::GetTypeInfoOfGuid(IID_IPressel, ppTInfo);
}

HRESULT CPressel::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID /*lcid*/, DISPID* rgDispId) {
    ITypeInfo* pTI = nullptr;
    HRESULT hr = stavlo::GetTypeInfoOfGuid(IID_IPressel, &pTI);
    if (FAILED(hr)) return hr;
    hr = DispGetIDsOfNames(pTI, rgszNames, cNames, rgDispId);
    pTI->Release();
    return hr;
}

HRESULT CPressel::Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* pTI = nullptr;
    HRESULT hr = stavlo::GetTypeInfoOfGuid(IID_IPressel, &pTI);
    if (FAILED(hr)) return hr;
    // The object stays alive while a member it calls releases the last
    // outside reference (a handler that drops the control, say).
    AddRef();
    hr = DispInvoke(static_cast<IPressel*>(this), pTI, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                    puArgErr);
    Release();
    pTI->Release();
    return hr;
}
