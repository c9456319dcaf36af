// Private to the platform layer: the one place where errno becomes a Win32
// error code.
#pragma once

#include "win/types.h"

namespace platform {

DWORD Win32ErrorFromErrno(int err);

// SetLastError(Win32ErrorFromErrno(err)); returns FALSE for tail calls.
BOOL FailWithErrno(int err);

// The Winsock code (WSAE...) for errno values of socket calls.
int WsaErrorFromErrno(int err);

}  // namespace platform
