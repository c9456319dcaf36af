#include "irda_device.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "win/registry.h"

namespace irda_test {

Neighbourhood::Neighbourhood() {
    char tmpl[] = "/tmp/pressel-irda-test-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    root_ = tmpl;
    dir_ = root_ + "/air";
    std::filesystem::create_directory(dir_);
    setenv("PRESSEL_REGISTRY", (root_ + "/registry.reg").c_str(), 1);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Comm\\IrDA", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        throw std::runtime_error("registry");
    std::u16string wdir(dir_.begin(), dir_.end());
    RegSetValueExW(key, u"EmulationDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(wdir.c_str()),
                   static_cast<DWORD>((wdir.size() + 1) * sizeof(char16_t)));
    DWORD zero = 0;
    RegSetValueExW(key, u"KernelIrDA", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    RegCloseKey(key);
}

Neighbourhood::~Neighbourhood() {
    unsetenv("PRESSEL_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

struct Device::State {
    std::string path;
    int listenFd = -1;
    int stop[2] = {-1, -1};
    std::thread thread;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::string received;
    int conn = -1;
    int accepted = 0;
    int closed = 0;
    bool paused = false;

    void Run() {
        char buf[4096];
        for (;;) {
            int conn_;
            bool paused_;
            {
                std::lock_guard lock(mutex);
                conn_ = conn;
                paused_ = paused;
            }
            pollfd fds[2] = {{stop[0], POLLIN, 0}, {conn_ >= 0 ? conn_ : listenFd, POLLIN, 0}};
            if (poll(fds, paused_ ? 1 : 2, paused_ ? 10 : -1) < 0) continue;
            if (paused_) fds[1].revents = 0;
            if (fds[0].revents) return;
            if (!fds[1].revents) continue;
            if (conn_ < 0) {
                int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                std::lock_guard lock(mutex);
                conn = fd;
                ++accepted;
                changed.notify_all();
                continue;
            }
            ssize_t n = read(conn_, buf, sizeof buf);
            std::lock_guard lock(mutex);
            if (n > 0) {
                received.append(buf, static_cast<size_t>(n));
            } else {
                close(conn);
                conn = -1;
                ++closed;
            }
            changed.notify_all();
        }
    }
};

Device::Device(const std::string& dir, Id id, const std::string& name, const std::string& service)
    : state_(std::make_shared<State>()) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", id[0], id[1], id[2], id[3]);
    state_->path = dir + "/" + hex + "." + name + "." + service;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (state_->path.size() >= sizeof address.sun_path) throw std::runtime_error("path too long");
    std::strcpy(address.sun_path, state_->path.c_str());
    state_->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (state_->listenFd < 0 || ::bind(state_->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(state_->listenFd, 4) != 0 || pipe2(state_->stop, O_CLOEXEC) != 0)
        throw std::runtime_error("device socket");
    state_->thread = std::thread([s = state_.get()] { s->Run(); });
}

Device::~Device() {
    unlink(state_->path.c_str());
    (void)!write(state_->stop[1], "x", 1);
    state_->thread.join();
    if (state_->conn >= 0) close(state_->conn);
    close(state_->listenFd);
    close(state_->stop[0]);
    close(state_->stop[1]);
}

std::string Device::Received() const {
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

bool Device::WaitForBytes(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->received.size() >= count; });
}

bool Device::WaitForClosed(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->closed >= count; });
}

bool Device::WaitForAccepted(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->accepted >= count; });
}

int Device::Accepted() const {
    std::lock_guard lock(state_->mutex);
    return state_->accepted;
}

bool Device::Reply(const std::string& bytes) {
    std::lock_guard lock(state_->mutex);
    return state_->conn >= 0 &&
           ::send(state_->conn, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void Device::Hangup() {
    std::lock_guard lock(state_->mutex);
    if (state_->conn >= 0) ::shutdown(state_->conn, SHUT_RDWR);
}

void Device::Pause() {
    std::lock_guard lock(state_->mutex);
    state_->paused = true;
}

ListingCounter::ListingCounter(const std::string& dir) {
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ < 0 || inotify_add_watch(fd_, dir.c_str(), IN_OPEN | IN_CLOSE_NOWRITE | IN_ONLYDIR) < 0)
        throw std::runtime_error("inotify");
}

ListingCounter::~ListingCounter() { close(fd_); }

int ListingCounter::Listings() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) return seen_;
        for (char* p = buf; p < buf + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            // The directory itself closed after reading: one listing. (Opens
            // are watched too, so that consecutive closes are not merged.)
            if ((event->mask & IN_CLOSE_NOWRITE) && (event->mask & IN_ISDIR) && event->len == 0) ++seen_;
            p += sizeof(inotify_event) + event->len;
        }
    }
}

int ListingCounter::WaitForListings(int count, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Listings() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, 10);
    }
    return seen_;
}

}  // namespace irda_test
