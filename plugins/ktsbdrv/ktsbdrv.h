// The contract of the KTSB link driver ("ktsbdrv.dll", registered as "LPT9:"
// over a serial port): its I/O controls, the status word and the query
// layout. Shared by the driver, the control that drives it and the tests;
// the wire protocol behind it is in PROTOCOL.md beside this file.
#pragma once

#include "win/types.h"

// Device type 0x1B (serial port), method 0, no access bits.
#ifndef IOCTL_KTSB_CANCEL
#define IOCTL_KTSB_CANCEL 0x1B1000u
#endif
#ifndef IOCTL_KTSB_BIND
#define IOCTL_KTSB_BIND 0x1B1004u
#endif
#ifndef IOCTL_KTSB_GET_STATUS
#define IOCTL_KTSB_GET_STATUS 0x1B100Cu
#endif
#ifndef IOCTL_KTSB_QUERY
#define IOCTL_KTSB_QUERY 0x1B1014u
#endif

namespace ktsb {

// Status word (low 16 bits of the 4-byte GET_STATUS output): 0 no
// condition; the low 8 bits a condition code; this bit asks the caller to
// repeat its last write from the first byte.
constexpr WORD kStatusRepeat = 0x1000;
constexpr WORD kCodeMask = 0x00FF;

// Condition codes the driver itself sets (printers report their own codes
// through the acknowledgements, passed on unchanged).
constexpr BYTE kCodeNoHandshake = 124;  // the printer did not accept the bind (not fatal: try again)
constexpr BYTE kCodeLinkLost = 200;     // the printer stopped answering (fatal)
constexpr BYTE kCodeLineFault = 201;    // the serial port failed (fatal)
constexpr BYTE kCodeNotBound = 202;     // data written before a successful bind (fatal)

// Transmission faults in a row (damaged or unanswered frames) after which
// the driver reports kCodeLinkLost instead of asking for a repeat.
constexpr int kMaxLineFaults = 5;

// QUERY: input one byte, the selector; output 6 bytes.
constexpr BYTE kQuerySelector = 3;
constexpr DWORD kQueryOutSize = 6;
enum QueryByte : DWORD {
    kQueryEcho = 0,     // the selector, 3
    kQueryBusy = 1,     // busy bits in the low nibble: the printer still has data to handle
    kQueryFlags = 2,    // condition flags 0x01..0x80
    kQueryCode = 3,     // the printer's last condition code
    kQueryRetries = 4,  // frames sent again since the bind (little-endian, saturating)
};
constexpr BYTE kBusyMask = 0x0F;

}  // namespace ktsb
