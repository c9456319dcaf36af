// The KTSB link: a stream driver registered as "LPT9:" over a serial port
// (private to the control library). Its process-wide state lives in
// port/PortState.h; the driver's controls and layouts in
// plugins/ktsbdrv/ktsbdrv.h.
#pragma once

#include "plugins/ktsbdrv/ktsbdrv.h"
#include "win/types.h"

namespace port {

// Opens the link for a description whose first token, "KTSB", OpenPort has
// already taken with wcstok; further tokens come from the same tokenizer.
// Returns the "LPT9:" handle or -1; a failure leaves nothing of the link
// registered or open.
LONG KtsbOpen(const WCHAR* pszDescription);
// The driver's 16-bit status word: 0 no condition, low 8 bits a condition
// code, bit 0x1000 asks for the last write to be repeated. When the driver
// cannot be asked, kKtsbNoStatus, so that the job stops rather than spins.
WORD KtsbGetStatus();
// The handshake: repeats until the status is 0 (nonzero) or a code stops
// the job (0). Only the status ends it; the application can cancel from
// its NotifyMessage handler.
BOOL KtsbBind();
// Queries until the busy bits fall to 0 (nonzero) or a condition stops the
// job (0). A query that fails never counts as idle.
BOOL KtsbWaitIdle();
// 2 stops the job, 0 lets it go on; reports the code to the current instance.
LONG ClassifyStatus(LONG lCode);
LONG MapKtsbFlags(BYTE bFlags);

constexpr WORD kKtsbRepeatWrite = 0x1000;
constexpr LONG kKtsbStop = 2;
// The status the link reports when its status control fails: the driver's
// "printer stopped answering" code, which is fatal.
constexpr WORD kKtsbNoStatus = ktsb::kCodeLinkLost;

}  // namespace port
