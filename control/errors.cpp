// The error model shared by every method of the control.
#include "control/Pressel.h"
#include "win/registry.h"

namespace {

// Reads the error source into buf (always terminated): the default value of
// the class's key under HKEY_CLASSES_ROOT, that is the class description
// written at registration. False when absent.
bool ReadErrorSource(WCHAR* buf, DWORD cch) {
    WCHAR classKey[6 + 39] = u"CLSID\\";
    if (!StringFromGUID2(CLSID_Pressel, classKey + 6, 39)) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, classKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    DWORD cb = (cch - 1) * sizeof(WCHAR);
    LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // The stored data need not carry its own terminator.
    buf[cb / sizeof(WCHAR)] = 0;
    return true;
}

// Publishes an error object for the calling thread; any failure just means
// no object is published.
void PublishError(const WCHAR* pszMessage) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetGUID(IID_IPressel);
    create->SetDescription(const_cast<LPOLESTR>(pszMessage));
    WCHAR source[256];
    if (ReadErrorSource(source, sizeof source / sizeof source[0])) create->SetSource(source);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

}  // namespace

PRESSEL_HOT HRESULT CPressel::SetError(HRESULT hr, const WCHAR* pszMessage, LONG lMethodId) {
    m_lLastError = hr;
    m_lErrorMethodID = lMethodId;
    if (hr != 0) PublishError(pszMessage);
    return m_bErrorReturnState == 1 ? hr : S_OK;
}
