// Private to the platform layer: pure translations between the Win32 serial
// structures and termios / modem lines, and COMMTIMEOUTS -> timeout plans.
// Nothing here touches a device, so all of it is tested without a port.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

#include "win/serial.h"

namespace platform::serial {

// The termios speed code for a baud rate, or nullopt when the rate is not
// one of the standard B* rates (it is then set with BOTHER, see custom_baud).
std::optional<speed_t> SpeedCodeForBaud(DWORD baud);
// The baud rate of a standard speed code; 0 for unknown codes.
DWORD BaudForSpeedCode(speed_t code);

// Applies the DCB's line settings (size, parity, stop bits, flow control,
// XON/XOFF characters, standard baud rate) to *tio, keeping the raw-mode
// bits. Returns ERROR_SUCCESS or ERROR_INVALID_PARAMETER (bad ByteSize,
// Parity, StopBits or a zero baud rate); *tio is untouched on error.
DWORD DcbToTermios(const DCB& dcb, termios* tio);

// Fills the DCB fields termios holds (baud, size, parity, stop bits, CTS/RTS
// and XON/XOFF flow, flow characters); other fields are left as they are.
void TermiosToDcb(const termios& tio, DCB* dcb);

// Modem lines (TIOCM_DTR / TIOCM_RTS) to raise and to lower for a DCB's
// fDtrControl/fRtsControl. RTS_CONTROL_TOGGLE lowers RTS: it is raised only
// while a write is under way.
struct ModemLineChange {
    int raise = 0;
    int lower = 0;
};
ModemLineChange ModemLinesForDcb(const DCB& dcb);

// How ReadFile waits, by the Win32 COMMTIMEOUTS rules.
struct ReadPlan {
    bool immediate = false;    // return at once with what is already there
    bool returnOnAny = false;  // return as soon as at least one byte came
    std::optional<uint64_t> totalMs;     // whole call, from its start
    std::optional<uint32_t> intervalMs;  // between bytes, after the first
};
ReadPlan PlanRead(const COMMTIMEOUTS& cto, DWORD count);

// Total time a WriteFile of count bytes may take; nullopt = no limit.
std::optional<uint64_t> PlanWrite(const COMMTIMEOUTS& cto, DWORD count);

}  // namespace platform::serial
