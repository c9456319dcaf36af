// The port library's entry points, as the control looks them up by name with
// GetProcAddressW. Handles are small positive numbers; -1 means "not opened".
#pragma once

#include "win/types.h"

#define FARSEND_API extern "C" __attribute__((visibility("default")))

// Opens a printer channel: "TCP:host[:port]" (raw printing, port 9100 when
// none; IPv6 addresses in brackets), or a device or file path starting with
// '/'. Returns -1 for anything it cannot open.
FARSEND_API LONG PrinterOpen(const WCHAR* port);

// Sends all bytes or fails: nonzero only when every byte went out.
FARSEND_API BOOL PrinterSend(LONG handle, const BYTE* data, DWORD count);

// Ends the channel; unknown handles are ignored.
FARSEND_API void PrinterClose(LONG handle);

typedef LONG (*PFN_PRINTEROPEN)(const WCHAR* port);
typedef BOOL (*PFN_PRINTERSEND)(LONG handle, const BYTE* data, DWORD count);
typedef void (*PFN_PRINTERCLOSE)(LONG handle);
