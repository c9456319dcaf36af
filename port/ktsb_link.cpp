// The KTSB link: registering and opening the driver, the handshake, the
// status word and its classification.
#include "control/Pressel.h"
#include "port/Ktsb.h"
#include "port/Port.h"
#include "port/PortState.h"
#include "win/base.h"
#include "win/device.h"
#include "win/errors.h"
#include "win/serial.h"
#include "win/user.h"
#include "win/wcs.h"

using namespace port;

namespace {

const WCHAR kDelimiters[] = u",";
const WCHAR kDriverName[] = u"ktsbdrv.dll";
const WCHAR kDeviceName[] = u"LPT9:";
constexpr DWORD kPathUnits = 260;
constexpr size_t kPortNameUnits = 5;
constexpr size_t kReportUnits = 200;

struct StatusEntry {
    BYTE code;
    bool fatal;
};

// Known condition codes; ends with code 0. Codes not listed are not fatal.
const StatusEntry kStatusTable[] = {
    {102, false}, {104, false}, {106, false}, {113, false}, {120, true},  {121, true},  {122, true},
    {123, false}, {124, false}, {200, true},  {201, true},  {202, true},  {203, true},  {204, true},
    {210, true},  {221, true},  {222, true},  {223, false}, {224, false}, {225, false}, {226, false},
    {227, false}, {228, true},  {229, true},  {0, false},
};

// Condition flags in the order that decides: the first set bit wins.
const struct {
    BYTE flag;
    LONG code;
} kFlagCodes[] = {{0x01, 222}, {0x40, 228}, {0x80, 229}, {0x02, 223},
                  {0x04, 224}, {0x08, 225}, {0x10, 226}, {0x20, 227}};
constexpr LONG kNoFlagCode = 221;

bool IsFatal(BYTE code) {
    for (const StatusEntry* entry = kStatusTable; entry->code != 0; ++entry)
        if (entry->code == code) return entry->fatal;
    return false;
}

// The owner of the error boxes: the control has no window of its own here.
HWND ReportOwner() { return nullptr; }

// The system's text for the code in one box, the formatted line in another.
void ReportError(DWORD dwError, const WCHAR* pszSystemCaption, const WCHAR* pszLine, const WCHAR* pszLineCaption) {
    WCHAR* pszText = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwError, 0,
                   reinterpret_cast<LPWSTR>(&pszText), 0, nullptr);
    // A code without a text still gets its box, as an empty one.
    MessageBoxW(ReportOwner(), pszText ? pszText : u"", pszSystemCaption, MB_ICONINFORMATION);
    if (pszText) LocalFree(pszText);
    MessageBoxW(ReportOwner(), pszLine, pszLineCaption, MB_ICONINFORMATION);
}

// The driver beside the executable: everything from the last separator on
// is replaced by the separator and the library name. Paths here use '/',
// paths written the device's way '\'; both are accepted and kept.
void DriverBesideExecutable(WCHAR* pszPath) {
    WCHAR* pszSlash = wcsrchr(pszPath, u'/');
    WCHAR* pszBackslash = wcsrchr(pszPath, u'\\');
    WCHAR* pszLast = pszSlash > pszBackslash ? pszSlash : pszBackslash;
    if (!pszLast) return;
    // The 260-unit path buffer has 12 units to spare only when the directory
    // is that much shorter; a longer one cannot name the driver.
    size_t dirUnits = static_cast<size_t>(pszLast - pszPath) + 1;
    if (dirUnits + wcslen(kDriverName) >= kPathUnits) {
        wcscpy(pszPath, kDriverName);
        return;
    }
    wcscpy(pszLast + 1, kDriverName);
}

HANDLE RegisterDriver(const WCHAR* pszPortName, WCHAR* pszPath) {
    HANDLE hRegistration = RegisterDevice(u"LPT", 9, pszPath, reinterpret_cast<DWORD_PTR>(pszPortName));
    if (hRegistration) return hRegistration;
    wcscpy(pszPath, kDriverName);
    return RegisterDevice(u"LPT", 9, pszPath, reinterpret_cast<DWORD_PTR>(pszPortName));
}

// Leaves nothing of the link behind after a failed open: the mode flag
// too, so that no later write or close takes a link for open.
LONG DropLink() {
    if (g_hKtsbRegistration) {
        DeregisterDevice(g_hKtsbRegistration);
        g_hKtsbRegistration = nullptr;
    }
    if (g_hKtsbPort != INVALID_HANDLE_VALUE) {
        CloseHandle(g_hKtsbPort);
        g_hKtsbPort = INVALID_HANDLE_VALUE;
    }
    g_bKtsbMode = 0;
    return -1;
}

// A failure before this open registered anything: the state that exists
// belongs to a link another control has open, and stays.
LONG FailUnregistered() {
    g_bKtsbMode = g_hKtsbRegistration ? 1 : 0;
    return -1;
}

}  // namespace

namespace port {

LONG KtsbOpen(const WCHAR* /*pszDescription: the tokenizer holds OpenPort's copy*/) {
    g_bKtsbMode = 1;

    WCHAR szPath[kPathUnits] = {};
    DWORD units = GetModuleFileNameW(nullptr, szPath, kPathUnits);
    if (units == 0) return FailUnregistered();
    if (units >= kPathUnits) wcscpy(szPath, kDriverName);  // cut short: the directory is unknown
    else DriverBesideExecutable(szPath);

    WCHAR szPortName[kPortNameUnits + 1] = u"COM1:";
    if (const WCHAR* pszToken = wcstok(nullptr, kDelimiters)) {
        wcsncpy(szPortName, pszToken, kPortNameUnits);
        szPortName[kPortNameUnits] = 0;
    }

    // Kept apart until it succeeds: a failure must not overwrite the handle
    // of a link another control still has open (its device name is taken).
    HANDLE hRegistration = RegisterDriver(szPortName, szPath);
    if (!hRegistration) {
        DWORD dwError = GetLastError();
        WCHAR szLine[kReportUnits];
        _snwprintf(szLine, kReportUnits, u"[%s] RegisterDevice Error = %d", szPath, static_cast<int>(dwError));
        ReportError(dwError, u"Error", szLine, u"RegisterDevice Error");
        return FailUnregistered();
    }
    g_hKtsbRegistration = hRegistration;

    g_hKtsbPort = CreateFileW(kDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (g_hKtsbPort == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        DropLink();
        WCHAR szLine[kReportUnits];
        _snwprintf(szLine, kReportUnits, u"[LPT9:] CreateFile Error = %d", static_cast<int>(dwError));
        ReportError(dwError, u"CreateFile Error", szLine, u"Error");
        return -1;
    }

    BOOL bReady = KtsbBind();
    if (bReady) {
        DWORD dwDone = 0;
        DeviceIoControl(g_hKtsbPort, IOCTL_KTSB_CANCEL, nullptr, 0, nullptr, 0, &dwDone, nullptr);
        bReady = KtsbWaitIdle();
    }
    if (!bReady) return DropLink();
    return FromHandle(g_hKtsbPort);
}

WORD KtsbGetStatus() {
    DWORD dwStatus = 0;
    DWORD dwDone = 0;
    if (!DeviceIoControl(g_hKtsbPort, IOCTL_KTSB_GET_STATUS, nullptr, 0, &dwStatus, sizeof dwStatus, &dwDone,
                         nullptr))
        return kKtsbNoStatus;
    return static_cast<WORD>(dwStatus & 0xFFFF);
}

BOOL KtsbBind() {
    COMMTIMEOUTS timeouts = {0, 0, 0, 0, 0};
    SetCommTimeouts(g_hKtsbPort, &timeouts);
    for (;;) {
        DWORD dwDone = 0;
        DeviceIoControl(g_hKtsbPort, IOCTL_KTSB_BIND, nullptr, 0, nullptr, 0, &dwDone, nullptr);
        WORD wStatus = KtsbGetStatus();
        if (wStatus == 0) return 1;
        if (ClassifyStatus(wStatus) == kKtsbStop) return 0;
    }
}

BOOL KtsbWaitIdle() {
    BYTE abOut[ktsb::kQueryOutSize];
    do {
        const BYTE bSelector = ktsb::kQuerySelector;
        // What a failed query leaves reads as busy, never as idle.
        for (BYTE& b : abOut) b = 0;
        abOut[ktsb::kQueryBusy] = ktsb::kBusyMask;
        DWORD dwDone = 0;
        LONG lCode = 0;
        if (DeviceIoControl(g_hKtsbPort, IOCTL_KTSB_QUERY, const_cast<BYTE*>(&bSelector), 1, abOut, sizeof abOut,
                            &dwDone, nullptr)) {
            BYTE bFlags = abOut[ktsb::kQueryFlags];
            if (bFlags != 0) lCode = MapKtsbFlags(bFlags);
            if (lCode != 0 && ClassifyStatus(lCode) == kKtsbStop) return 0;
        } else {
            lCode = KtsbGetStatus();
            if (ClassifyStatus(lCode) == kKtsbStop) return 0;
        }
    } while ((abOut[ktsb::kQueryBusy] & ktsb::kBusyMask) != 0);
    return 1;
}

LONG ClassifyStatus(LONG lCode) {
    BYTE bCode = static_cast<BYTE>(lCode & 0xFF);
    CPressel* pInstance = g_pCurrentInstance;
    if (IsFatal(bCode)) {
        if (pInstance) static_cast<IPressel*>(pInstance)->InvokeEventMessage(kStateCondition, bCode);
        return kKtsbStop;
    }
    if (!pInstance) return 0;
    // The handler may let go of the control; keep it until its flag is read.
    pInstance->AddRef();
    static_cast<IPressel*>(pInstance)->InvokeEventMessage(kStateCondition, bCode);
    LONG lResult = pInstance->m_bPrinting ? 0 : kKtsbStop;
    pInstance->Release();
    return lResult;
}

LONG MapKtsbFlags(BYTE bFlags) {
    for (const auto& entry : kFlagCodes)
        if (bFlags & entry.flag) return entry.code;
    return kNoFlagCode;
}

}  // namespace port
