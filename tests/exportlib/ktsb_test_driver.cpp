// A stream driver standing in for the KTSB link in the export tests, with
// the prefix "KTB". Its registration context decides whether it accepts the
// link controls (1) or refuses them for ever (0).
#include "win/base.h"
#include "win/device.h"

#define DRIVER_API extern "C" __attribute__((visibility("default")))

namespace {
struct Device {
    bool accepts;
};
}  // namespace

DRIVER_API DWORD_PTR KTB_Init(DWORD_PTR context) { return reinterpret_cast<DWORD_PTR>(new Device{context == 1}); }
DRIVER_API BOOL KTB_Deinit(DWORD_PTR device) {
    delete reinterpret_cast<Device*>(device);
    return TRUE;
}
DRIVER_API DWORD_PTR KTB_Open(DWORD_PTR device, DWORD, DWORD) { return device; }
DRIVER_API BOOL KTB_Close(DWORD_PTR) { return TRUE; }
DRIVER_API DWORD KTB_Read(DWORD_PTR, void*, DWORD) { return 0; }
DRIVER_API DWORD KTB_Write(DWORD_PTR, const void*, DWORD count) { return count; }
DRIVER_API BOOL KTB_IOControl(DWORD_PTR open, DWORD code, BYTE*, DWORD, BYTE* out, DWORD outSize, DWORD* actual) {
    if (!reinterpret_cast<Device*>(open)->accepts || (code != 0x1B1000 && code != 0x1B1004)) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    if (out && outSize) *out = 0;
    if (actual) *actual = 0;
    return TRUE;
}
