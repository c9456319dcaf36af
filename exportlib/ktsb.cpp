// The KTSB link controls: one I/O control, tried up to nine times.
#include "Ondrel.h"

namespace {

constexpr int kAttempts = 9;
constexpr DWORD kRetryPauseMs = 500;

int SendControl(HANDLE hDevice, DWORD code) {
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        DWORD returned = 0;
        if (DeviceIoControl(hDevice, code, nullptr, 0, nullptr, 0, &returned, nullptr)) return attempt;
        Sleep(kRetryPauseMs);
    }
    return 0;
}

}  // namespace

ONDREL_API int KtsbCancel(HANDLE hDevice) { return SendControl(hDevice, IOCTL_KTSB_CANCEL); }

ONDREL_API int KtsbDevIOCBind(HANDLE hDevice) { return SendControl(hDevice, IOCTL_KTSB_BIND); }
