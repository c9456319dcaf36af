// Writing to and closing the channel that OpenPort chose.
#include "control/Pressel.h"
#include "port/Ktsb.h"
#include "port/Port.h"
#include "port/PortState.h"
#include "win/base.h"
#include "win/device.h"

using namespace port;

namespace {

PRESSEL_HOT BOOL WriteAll(HANDLE h, const void* pBytes, DWORD cbBytes) {
    DWORD written = 0;
    return WriteFile(h, pBytes, cbBytes, &written, nullptr) && written == cbBytes;
}

// The link driver may ask for the whole buffer again; only the status ends
// the loop (the application can cancel from its notification handler). Out
// of line, as the status wait below, to keep WritePort's file path short.
__attribute__((noinline)) BOOL WriteKtsb(const void* pBytes, DWORD cbBytes) {
    for (;;) {
        DWORD written = 0;
        WriteFile(g_hKtsbPort, pBytes, cbBytes, &written, nullptr);
        WORD status = KtsbGetStatus();
        if (status != 0 && ClassifyStatus(status) == kKtsbStop) return 0;
        if (!(status & kKtsbRepeatWrite)) return 1;
    }
}

// Drains what the printer of a read-write port reported; holds the output
// while it reports a condition, and tells the application of each new one.
// False when the output must not go.
__attribute__((noinline)) BOOL AwaitPrinterReady(CPressel& p, LONG hPort) {
    LONG lPrevCode = 0;
    for (;;) {
        LONG lState = 0, lCode = 0;
        if (!PollPrinterStatus(hPort, &lState, &lCode)) return 0;
        if (lCode != 0 && lCode != lPrevCode) {
            static_cast<IPressel&>(p).InvokeEventMessage(kStateCondition, lCode);
            if (!p.m_bPrinting) return 0;
            if (lState == kStateFatal) return 0;
        }
        lPrevCode = lCode;
        if (lCode == 0) return 1;
    }
}

}  // namespace

PRESSEL_HOT BOOL CPressel::WritePort(LONG hPort, const void* pBytes, DWORD cbBytes) {
    if (m_bReadWrite && !AwaitPrinterReady(*this, hPort)) return 0;
    if (m_bFilePort) return WriteAll(ToHandle(hPort), pBytes, cbBytes);
    // A channel this object keeps through the port library stays one even if
    // another control has opened the KTSB link since.
    if (m_bPortLibUser || !g_bKtsbMode) return g_portLib.pfnSend(hPort, static_cast<const BYTE*>(pBytes), cbBytes);
    return WriteKtsb(pBytes, cbBytes);
}

BOOL CPressel::ClosePort(LONG hPort) {
    BOOL bResult;
    if (m_bFilePort) {
        bResult = 1;
        if (m_bReadWrite) bResult = WaitPrinterDone(hPort);
        m_bFilePort = 0;
        if (hPort != -1) CloseHandle(ToHandle(hPort));
    } else if (m_bPortLibUser || !g_bKtsbMode) {
        if (hPort != -1) g_portLib.pfnClose(hPort);
        bResult = 1;
    } else {
        g_bKtsbMode = 0;
        // A cancelled job does not wait for the link to become idle.
        bResult = m_bPrinting ? KtsbWaitIdle() : 0;
        if (g_hKtsbPort != INVALID_HANDLE_VALUE) {
            CloseHandle(g_hKtsbPort);
            g_hKtsbPort = INVALID_HANDLE_VALUE;
        }
        if (g_hKtsbRegistration) {
            DeregisterDevice(g_hKtsbRegistration);
            g_hKtsbRegistration = nullptr;
        }
    }
    if (m_bPortLibUser) {
        m_bPortLibUser = 0;
        ReleasePortDriverUser();
    }
    UnloadPortDriver();
    return bResult;
}
