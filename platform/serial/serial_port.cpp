#include "serial/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <set>
#include <thread>

#include "core/errno_map.h"
#include "serial/comm_translate.h"
#include "serial/custom_baud.h"
#include "win/base.h"

namespace platform::serial {
namespace {

using Clock = std::chrono::steady_clock;

// Longer waits than this (about 35 years) are waits without bound, and keep
// the clock arithmetic from overflowing.
constexpr uint64_t kForeverMs = uint64_t{1} << 40;

// The driver's timeouts for a freshly opened port: one-byte reads come back
// after at most 110 ms, writes never time out.
constexpr COMMTIMEOUTS kDefaultTimeouts = {250, 10, 100, 0, 0};

// Serial ports are exclusive on Win32 whatever the share mode. TIOCEXCL
// keeps other processes out; this set keeps out other handles of ours,
// which TIOCEXCL would not (nor for a privileged process).
std::mutex g_openMutex;
std::set<dev_t>& OpenDevices() {
    static auto* devices = new std::set<dev_t>;
    return *devices;
}

bool ClaimDevice(dev_t device) {
    std::lock_guard lock(g_openMutex);
    return OpenDevices().insert(device).second;
}

void ReleaseDevice(dev_t device) {
    std::lock_guard lock(g_openMutex);
    OpenDevices().erase(device);
}

// A tty returns EIO (or end of file) once the other side hung up.
BOOL FailHungUp() {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
}

// Other failures of a call on the port; EIO there means a hung-up line.
BOOL FailIo(int err) { return err == EIO ? FailHungUp() : FailWithErrno(err); }

// A read or write starts only on a port still open and opened for it.
bool MayTransfer(bool closed, bool opened) {
    if (closed) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return false;
    }
    if (!opened) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// Ports without modem-control lines (pseudo-terminals, some USB adapters)
// refuse the line ioctls with these.
bool LinesUnsupported(int err) { return err == ENOTTY || err == EINVAL || err == ENOTSUP; }

// Milliseconds left until `deadline`, rounded up, as a poll timeout.
int PollTimeout(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

std::optional<Clock::time_point> DeadlineAfter(std::optional<uint64_t> ms, Clock::time_point from) {
    if (!ms || *ms >= kForeverMs) return std::nullopt;
    return from + std::chrono::milliseconds(*ms);
}

// tcsetattr, tolerating devices that keep their own frame format: the C
// library reports EINVAL when a driver ignored the size or parity bits, as a
// pseudo-terminal does (it always runs 8N1). Everything else must have taken.
int ApplyTermios(int fd, const termios& wanted) {
    if (tcsetattr(fd, TCSANOW, &wanted) == 0) return 0;
    int err = errno;
    termios actual{};
    if (err != EINVAL || tcgetattr(fd, &actual) != 0) return err;
    constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CMSPAR;
    bool sameElsewhere = actual.c_iflag == wanted.c_iflag && actual.c_oflag == wanted.c_oflag &&
                         actual.c_lflag == wanted.c_lflag &&
                         (actual.c_cflag & ~kFrame) == (wanted.c_cflag & ~kFrame);
    return sameElsewhere ? 0 : err;
}

}  // namespace

std::shared_ptr<SerialPort> SerialPort::Open(const std::string& path, DWORD access) {
    const bool reads = access & (GENERIC_READ | GENERIC_ALL);
    const bool writes = access & (GENERIC_WRITE | GENERIC_ALL);
    const int mode = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    int fd = ::open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        // A port that is in use, or a device node without hardware, reads
        // as Win32 reports them.
        if (err == EBUSY) SetLastError(ERROR_ACCESS_DENIED);
        else if (err == ENXIO || err == ENODEV) SetLastError(ERROR_FILE_NOT_FOUND);
        else FailWithErrno(err);
        return nullptr;
    }
    struct stat st {};
    termios tio{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        SetLastError(ERROR_FILE_NOT_FOUND);  // not a serial port
        return nullptr;
    }
    if (!ClaimDevice(st.st_rdev)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    // Once claimed, a failure gives the port back before it reports errno.
    auto giveBack = [&] {
        int err = errno;
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        ReleaseDevice(st.st_rdev);
        FailWithErrno(err);
        return nullptr;
    };

    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return giveBack();

    int closeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (closeEvent < 0) return giveBack();
    std::shared_ptr<SerialPort> port(new SerialPort(fd, closeEvent, st.st_rdev, access));
    DCB& dcb = port->dcb_;
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // open raises DTR and RTS
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.BaudRate = CBR_9600;
    TermiosToDcb(tio, &dcb);
    port->timeouts_ = kDefaultTimeouts;
    port->ReadCounts(&port->counts_);
    return port;
}

SerialPort::SerialPort(int fd, int closeEvent, dev_t device, DWORD access)
    : fd_(fd),
      closeEvent_(closeEvent),
      device_(device),
      canRead_((access & (GENERIC_READ | GENERIC_ALL)) != 0),
      canWrite_((access & (GENERIC_WRITE | GENERIC_ALL)) != 0) {}

// The descriptor lives as long as the object, so that a call still running
// on another thread never sees it closed (or reused) under its feet.
SerialPort::~SerialPort() {
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(closeEvent_);
    ReleaseDevice(device_);
}

BOOL SerialPort::Close() {
    closed_ = true;
    eventfd_write(closeEvent_, 1);
    return TRUE;
}

int SerialPort::Wait(short events, int timeoutMs) {
    pollfd fds[2] = {{fd_, events, 0}, {closeEvent_, POLLIN, 0}};
    int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0) {
        if (errno == EINTR) return 0;
        FailIo(errno);
        return -1;
    }
    if (fds[1].revents) {
        SetLastError(ERROR_OPERATION_ABORTED);  // as Win32 ends I/O pending on a closed handle
        return -1;
    }
    return fds[0].revents;
}

BOOL SerialPort::Read(void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (!MayTransfer(closed_, canRead_)) return FALSE;
    if (count == 0) return TRUE;
    COMMTIMEOUTS cto;
    GetTimeouts(&cto);
    const ReadPlan plan = PlanRead(cto, count);
    const auto start = Clock::now();
    const auto totalDeadline = DeadlineAfter(plan.totalMs, start);
    std::optional<Clock::time_point> intervalDeadline;
    auto* bytes = static_cast<BYTE*>(buffer);
    DWORD got = 0;
    bool hangupSeen = false;

    // With VMIN = VTIME = 0 a read returns 0 when nothing is there, and a
    // hung-up line reads the same way; poll tells the two apart.
    for (;;) {
        ssize_t n = ::read(fd_, bytes + got, count - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            *done = got;
            if (got == count || plan.returnOnAny) return TRUE;
            if (plan.intervalMs) intervalDeadline = Clock::now() + std::chrono::milliseconds(*plan.intervalMs);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return FailIo(errno);
        if (hangupSeen) return FailHungUp();

        int wait = 0;
        if (!plan.immediate) {
            std::optional<Clock::time_point> deadline = totalDeadline;
            if (intervalDeadline && (!deadline || *intervalDeadline < *deadline)) deadline = intervalDeadline;
            wait = deadline ? PollTimeout(*deadline) : -1;
        }
        int revents = Wait(POLLIN, wait);
        if (revents < 0) return FALSE;
        // After a hangup one more read delivers what is left, then we fail.
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) hangupSeen = true;
        else if (revents == 0 && (plan.immediate || wait == 0)) return TRUE;  // timed out: TRUE with what came
    }
}

BOOL SerialPort::Write(const void* buffer, DWORD count, DWORD* done) {
    *done = 0;
    if (!MayTransfer(closed_, canWrite_)) return FALSE;
    if (count == 0) return TRUE;
    COMMTIMEOUTS cto;
    GetTimeouts(&cto);
    bool toggleRts;
    {
        std::lock_guard lock(mutex_);
        toggleRts = dcb_.fRtsControl == RTS_CONTROL_TOGGLE;
    }
    const auto deadline = DeadlineAfter(PlanWrite(cto, count), Clock::now());
    if (toggleRts) ChangeLines(TIOCM_RTS, 0);

    auto* bytes = static_cast<const BYTE*>(buffer);
    DWORD sent = 0;
    BOOL ok = TRUE;
    while (sent < count) {
        ssize_t n = ::write(fd_, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<DWORD>(n);
            *done = sent;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EIO) {
            ok = FailHungUp();
            break;
        }
        if (n < 0 && errno != EAGAIN) {
            ok = FailIo(errno);
            break;
        }
        int wait = deadline ? PollTimeout(*deadline) : -1;
        if (wait == 0) {
            // As on Win32, a timed-out write succeeds with fewer bytes; the
            // count tells the caller. ERROR_TIMEOUT says why.
            SetLastError(ERROR_TIMEOUT);
            break;
        }
        int revents = Wait(POLLOUT, wait);
        if (revents < 0) {
            ok = FALSE;
            break;
        }
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLOUT)) {
            ok = FailHungUp();
            break;
        }
    }
    if (toggleRts) {
        // RTS stays up until the last bit has left the line.
        uint64_t left = deadline ? static_cast<uint64_t>(PollTimeout(*deadline)) : 0;
        DWORD keep = GetLastError();
        DrainOutput(deadline.has_value(), left);
        ChangeLines(0, TIOCM_RTS);
        SetLastError(keep);
    }
    return ok;
}

BOOL SerialPort::DrainOutput(bool bounded, uint64_t remainingMs) {
    if (!bounded) return tcdrain(fd_) == 0 ? TRUE : FailIo(errno);
    const auto deadline = Clock::now() + std::chrono::milliseconds(remainingMs);
    for (;;) {
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) break;
        if (Clock::now() >= deadline) return FALSE;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The queue is empty; what is left is the UART's shift register.
    return tcdrain(fd_) == 0 ? TRUE : FailIo(errno);
}

BOOL SerialPort::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    COMMTIMEOUTS cto;
    switch (code) {
        case IOCTL_SERIAL_SET_TIMEOUTS:
            if (!in || inSize < sizeof cto) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
            std::memcpy(&cto, in, sizeof cto);
            return SetTimeouts(cto);
        case IOCTL_SERIAL_GET_TIMEOUTS:
            if (!out || outSize < sizeof cto) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            GetTimeouts(&cto);
            std::memcpy(out, &cto, sizeof cto);
            *returned = sizeof cto;
            return TRUE;
        default: return KernelObject::IoControl(code, in, inSize, out, outSize, returned);
    }
}

BOOL SerialPort::GetState(DCB* dcb) {
    std::lock_guard lock(mutex_);
    *dcb = dcb_;
    dcb->DCBlength = sizeof(DCB);
    return TRUE;
}

BOOL SerialPort::SetState(const DCB& dcb) {
    std::lock_guard lock(mutex_);
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return FailIo(errno);
    if (DWORD error = DcbToTermios(dcb, &tio)) {
        SetLastError(error);
        return FALSE;
    }
    if (int err = ApplyTermios(fd_, tio)) return FailIo(err);
    if (!SpeedCodeForBaud(dcb.BaudRate)) {
        if (int err = SetCustomBaud(fd_, dcb.BaudRate)) return FailIo(err);
    }
    dcb_ = dcb;
    dcb_.DCBlength = sizeof(DCB);
    ModemLineChange lines = ModemLinesForDcb(dcb);
    return ChangeLines(lines.raise, lines.lower);
}

void SerialPort::GetTimeouts(COMMTIMEOUTS* timeouts) {
    std::lock_guard lock(mutex_);
    *timeouts = timeouts_;
}

BOOL SerialPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    // All three read values at MAXDWORD have no meaning; serial drivers refuse it.
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts.ReadTotalTimeoutConstant == MAXDWORD) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return TRUE;
}

// Raises and lowers modem lines. A port without modem control keeps working:
// the call succeeds and the last error says ERROR_NOT_SUPPORTED.
BOOL SerialPort::ChangeLines(int raise, int lower) {
    int err = 0;
    if (raise && ioctl(fd_, TIOCMBIS, &raise) != 0) err = errno;
    if (!err && lower && ioctl(fd_, TIOCMBIC, &lower) != 0) err = errno;
    if (err == 0) return TRUE;
    if (!LinesUnsupported(err)) return FailIo(err);
    SetLastError(ERROR_NOT_SUPPORTED);
    return TRUE;
}

BOOL SerialPort::Escape(DWORD function) {
    int result = 0;
    switch (function) {
        case SETXOFF: result = tcflow(fd_, TCOOFF); break;
        case SETXON: result = tcflow(fd_, TCOON); break;
        case SETRTS: return ChangeLines(TIOCM_RTS, 0);
        case CLRRTS: return ChangeLines(0, TIOCM_RTS);
        case SETDTR: return ChangeLines(TIOCM_DTR, 0);
        case CLRDTR: return ChangeLines(0, TIOCM_DTR);
        case SETBREAK: result = ioctl(fd_, TIOCSBRK); break;
        case CLRBREAK: result = ioctl(fd_, TIOCCBRK); break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
    if (result == 0) return TRUE;
    if (!LinesUnsupported(errno)) return FailIo(errno);
    SetLastError(ERROR_NOT_SUPPORTED);
    return TRUE;
}

bool SerialPort::ReadCounts(ErrorCounts* counts) const {
    serial_icounter_struct icount{};
    if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) return false;  // not kept by this driver
    counts->frame = icount.frame;
    counts->parity = icount.parity;
    counts->overrun = icount.overrun;
    counts->bufOverrun = icount.buf_overrun;
    counts->brk = icount.brk;
    return true;
}

BOOL SerialPort::ClearError(DWORD* errors, COMSTAT* stat) {
    DWORD found = 0;
    ErrorCounts now;
    if (ReadCounts(&now)) {
        std::lock_guard lock(mutex_);
        if (now.bufOverrun != counts_.bufOverrun) found |= CE_RXOVER;
        if (now.overrun != counts_.overrun) found |= CE_OVERRUN;
        if (now.parity != counts_.parity) found |= CE_RXPARITY;
        if (now.frame != counts_.frame) found |= CE_FRAME;
        if (now.brk != counts_.brk) found |= CE_BREAK;
        counts_ = now;
    }
    if (errors) *errors = found;
    if (stat) {
        int in = 0, out = 0;
        if (ioctl(fd_, FIONREAD, &in) != 0) return FailIo(errno);
        if (ioctl(fd_, TIOCOUTQ, &out) != 0) out = 0;
        std::memset(stat, 0, sizeof *stat);
        stat->cbInQue = static_cast<DWORD>(std::max(in, 0));
        stat->cbOutQue = static_cast<DWORD>(std::max(out, 0));
    }
    return TRUE;
}

BOOL SerialPort::Purge(DWORD flags) {
    if (flags & ~DWORD{PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR}) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The abort flags have nothing to cancel: no call here is overlapped.
    int queue = -1;
    if ((flags & PURGE_TXCLEAR) && (flags & PURGE_RXCLEAR)) queue = TCIOFLUSH;
    else if (flags & PURGE_TXCLEAR) queue = TCOFLUSH;
    else if (flags & PURGE_RXCLEAR) queue = TCIFLUSH;
    if (queue >= 0 && tcflush(fd_, queue) != 0) return FailIo(errno);
    return TRUE;
}

BOOL SerialPort::ModemStatus(DWORD* status) {
    *status = 0;
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
        if (!LinesUnsupported(errno)) return FailIo(errno);
        SetLastError(ERROR_NOT_SUPPORTED);
        return TRUE;
    }
    if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
    if (lines & TIOCM_RI) *status |= MS_RING_ON;
    if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
    return TRUE;
}

}  // namespace platform::serial
