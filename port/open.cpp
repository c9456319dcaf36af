// Choosing and opening the port from a printer's port description.
#include <string>

#include "control/Pressel.h"
#include "port/Ktsb.h"
#include "port/Port.h"
#include "port/PortState.h"
#include "win/base.h"
#include "win/registry.h"
#include "win/serial.h"
#include "win/wcs.h"

using namespace port;

namespace {

const WCHAR kDelimiters[] = u",";

// The registry names the serial port of the "FLPORT" description.
const WCHAR kFlPortKey[] = u"SOFTWARE\\Quendrix\\Farlink";
const WCHAR kFlPortValue[] = u"FLPort";
constexpr DWORD kFlPortUnits = 20;  // 40 bytes: at most 19 characters and the terminator

// Write timeouts of "COM" ports; read timeouts when the printer also talks back.
constexpr DWORD kWriteTimeoutConstant = 15000;
constexpr DWORD kReadInterval = 250;
constexpr DWORD kReadMultiplier = 10;
constexpr DWORD kReadConstant = 100;

// The tokenizer keeps a pointer into OpenPort's copy of the description;
// forget it when the copy goes, so that no later wcstok(NULL, ...) on this
// thread can read freed memory.
struct TokenizerReset {
    ~TokenizerReset() {
        WCHAR empty[1] = {0};
        wcstok(empty, kDelimiters);
    }
};

// Reads "FLPort" into name (kFlPortUnits units); false when the key or the
// value is missing, the value is no string or it does not fit.
bool ReadFlPortName(WCHAR* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFlPortKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD cb = kFlPortUnits * sizeof(WCHAR);
    LONG rc = RegQueryValueExW(key, kFlPortValue, nullptr, &type, reinterpret_cast<BYTE*>(name), &cb);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
    // A stored string without its terminator that fills the buffer exactly
    // is as much too long as one that does not fit.
    DWORD units = cb / sizeof(WCHAR);
    if (units == kFlPortUnits && name[kFlPortUnits - 1] != 0) return false;
    name[units < kFlPortUnits ? units : kFlPortUnits - 1] = 0;
    return true;
}

HANDLE CreateForWrite(const WCHAR* name, DWORD access, DWORD disposition) {
    return CreateFileW(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void ToggleLines(HANDLE h) {
    static const DWORD kSequence[] = {CLRDTR, CLRRTS, SETBREAK, CLRBREAK, SETDTR, SETRTS};
    for (DWORD function : kSequence) EscapeCommFunction(h, function);
}

void SetComTimeouts(HANDLE h, BOOL bReadWrite) {
    COMMTIMEOUTS timeouts = {};
    GetCommTimeouts(h, &timeouts);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutConstant;
    if (bReadWrite) {
        timeouts.ReadIntervalTimeout = kReadInterval;
        timeouts.ReadTotalTimeoutMultiplier = kReadMultiplier;
        timeouts.ReadTotalTimeoutConstant = kReadConstant;
    }
    SetCommTimeouts(h, &timeouts);
}

// Opens a port-library channel; a channel that opens counts as a user.
LONG OpenLibraryChannel(CPressel* pThis, const WCHAR* pszToken, bool bReopen) {
    LoadPortDriver();
    LONG h = g_portLib.pfnOpen(pszToken);
    if (bReopen) {
        // The link is opened once only to be closed again.
        if (h != -1) g_portLib.pfnClose(h);
        h = g_portLib.pfnOpen(pszToken);
    }
    if (h != -1 && !pThis->m_bPortLibUser) {
        pThis->m_bPortLibUser = 1;
        AddPortDriverUser();
    }
    return h;
}

}  // namespace

namespace port {

BOOL ParseCommSettings(const WCHAR* pszSettings, DCB* pDcb) {
    BOOL bReadWrite = pszSettings && (wcschr(pszSettings, u'Y') || wcschr(pszSettings, u'y'));
    if (!pDcb || !pszSettings || wcslen(pszSettings) <= 1) return bReadWrite;

    WCHAR* tokens[5] = {};
    int count = 0;
    while (count < 5 && (tokens[count] = wcstok(nullptr, kDelimiters)) != nullptr) ++count;
    if (count == 0) return bReadWrite;

    pDcb->BaudRate = static_cast<DWORD>(wcstol(tokens[0], nullptr, 0));
    if (count > 1) {
        switch (tokens[1][0]) {
            case u'N': case u'n': pDcb->Parity = NOPARITY; break;
            case u'E': case u'e': pDcb->Parity = EVENPARITY; break;
            case u'O': case u'o': pDcb->Parity = ODDPARITY; break;
            default: break;
        }
    }
    if (count > 2) pDcb->ByteSize = static_cast<BYTE>(wcstol(tokens[2], nullptr, 0));
    if (count > 3) {
        LONG stopBits = wcstol(tokens[3], nullptr, 0);
        if (stopBits == 1) pDcb->StopBits = ONESTOPBIT;
        if (stopBits == 2) pDcb->StopBits = TWOSTOPBITS;
    }
    if (count > 4) {
        pDcb->fOutxCtsFlow = 0;
        pDcb->fOutxDsrFlow = 0;
        pDcb->fOutX = 0;
        pDcb->fDtrControl = DTR_CONTROL_DISABLE;
        pDcb->fRtsControl = RTS_CONTROL_DISABLE;
        for (const WCHAR* p = tokens[4]; *p; ++p) {
            switch (*p) {
                case u'X': case u'x': pDcb->fOutX = 1; break;
                case u'C': case u'c': pDcb->fOutxCtsFlow = 1; break;
                case u'D': case u'd': pDcb->fOutxDsrFlow = 1; break;
                case u'T': case u't': pDcb->fDtrControl = DTR_CONTROL_ENABLE; break;
                case u'R': case u'r': pDcb->fRtsControl = RTS_CONTROL_TOGGLE; break;
                default: break;
            }
        }
    }
    return bReadWrite;
}

}  // namespace port

LONG CPressel::OpenPort(const WCHAR* pszDescription, const WCHAR* pszOutputName) {
    const WCHAR* pszComma = pszDescription ? wcschr(pszDescription, u',') : nullptr;
    const WCHAR* pszSettings = pszComma ? pszComma + 1 : nullptr;
    m_bFilePort = 0;

    if (pszOutputName && *pszOutputName) {
        m_bFilePort = 1;
        HANDLE h = CreateForWrite(pszOutputName, GENERIC_WRITE, CREATE_ALWAYS);
        if (h == INVALID_HANDLE_VALUE) h = CreateForWrite(pszOutputName, GENERIC_WRITE, OPEN_ALWAYS);
        m_hPort = FromHandle(h);
        return m_hPort;
    }

    std::u16string copy = pszDescription ? pszDescription : u"";
    TokenizerReset reset;
    WCHAR* pszToken = wcstok(copy.data(), kDelimiters);
    g_bKtsbMode = 0;
    if (!pszToken) return -1;

    if (_wcsicmp(pszToken, u"IRDA") == 0) return OpenLibraryChannel(this, pszToken, true);
    if (_wcsicmp(pszToken, u"KTSB") == 0) return KtsbOpen(pszDescription);

    g_bKtsbMode = 0;
    if (wcsncmp(pszToken, u"COM", 3) == 0 || wcsncmp(pszToken, u"com", 3) == 0)
        return OpenSerialPort(pszToken, pszSettings, 1);
    if (_wcsicmp(pszToken, u"FLPORT") != 0) return OpenLibraryChannel(this, pszToken, false);

    WCHAR name[kFlPortUnits] = {};
    if (!ReadFlPortName(name)) return -1;
    return OpenSerialPort(name, pszSettings, 0);
}

LONG CPressel::OpenSerialPort(const WCHAR* pszDevice, const WCHAR* pszSettings, BOOL bComName) {
    m_bReadWrite = ParseCommSettings(pszSettings, nullptr);

    HANDLE h;
    if (m_bReadWrite) {
        h = CreateForWrite(pszDevice, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    } else if (bComName) {
        h = CreateForWrite(pszDevice, GENERIC_WRITE, CREATE_ALWAYS);
        if (h == INVALID_HANDLE_VALUE) h = CreateForWrite(pszDevice, GENERIC_WRITE, OPEN_ALWAYS);
    } else {
        h = CreateForWrite(pszDevice, GENERIC_WRITE, OPEN_EXISTING);
    }
    m_hPort = FromHandle(h);
    if (h == INVALID_HANDLE_VALUE) return -1;
    m_bFilePort = 1;

    if (bComName) ToggleLines(h);

    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    if (GetCommState(h, &dcb)) {
        ParseCommSettings(pszSettings, &dcb);
        SetCommState(h, &dcb);
    }

    if (bComName) SetComTimeouts(h, m_bReadWrite);
    return m_hPort;
}
