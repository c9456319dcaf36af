// The Comm* calls: look the handle up, hand the call to the serial port.
// Timeouts also reach stream devices, as their serial I/O controls.
#include <cstddef>
#include <cstring>

#include "core/handles.h"
#include "core/trace.h"
#include "serial/serial_port.h"
#include "win/base.h"
#include "win/serial.h"

namespace {

using platform::serial::SerialPort;

// The serial port behind a handle. A valid handle of another kind fails with
// ERROR_INVALID_FUNCTION, as a device that does not know serial requests does.
std::shared_ptr<SerialPort> PortOf(HANDLE handle) {
    auto object = platform::LookupHandle(handle);
    if (!object) return nullptr;
    auto port = std::dynamic_pointer_cast<SerialPort>(object);
    if (!port) SetLastError(ERROR_INVALID_FUNCTION);
    return port;
}

BOOL InvalidParameter() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

DWORD FlagsWord(const DCB& dcb) {
    DWORD word;
    std::memcpy(&word, reinterpret_cast<const BYTE*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), sizeof word);
    return word;
}

}  // namespace

WINBASEAPI BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) {
    PLATFORM_TRACE("GetCommState");
    if (!lpDCB) return InvalidParameter();
    auto port = PortOf(hFile);
    return port ? port->GetState(lpDCB) : FALSE;
}

WINBASEAPI BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
    if (!lpDCB) return InvalidParameter();
    PLATFORM_TRACE("SetCommState(%u,%u,%u,%u,0x%X)", lpDCB->BaudRate, lpDCB->Parity, lpDCB->ByteSize,
                   lpDCB->StopBits, FlagsWord(*lpDCB));
    auto port = PortOf(hFile);
    return port ? port->SetState(*lpDCB) : FALSE;
}

WINBASEAPI BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    PLATFORM_TRACE("GetCommTimeouts");
    if (!lpCommTimeouts) return InvalidParameter();
    auto object = platform::LookupHandle(hFile);
    if (!object) return FALSE;
    DWORD returned = 0;
    return object->IoControl(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, lpCommTimeouts, sizeof(COMMTIMEOUTS),
                             &returned);
}

WINBASEAPI BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    if (!lpCommTimeouts) return InvalidParameter();
    PLATFORM_TRACE("SetCommTimeouts(%u,%u,%u,%u,%u)", lpCommTimeouts->ReadIntervalTimeout,
                   lpCommTimeouts->ReadTotalTimeoutMultiplier, lpCommTimeouts->ReadTotalTimeoutConstant,
                   lpCommTimeouts->WriteTotalTimeoutMultiplier, lpCommTimeouts->WriteTotalTimeoutConstant);
    auto object = platform::LookupHandle(hFile);
    if (!object) return FALSE;
    DWORD returned = 0;
    return object->IoControl(IOCTL_SERIAL_SET_TIMEOUTS, lpCommTimeouts, sizeof(COMMTIMEOUTS), nullptr, 0,
                             &returned);
}

WINBASEAPI BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    PLATFORM_TRACE("EscapeCommFunction(%u)", dwFunc);
    auto port = PortOf(hFile);
    return port ? port->Escape(dwFunc) : FALSE;
}

WINBASEAPI BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
    PLATFORM_TRACE("ClearCommError");
    auto port = PortOf(hFile);
    return port ? port->ClearError(lpErrors, lpStat) : FALSE;
}

WINBASEAPI BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
    PLATFORM_TRACE("PurgeComm(0x%X)", dwFlags);
    auto port = PortOf(hFile);
    return port ? port->Purge(dwFlags) : FALSE;
}

WINBASEAPI BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue) {
    // The kernel's tty buffers have fixed sizes; the sizes are a hint.
    (void)dwInQueue;
    (void)dwOutQueue;
    return PortOf(hFile) ? TRUE : FALSE;
}

WINBASEAPI BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
    if (!lpModemStat) return InvalidParameter();
    auto port = PortOf(hFile);
    return port ? port->ModemStatus(lpModemStat) : FALSE;
}
