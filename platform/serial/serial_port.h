// Private to the platform layer: a serial port behind a HANDLE, a tty file
// descriptor in raw mode with VMIN = VTIME = 0. All waiting is done with
// poll, so that COMMTIMEOUTS are honoured exactly.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/handles.h"
#include "win/serial.h"

namespace platform::serial {

class SerialPort : public KernelObject {
public:
    // Opens the tty at `path` exclusively. On failure returns null and sets
    // the last error (ERROR_FILE_NOT_FOUND for a missing or non-tty device,
    // ERROR_ACCESS_DENIED when the port is already open).
    static std::shared_ptr<SerialPort> Open(const std::string& path, DWORD access);
    ~SerialPort() override;

    BOOL Read(void* buffer, DWORD count, DWORD* done) override;
    BOOL Write(const void* buffer, DWORD count, DWORD* done) override;
    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override;
    BOOL Close() override;

    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB& dcb);
    void GetTimeouts(COMMTIMEOUTS* timeouts);
    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
    BOOL Escape(DWORD function);
    BOOL ClearError(DWORD* errors, COMSTAT* stat);
    BOOL Purge(DWORD flags);
    BOOL ModemStatus(DWORD* status);

private:
    struct ErrorCounts {
        int frame = 0, parity = 0, overrun = 0, bufOverrun = 0, brk = 0;
    };

    SerialPort(int fd, int closeEvent, dev_t device, DWORD access);
    BOOL ChangeLines(int raise, int lower);
    bool ReadCounts(ErrorCounts* counts) const;
    BOOL DrainOutput(bool bounded, uint64_t remainingMs);
    // Waits for `events` on the port until `timeoutMs` (-1: no limit) or
    // until the handle is closed. Returns poll's revents of the port, 0 on
    // timeout, -1 with the last error set (ERROR_OPERATION_ABORTED on close).
    int Wait(short events, int timeoutMs);

    int fd_;
    int closeEvent_;  // eventfd, signalled by Close to end pending waits
    std::atomic<bool> closed_{false};
    dev_t device_;
    bool canRead_;
    bool canWrite_;
    std::mutex mutex_;  // guards the fields below, never held while waiting
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    ErrorCounts counts_{};
};

}  // namespace platform::serial
