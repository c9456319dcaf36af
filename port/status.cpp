// The printer status protocol of read-write serial ports: polling before
// writes, status requests, and the wait for the printer at the end of a job.
#include "control/Pressel.h"
#include "port/Port.h"
#include "port/PortState.h"
#include "win/base.h"
#include "win/serial.h"

using namespace port;

namespace {

const BYTE kRwStartSeq[] = {0x1B, 0x73, 0x37};                    // ESC s 7
const BYTE kStatusRequest[] = {0x1B, 0x7B, 0x53, 0x54, 0x3F, 0x7D};  // ESC {ST?}
const BYTE kEndOfJob[] = {0x1B, 0x65};                            // ESC e

// How long each status byte may take while waiting for the printer to finish.
constexpr DWORD kDoneReadTimeout = 2000;

}  // namespace

namespace port {

BOOL ReadStatusFrame(LONG hPort, LONG* plState, LONG* plCode) {
    HANDLE h = ToHandle(hPort);
    return ReadStatusFrameFrom(
        [h]() -> int {
            BYTE b = 0;
            DWORD read = 0;
            if (!ReadFile(h, &b, 1, &read, nullptr)) return kReadFailed;
            return read == 0 ? kNoByte : b;
        },
        plState, plCode);
}

BOOL PollPrinterStatus(LONG hPort, LONG* plState, LONG* plCode) {
    DWORD dwErrors = 0;
    COMSTAT stat = {};
    if (!ClearCommError(ToHandle(hPort), &dwErrors, &stat) || dwErrors != 0) return 0;
    if (stat.cbInQue == 0) {
        *plState = kStateNoFrame;
        *plCode = 0;
        return 1;
    }
    return ReadStatusFrame(hPort, plState, plCode);
}

}  // namespace port

BOOL CPressel::SendRwStartSeq(LONG hPort) { return WritePort(hPort, kRwStartSeq, sizeof kRwStartSeq); }

BOOL CPressel::QueryPrinterStatus(LONG hPort, LONG* plState, LONG* plCode) {
    if (!WritePort(hPort, kStatusRequest, sizeof kStatusRequest)) return 0;
    return ReadStatusFrame(hPort, plState, plCode);
}

BOOL CPressel::WaitPrinterDone(LONG hPort) {
    if (!m_bPrinting) return 1;
    if (!WritePort(hPort, kEndOfJob, sizeof kEndOfJob)) return 0;
    m_bReadWrite = 0;

    HANDLE h = ToHandle(hPort);
    COMMTIMEOUTS saved = {};
    const bool bHaveTimeouts = GetCommTimeouts(h, &saved);
    if (bHaveTimeouts) {
        COMMTIMEOUTS waiting = saved;
        waiting.ReadTotalTimeoutConstant = kDoneReadTimeout;
        SetCommTimeouts(h, &waiting);
    }

    // Without an abort procedure the job goes on until the printer decides.
    auto goOn = [this, hPort]() -> BOOL { return m_pfnAbortProc ? m_pfnAbortProc(hPort, 0) : m_bPrinting; };

    BOOL bResult = 1;
    LONG lPrevCode = 0;
    LONG lPrevState = kStatePlain;
    m_bPrinting = goOn();
    while (m_bPrinting) {
        LONG lState = 0, lCode = 0;
        if (!ReadStatusFrame(hPort, &lState, &lCode)) {
            bResult = 0;
            break;
        }
        if (lState == kStateNoFrame) {
            lPrevCode = 0;
            if (!QueryPrinterStatus(hPort, &lState, &lCode) ||
                (lState == kStateNoFrame && !QueryPrinterStatus(hPort, &lState, &lCode)) ||
                lState == kStateNoFrame) {
                bResult = 0;
                break;
            }
        }
        if (lState == kStateDone) {
            bResult = 1;
            break;
        }
        if (lState == kStateIdle && lPrevState == kStateIdle) {
            bResult = 0;
            break;
        }
        if (lCode != 0 && lCode != lPrevCode) {
            static_cast<IPressel*>(this)->InvokeEventMessage(kStateCondition, lCode);
            if (!m_bPrinting || lState == kStateFatal) {
                bResult = 0;
                break;
            }
        }
        lPrevState = lState;
        lPrevCode = lCode;
        m_bPrinting = goOn();
    }

    if (bHaveTimeouts) SetCommTimeouts(h, &saved);
    return bResult;
}
