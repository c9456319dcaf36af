// IrDA stream sockets: what the kernel's stack and the emulation share.
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "core/errno_map.h"
#include "core/utf.h"
#include "win/registry.h"
#include "winsock/irda.h"

namespace platform::irda {
namespace {

constexpr int kWsaEinval = 10022;
constexpr int kWsaEnotconn = 10057;
constexpr int kWsaEopnotsupp = 10045;
constexpr int kWsaEtimedout = 10060;

constexpr const WCHAR* kIrdaKey = u"Comm\\IrDA";

// A value under HKEY_LOCAL_MACHINE\Comm\IrDA, or nothing.
bool QueryValue(const WCHAR* name, DWORD* type, BYTE* data, DWORD* size) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIrdaKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExW(key, name, nullptr, type, data, size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace

Socket::~Socket() { close(fd_); }

int Socket::SetIrlptMode(bool on) {
    if (connected_) return kWsaEinval;  // the mode picks the protocol of the connection
    irlpt_ = on;
    return 0;
}

int Socket::Send(const void* data, size_t count, int flags, size_t* sent) {
    *sent = 0;
    if (!connected_) return kWsaEnotconn;
    if (flags != 0) return kWsaEopnotsupp;  // IrDA has no urgent data and no routing
    if (irlpt_ && count > kIrlptPduSize) count = kIrlptPduSize;
    for (;;) {
        ssize_t n = ::send(fd_, data, count, MSG_NOSIGNAL);
        if (n >= 0) {
            *sent = static_cast<size_t>(n);
            return 0;
        }
        if (errno == EINTR) continue;
        return errno == EAGAIN ? kWsaEtimedout : WsaErrorFromErrno(errno);
    }
}

int Socket::Recv(void* data, size_t count, int flags, size_t* received) {
    *received = 0;
    if (!connected_) return kWsaEnotconn;
    if (flags & ~MSG_PEEK) return kWsaEopnotsupp;
    for (;;) {
        ssize_t n = ::recv(fd_, data, count, flags);
        if (n >= 0) {
            *received = static_cast<size_t>(n);
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return kWsaEtimedout;
        return WsaErrorFromErrno(errno);
    }
}

int Socket::SetTimeout(bool sending, DWORD milliseconds) {
    timeval tv{static_cast<time_t>(milliseconds / 1000), static_cast<suseconds_t>(milliseconds % 1000) * 1000};
    if (setsockopt(fd_, SOL_SOCKET, sending ? SO_SNDTIMEO : SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return WsaErrorFromErrno(errno);
    (sending ? sendTimeout_ : recvTimeout_) = milliseconds;
    return 0;
}

void Socket::Shutdown() { ::shutdown(fd_, SHUT_RDWR); }

std::shared_ptr<Socket> OpenSocket(int* error) {
    // A kernel without the family says so once; asking again would only
    // repeat its module look-up on every socket.
    static std::atomic<bool> kernelLacksIrda{false};
    if (!kernelLacksIrda.load(std::memory_order_relaxed) && KernelStackAllowed()) {
        if (auto native = OpenNativeSocket(error)) return native;
        if (*error != 10047) return nullptr;  // the stack exists but failed
        kernelLacksIrda.store(true, std::memory_order_relaxed);
    }
    return OpenEmulatedSocket(error);
}

std::string EmulationDirectory() {
    WCHAR buf[1024] = {};
    DWORD type = 0, size = sizeof buf - sizeof(WCHAR);
    if (QueryValue(u"EmulationDir", &type, reinterpret_cast<BYTE*>(buf), &size) &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && buf[0] != 0)
        return ToUtf8(buf);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/pressel-irda";
    return "/tmp/pressel-irda-" + std::to_string(getuid());
}

bool KernelStackAllowed() {
    DWORD value = 1, type = 0, size = sizeof value;
    if (!QueryValue(u"KernelIrDA", &type, reinterpret_cast<BYTE*>(&value), &size) || type != REG_DWORD) return true;
    return value != 0;
}

}  // namespace platform::irda
