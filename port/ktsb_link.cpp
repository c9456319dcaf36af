// Placeholders that keep the tree linking until the KTSB link task replaces
// them: every call fails openly (ERROR_CALL_NOT_IMPLEMENTED) with the value
// that stops a job, so no KTSB job can seem to succeed.
#include "port/Ktsb.h"
#include "win/base.h"
#include "win/errors.h"

namespace port {

LONG KtsbOpen(const WCHAR*) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return -1;
}

// 200: a fatal link condition, so a write loop stops instead of spinning.
WORD KtsbGetStatus() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 200;
}

BOOL KtsbBind() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

BOOL KtsbWaitIdle() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

LONG ClassifyStatus(LONG) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return kKtsbStop;
}

LONG MapKtsbFlags(BYTE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 221;
}

}  // namespace port
