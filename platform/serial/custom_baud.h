// Private to the platform layer: baud rates outside the standard B* table.
#pragma once

#include "win/types.h"

namespace platform::serial {

// Sets both directions of the line to `baud` with BOTHER. Returns 0 or errno.
int SetCustomBaud(int fd, DWORD baud);

}  // namespace platform::serial
