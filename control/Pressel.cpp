// CPressel: construction, identity and reference counting, and the
// properties, which report fields and never touch the error state.
#include "control/Pressel.h"

#include <cstring>
#include <new>

CLineBuf::CLineBuf() : m_lLineBufLen(-1) { std::memset(m_abLineBuf, 0, sizeof m_abLineBuf); }

CPressel::CPressel()
    : m_bstrPrinterName(SysAllocString(u"")),
      m_bstrIniName(SysAllocString(u"")),
      m_bstrIniFile(SysAllocString(u"")) {}

CPressel::~CPressel() {
    ForgetInstance(this);
    SysFreeString(m_bstrPrinterName);
    SysFreeString(m_bstrIniName);
    SysFreeString(m_bstrIniFile);
}

HRESULT CPressel::CreateInstance(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* object = new (std::nothrow) CPressel;
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();  // destroys the object when the interface was refused
    return hr;
}

// QueryInterface, AddRef, Release and the IDispatch members are the
// automation library's (automation/pressel_com.cpp): they depend on
// aggregation and on the registered type library.

// Properties. A null out-pointer gets E_POINTER rather than a crash.

HRESULT CPressel::get_LastError(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_lLastError;
    return S_OK;
}

HRESULT CPressel::get_StillPrinting(VARIANT_BOOL* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_bPrinting ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CPressel::get_PageNo(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_lPageNo;
    return S_OK;
}

HRESULT CPressel::get_LineNo(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_lLineNo;
    return S_OK;
}

HRESULT CPressel::get_PrinterDC(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_hPort;
    return S_OK;
}

HRESULT CPressel::get_ErrorMethodID(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_lErrorMethodID;
    return S_OK;
}

HRESULT CPressel::get_ErrorReturnState(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = m_bErrorReturnState == 1 ? 1 : 0;
    return S_OK;
}

HRESULT CPressel::put_ErrorReturnState(LONG newVal) {
    m_bErrorReturnState = newVal != 0 ? 1 : 0;
    return S_OK;
}
