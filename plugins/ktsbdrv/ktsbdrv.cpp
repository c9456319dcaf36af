// libktsbdrv.so: the KTSB link driver, a stream driver registered as
// "LPT9:" with the name of its serial port as the registration context.
// The serial port is opened when the device is first opened (not at
// registration), so a missing port shows as a failed open of "LPT9:".
#include <cstring>
#include <mutex>
#include <string>

#include "ktsbdrv.h"
#include "link.h"
#include "win/base.h"
#include "win/device.h"
#include "win/errors.h"
#include "win/serial.h"

#define KTSB_DRIVER_API extern "C" __attribute__((visibility("default")))

namespace {

// "COM1:" to "COM255:"; longer names are not serial ports.
constexpr size_t kMaxPortName = 16;

struct Device {
    explicit Device(const std::u16string& port) : link(port) {}
    ktsb::Link link;
    std::mutex opensMutex;
    int opens = 0;
};

struct OpenContext {
    Device* device;
};

// The name must be copied now: the caller's string lives only during Init.
bool CopyPortName(const WCHAR* name, std::u16string* out) {
    if (!name) return false;
    size_t length = 0;
    while (length <= kMaxPortName && name[length]) ++length;
    if (length == 0 || length > kMaxPortName) return false;
    out->assign(name, length);
    // Only serial ports carry the link.
    return length > 3 && (name[0] | 0x20) == u'c' && (name[1] | 0x20) == u'o' && (name[2] | 0x20) == u'm';
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL GetStatus(Device& device, BYTE* out, DWORD outSize, DWORD* returned) {
    if (!out || outSize < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    DWORD status = device.link.Status();
    std::memcpy(out, &status, sizeof status);
    if (returned) *returned = sizeof status;
    return TRUE;
}

BOOL Query(Device& device, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD* returned) {
    if (!out || outSize < ktsb::kQueryOutSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (!in || inSize < 1 || in[0] != ktsb::kQuerySelector) {
        std::memset(out, 0, ktsb::kQueryOutSize);
        return Fail(ERROR_INVALID_PARAMETER);
    }
    BOOL ok = device.link.Query(out);
    if (returned) *returned = ok ? ktsb::kQueryOutSize : 0;
    return ok;
}

}  // namespace

KTSB_DRIVER_API DWORD_PTR LPT_Init(DWORD_PTR dwContext) {
    std::u16string port;
    if (!CopyPortName(reinterpret_cast<const WCHAR*>(dwContext), &port)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return reinterpret_cast<DWORD_PTR>(new Device(port));
}

KTSB_DRIVER_API BOOL LPT_Deinit(DWORD_PTR hDeviceContext) {
    delete reinterpret_cast<Device*>(hDeviceContext);
    return TRUE;
}

KTSB_DRIVER_API DWORD_PTR LPT_Open(DWORD_PTR hDeviceContext, DWORD, DWORD) {
    auto* device = reinterpret_cast<Device*>(hDeviceContext);
    std::lock_guard lock(device->opensMutex);
    if (device->opens == 0 && !device->link.Open()) return 0;  // CreateFileW's error stays
    ++device->opens;
    return reinterpret_cast<DWORD_PTR>(new OpenContext{device});
}

KTSB_DRIVER_API BOOL LPT_Close(DWORD_PTR hOpenContext) {
    auto* open = reinterpret_cast<OpenContext*>(hOpenContext);
    {
        std::lock_guard lock(open->device->opensMutex);
        if (--open->device->opens == 0) open->device->link.Close();
    }
    delete open;
    return TRUE;
}

// The printer sends nothing but answers to frames.
KTSB_DRIVER_API DWORD LPT_Read(DWORD_PTR, void*, DWORD) { return 0; }

KTSB_DRIVER_API DWORD LPT_Write(DWORD_PTR hOpenContext, const void* pBuffer, DWORD Count) {
    auto* open = reinterpret_cast<OpenContext*>(hOpenContext);
    if (!pBuffer && Count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<DWORD>(-1);
    }
    return open->device->link.Write(static_cast<const BYTE*>(pBuffer), Count);
}

KTSB_DRIVER_API BOOL LPT_IOControl(DWORD_PTR hOpenContext, DWORD dwCode, BYTE* pBufIn, DWORD dwLenIn, BYTE* pBufOut,
                                   DWORD dwLenOut, DWORD* pdwActualOut) {
    Device& device = *reinterpret_cast<OpenContext*>(hOpenContext)->device;
    if (pdwActualOut) *pdwActualOut = 0;
    switch (dwCode) {
        case IOCTL_KTSB_CANCEL: return device.link.Cancel();
        case IOCTL_KTSB_BIND: return device.link.Bind();
        case IOCTL_KTSB_GET_STATUS: return GetStatus(device, pBufOut, dwLenOut, pdwActualOut);
        case IOCTL_KTSB_QUERY: return Query(device, pBufIn, dwLenIn, pBufOut, dwLenOut, pdwActualOut);
        case IOCTL_SERIAL_SET_TIMEOUTS: {
            if (!pBufIn || dwLenIn < sizeof(COMMTIMEOUTS)) return Fail(ERROR_INVALID_PARAMETER);
            COMMTIMEOUTS timeouts;
            std::memcpy(&timeouts, pBufIn, sizeof timeouts);
            device.link.SetTimeouts(timeouts);
            return TRUE;
        }
        default: return Fail(ERROR_INVALID_FUNCTION);
    }
}
