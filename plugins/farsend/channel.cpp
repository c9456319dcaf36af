#include "channel.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "irda.h"

namespace farsend {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the descriptor to accept output; false on timeout or error.
bool WaitWritable(int fd, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        int n = poll(&p, 1, MillisecondsLeft(deadline));
        if (n > 0) return (p.revents & POLLOUT) != 0 || (p.revents & (POLLERR | POLLHUP)) != 0;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

int ConnectOne(const addrinfo* ai, int timeoutMs) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return fd;
    if (errno == EINPROGRESS) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int error = 0;
        socklen_t length = sizeof error;
        if (WaitWritable(fd, deadline) && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
            error == 0)
            return fd;
    }
    close(fd);
    return -1;
}

// Tries each address the resolver gives, in its order.
int ConnectTcp(const Target& target) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (getaddrinfo(target.host.c_str(), target.port.c_str(), &hints, &list) != 0) return -1;
    int fd = -1;
    for (const addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) fd = ConnectOne(ai, kConnectTimeoutMs);
    freeaddrinfo(list);
    return fd;
}

// Non-blocking, so that neither a FIFO without a reader nor a stuck device
// can hold the caller beyond the stall timeout.
int OpenPath(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
}

// write() on a pipe whose reader has gone raises SIGPIPE, which would end
// the client's process; keep it blocked for this thread and consume it.
ssize_t WriteNoSignal(int fd, const void* data, size_t count) {
    sigset_t pipeOnly, old;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    ssize_t n = write(fd, data, count);
    int saved = errno;
    if (n < 0 && saved == EPIPE && !sigismember(&pendingBefore, SIGPIPE)) {
        timespec zero{0, 0};
        sigtimedwait(&pipeOnly, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = saved;
    return n;
}

}  // namespace

std::unique_ptr<Channel> Channel::Open(const Target& target) {
    int fd = -1;
    bool socket = false;
    switch (target.kind) {
    case TargetKind::Tcp:
        fd = ConnectTcp(target);
        socket = true;
        break;
    case TargetKind::Path:
        fd = OpenPath(target.path);
        break;
    case TargetKind::Irda:
        fd = OpenIrdaDescriptor();
        socket = true;
        break;
    case TargetKind::Unknown:
        break;
    }
    if (fd < 0) return nullptr;
    return std::unique_ptr<Channel>(new Channel(fd, socket));
}

Channel::~Channel() { close(fd_); }

bool Channel::SendAll(const uint8_t* data, size_t count, int stallTimeoutMs) {
    if (count == 0) return true;
    if (!data) return false;
    // The deadline moves on with every bit of progress: a slow printer is
    // fine, a silent one is not.
    const auto stall = std::chrono::milliseconds(stallTimeoutMs);
    auto deadline = Clock::now() + stall;
    while (count > 0) {
        ssize_t n = socket_ ? send(fd_, data, count, MSG_NOSIGNAL) : WriteNoSignal(fd_, data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            deadline = Clock::now() + stall;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() >= deadline || !WaitWritable(fd_, deadline)) return false;
            continue;
        }
        return false;  // n == 0 (nothing accepted, e.g. a full device) or a real error
    }
    return true;
}

void Channel::Shutdown() {
    if (socket_) shutdown(fd_, SHUT_WR);
}

}  // namespace farsend
