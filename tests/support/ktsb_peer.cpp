#include "ktsb_peer.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "frame.h"
#include "win/registry.h"

namespace ktsb_test {

KtsbPeer::KtsbPeer(int masterFd) : fd_(masterFd), thread_([this] { Run(); }) {}

KtsbPeer::~KtsbPeer() {
    stop_ = true;
    thread_.join();
    close(fd_);
}

void KtsbPeer::Set(const Behaviour& behaviour) {
    std::lock_guard lock(mutex_);
    behaviour_ = behaviour;
}

KtsbPeer::Behaviour KtsbPeer::Get() {
    std::lock_guard lock(mutex_);
    return behaviour_;
}

std::string KtsbPeer::Delivered() {
    std::lock_guard lock(mutex_);
    return delivered_;
}

KtsbPeer::Counts KtsbPeer::Seen() {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::string KtsbPeer::Log() {
    std::lock_guard lock(mutex_);
    return log_;
}

void KtsbPeer::Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void KtsbPeer::Run() {
    std::vector<uint8_t> rx;
    while (!stop_) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, 10) <= 0) continue;
        if (!(pfd.revents & POLLIN)) {
            usleep(5000);  // the slave side is closed for now
            continue;
        }
        uint8_t buffer[512];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            usleep(5000);
            continue;
        }
        rx.insert(rx.end(), buffer, buffer + n);
        for (;;) {
            ktsb::Frame frame;
            size_t consumed = 0;
            auto result = ktsb::ParseFrame(rx.data(), rx.size(), &frame, &consumed);
            if (result == ktsb::ParseResult::kNeedMore) break;
            rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(consumed));
            if (result == ktsb::ParseResult::kFrame) {
                Handle(frame.seq, frame.type, frame.payload);
            } else {
                std::lock_guard lock(mutex_);
                ++counts_.damaged;
            }
        }
    }
}

void KtsbPeer::Handle(uint8_t seq, uint8_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> reply;
    {
        std::lock_guard lock(mutex_);
        log_ += static_cast<char>(type);
        Behaviour& b = behaviour_;
        ktsb::ReplyState state{b.ackCode, b.flags, busy_};
        uint8_t answer = ktsb::kFrameAck;
        bool garble = false;
        switch (type) {
            case ktsb::kFrameBind:
                ++counts_.bind;
                if (b.acceptBind) {
                    lastDataSeq_ = -1;
                } else {
                    answer = ktsb::kFrameNak;
                    state.code = b.bindRefusalCode;
                }
                break;
            case ktsb::kFrameData:
                ++counts_.data;
                if (b.refuseCode) {
                    answer = ktsb::kFrameNak;
                    state.code = b.refuseCode;
                } else if (b.faultAfter == 0 && b.nakDataFrames > 0) {
                    --b.nakDataFrames;
                    answer = ktsb::kFrameNak;
                    state.code = 0;
                } else {
                    // A frame sent again because its answer was lost is not printed twice.
                    if (seq != lastDataSeq_) delivered_.append(payload.begin(), payload.end());
                    lastDataSeq_ = seq;
                    busy_ = 1;
                    state.busy = busy_;
                    if (b.faultAfter > 0) {
                        --b.faultAfter;
                    } else if (b.garbleReplies > 0) {
                        --b.garbleReplies;
                        garble = true;
                    }
                }
                break;
            case ktsb::kFrameQuery:
                ++counts_.query;
                if (b.busyQueries > 0) {
                    --b.busyQueries;
                    busy_ = 1;
                } else {
                    busy_ = 0;
                }
                state.busy = busy_;
                break;
            case ktsb::kFrameCancel:
                ++counts_.cancel;
                busy_ = 0;
                state.busy = 0;
                break;
            default: answer = ktsb::kFrameNak; break;
        }
        if (b.silent) return;
        reply = ktsb::EncodeReply(seq, answer, state);
        if (garble) reply[reply.size() - 2] ^= 0x5A;  // the CRC no longer matches
    }
    Send(reply);
}

bool PtyLine::Open() {
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);
    slaveName = name;
    return true;
}

PtyLine::~PtyLine() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
}

bool MapComPort(const char16_t* valueName, const std::string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\DosDevices", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    std::u16string data(path.begin(), path.end());
    LONG rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

std::string UseScratchRegistry(const char* tag) {
    std::string pattern = std::string("/tmp/pressel-") + tag + "-XXXXXX";
    std::vector<char> dir(pattern.begin(), pattern.end());
    dir.push_back(0);
    if (!mkdtemp(dir.data())) return {};
    std::string path(dir.data());
    setenv("PRESSEL_REGISTRY", (path + "/registry.reg").c_str(), 1);
    return path;
}

}  // namespace ktsb_test
