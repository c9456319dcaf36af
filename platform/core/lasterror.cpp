#include "win/base.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

WINBASEAPI DWORD WINAPI GetLastError(void) { return t_lastError; }

WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
