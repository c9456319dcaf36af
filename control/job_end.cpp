// The end of a job (Finish), stopping one (Cancel, UserAbort), and the abort
// procedure that keeps the caller's dialog alive while output goes out.
#include "control/Pressel.h"
#include "win/base.h"
#include "win/user.h"

namespace {

constexpr const WCHAR* kNoError = u"CPressel::No error..";

DWORD DelayMs(LONG lDelay) { return lDelay > 0 ? static_cast<DWORD>(lDelay) : 0; }

// A handler that posts a new message for every one it handles would keep the
// abort procedure dispatching for ever; past this many the rest wait for the
// next chunk.
constexpr int kMaxMessagesPerConsultation = 10000;

// Runs the calling thread's window messages for the owner's dialog, then
// answers whether the job of hPort still prints. Out of line: jobs without
// a dialog consult the abort procedure before every chunk too.
__attribute__((noinline)) BOOL DispatchForDialog(LONG hPort, LONG hAbortDlg) {
    HWND hDlg = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(static_cast<DWORD>(hAbortDlg)));
    MSG msg;
    for (int n = 0; n < kMaxMessagesPerConsultation && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
        if (msg.message == WM_QUIT) {
            // The client's own loop must still see its quit request.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (!IsDialogMessageW(hDlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // A handler may have finished the job or released the object: look the
    // owner up again.
    CPressel* p = CPressel::FindInstanceByPort(hPort);
    return p ? p->m_bPrinting : 0;
}

}  // namespace

PRESSEL_HOT CPressel* CPressel::FindInstanceByPort(LONG hPort) {
    for (CPressel* p : g_apInstances)
        if (p && p->m_hPort == hPort) return p;
    return nullptr;
}

PRESSEL_HOT BOOL CPressel::AbortProc(LONG hPort, int /*nReserved*/) {
    CPressel* p = FindInstanceByPort(hPort);
    if (!p) return 0;
    if (p->m_hAbortDlg == 0) return p->m_bPrinting;
    return DispatchForDialog(hPort, p->m_hAbortDlg);
}

HRESULT CPressel::Finish() {
    IPressel* self = this;
    // The last page is ended only when a line was started on it; text
    // written after the last line end is printed only if the body still has
    // room (callers end their lines with NewLine).
    self->FormFeed();

    if (m_hPort != -1) {
        SendCharRun(m_seqShutdownChar.codes[0], m_lShutdownCharCount);
        Sleep(DelayMs(m_lShutdownDelay));
        BOOL bClosed = ClosePort(m_hPort);
        m_hPort = -1;
        if (m_bPrinting && !bClosed) {
            m_bPrinting = 0;
            self->InvokeEventMessage(1, 9);
        }
    }
    if (m_bPrinting) self->InvokeEventMessage(2, 0);

    if (m_nInstanceSlot >= 0) {
        if (m_nInstanceSlot < kMaxInstances && g_apInstances[m_nInstanceSlot] == this)
            g_apInstances[m_nInstanceSlot] = nullptr;
        m_nInstanceSlot = -1;
    }
    m_lineBuf.m_lLineBufLen = -1;
    m_bPrinting = 0;
    return SetError(0, kNoError, 0);
}

HRESULT CPressel::Cancel() {
    m_bPrinting = 0;
    static_cast<IPressel*>(this)->InvokeEventMessage(1, 10);
    return SetError(0, kNoError, 0);
}

HRESULT CPressel::UserAbort() {
    static_cast<IPressel*>(this)->Cancel();
    return SetError(0, kNoError, 0);
}

void CPressel::EndJobOnRelease() {
    if (m_hPort == -1 && m_nInstanceSlot < 0 && !m_bPrinting) return;
    // Handlers of the events Finish raises may take and drop references;
    // hold one so that they cannot destroy the object under Finish.
    m_cRef = 1;
    static_cast<IPressel*>(this)->Finish();
    m_cRef = 0;
}
