// The KTSB link: a stream driver registered as "LPT9:" over a serial port
// (private to the control library). Its process-wide state lives in
// port/PortState.h.
#pragma once

#include "win/types.h"

namespace port {

// Opens the link for a description whose first token, "KTSB", OpenPort has
// already taken with wcstok; further tokens come from the same tokenizer.
// Returns the "LPT9:" handle or -1.
LONG KtsbOpen(const WCHAR* pszDescription);
// The driver's 16-bit status word: 0 no condition, low 8 bits a condition
// code, bit 0x1000 asks for the last write to be repeated.
WORD KtsbGetStatus();
BOOL KtsbBind();
BOOL KtsbWaitIdle();
// 2 stops the job, 0 lets it go on; reports the code to the current instance.
LONG ClassifyStatus(LONG lCode);
LONG MapKtsbFlags(BYTE bFlags);

constexpr WORD kKtsbRepeatWrite = 0x1000;
constexpr LONG kKtsbStop = 2;

}  // namespace port
