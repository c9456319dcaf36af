// The port library, really loaded, against listeners on the loopback
// interface, a temporary file and a pipe.
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "farsend_fixture.h"
#include "plugins/farsend/address.h"
#include "plugins/farsend/channel.h"
#include "plugins/farsend/farsend.h"

namespace {

using farsend::TargetKind;

struct ParseCase {
    const char16_t* name;
    TargetKind kind;
    const char* host;
    const char* port;
};

TEST(FarsendAddress, PortNames) {
    const ParseCase cases[] = {
        {u"TCP:printer", TargetKind::Tcp, "printer", "9100"},
        {u"tcp:10.0.0.7:515", TargetKind::Tcp, "10.0.0.7", "515"},
        {u"TCP:[::1]", TargetKind::Tcp, "::1", "9100"},
        {u"TCP:[fe80::1%eth0]:9101", TargetKind::Tcp, "fe80::1%eth0", "9101"},
        {u"TCP:host:65535", TargetKind::Tcp, "host", "65535"},
        {u"TCP:fe80::1:9100", TargetKind::Unknown, "", ""},  // ambiguous without brackets
        {u"TCP:", TargetKind::Unknown, "", ""},
        {u"TCP::9100", TargetKind::Unknown, "", ""},
        {u"TCP:host:", TargetKind::Unknown, "", ""},
        {u"TCP:host:0", TargetKind::Unknown, "", ""},
        {u"TCP:host:65536", TargetKind::Unknown, "", ""},
        {u"TCP:host:12x", TargetKind::Unknown, "", ""},
        {u"TCP:host:000009100", TargetKind::Unknown, "", ""},
        {u"TCP:[::1", TargetKind::Unknown, "", ""},
        {u"TCP:[::1]x", TargetKind::Unknown, "", ""},
        {u"TCP:[]:9100", TargetKind::Unknown, "", ""},
        {u"TCP:bad host", TargetKind::Unknown, "", ""},
        {u"IRDA", TargetKind::Irda, "", ""},
        {u"IRDAX", TargetKind::Unknown, "", ""},
        {u"COM1:", TargetKind::Unknown, "", ""},
        {u"Com1:", TargetKind::Unknown, "", ""},
        {u"", TargetKind::Unknown, "", ""},
        {u"/tmp/out.prn", TargetKind::Path, "", ""},
        {u"relative/path", TargetKind::Unknown, "", ""},
    };
    for (const auto& c : cases) {
        farsend::Target target = farsend::ParsePortName(c.name);
        std::string label = *farsend::Utf16ToUtf8(c.name);
        EXPECT_EQ(target.kind, c.kind) << label;
        EXPECT_EQ(target.host, c.host) << label;
        EXPECT_EQ(target.port, c.port) << label;
    }
    EXPECT_EQ(farsend::ParsePortName(u"/tmp/\u00e9t\u00e9").path, "/tmp/\xc3\xa9t\xc3\xa9");
    const char16_t lone[] = {u'/', 0xD800, u'x', 0};
    EXPECT_EQ(farsend::ParsePortName(lone).kind, TargetKind::Unknown);
}

using Farsend = FarsendLibrary;

// Accepts one connection on 127.0.0.1 and collects what arrives until the
// peer ends, or closes after `readLimit` bytes to play a printer going away.
class Listener {
public:
    explicit Listener(size_t readLimit = SIZE_MAX) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd_, 1) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "listener setup";
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, readLimit] {
            int peer = accept(fd_, nullptr, nullptr);
            if (peer < 0) return;
            char buffer[65536];
            for (;;) {
                size_t want = std::min(sizeof buffer, readLimit - received_.size());
                if (want == 0) break;
                ssize_t n = read(peer, buffer, want);
                if (n <= 0) break;
                received_.insert(received_.end(), buffer, buffer + n);
            }
            close(peer);
        });
    }
    ~Listener() {
        shutdown(fd_, SHUT_RDWR);  // wakes an accept that never got a client
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    std::u16string Name() const {
        std::string text = "TCP:127.0.0.1:" + std::to_string(port_);
        return std::u16string(text.begin(), text.end());
    }
    // Waits for the peer to end and returns everything received.
    const std::vector<uint8_t>& Received() {
        thread_.join();
        return received_;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::vector<uint8_t> received_;
};

std::vector<uint8_t> Pattern(size_t size, unsigned seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed) ^ (i >> 9));
    return bytes;
}

TEST_F(Farsend, LargeSendArrivesWhole) {
    Listener listener;
    LONG handle = open_(listener.Name().c_str());
    ASSERT_GT(handle, 0);
    auto data = Pattern(8 << 20, 1);
    EXPECT_TRUE(send_(handle, data.data(), static_cast<DWORD>(data.size())));
    EXPECT_TRUE(send_(handle, data.data(), 0));
    close_(handle);
    EXPECT_TRUE(listener.Received() == data);
}

TEST_F(Farsend, TwoChannelsAtOnce) {
    Listener first, second;
    LONG a = open_(first.Name().c_str());
    LONG b = open_(second.Name().c_str());
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    auto one = Pattern(300000, 7), two = Pattern(200000, 9);
    for (size_t off = 0; off < one.size(); off += 100000) {
        EXPECT_TRUE(send_(a, one.data() + off, 100000));
        if (off < two.size()) {
            EXPECT_TRUE(send_(b, two.data() + off, 100000));
        }
    }
    close_(b);
    close_(a);
    EXPECT_TRUE(first.Received() == one);
    EXPECT_TRUE(second.Received() == two);
}

TEST_F(Farsend, RefusedConnectionGivesMinusOne) {
    // A port that was just free: bind, learn it, close again.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    std::string name = "TCP:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    EXPECT_EQ(open_(std::u16string(name.begin(), name.end()).c_str()), -1);
}

TEST_F(Farsend, PeerClosingMidSendFails) {
    Listener listener(100000);
    LONG handle = open_(listener.Name().c_str());
    ASSERT_GT(handle, 0);
    auto data = Pattern(32 << 20, 3);
    EXPECT_FALSE(send_(handle, data.data(), static_cast<DWORD>(data.size())));
    close_(handle);
    EXPECT_EQ(listener.Received().size(), 100000u);
}

TEST_F(Farsend, NamesItCannotOpen) {
    for (const char16_t* name : {u"IRDA", u"COM1:", u"Com1:", u"", u"TCP:", u"/nonexistent-dir/x/out.prn"})
        EXPECT_EQ(open_(name), -1);
    EXPECT_EQ(open_(nullptr), -1);
}

TEST_F(Farsend, BadHandlesFail) {
    BYTE byte = 'x';
    for (LONG handle : {-1, 0, 1023, 5000}) EXPECT_FALSE(send_(handle, &byte, 1)) << handle;
    close_(-1);  // ignored
    close_(77);
}

TEST(FarsendChannel, SilentPeerTimesOut) {
    // Listening but never accepting: the kernel completes the connection,
    // then nobody reads.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    farsend::Target target{TargetKind::Tcp, "127.0.0.1", std::to_string(ntohs(address.sin_port)), ""};
    auto channel = farsend::Channel::Open(target);
    ASSERT_TRUE(channel);
    std::vector<uint8_t> data(64 << 20);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(channel->SendAll(data.data(), data.size(), 200));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    channel.reset();
    close(fd);
}

class FarsendFile : public Farsend {
protected:
    void SetUp() override {
        Farsend::SetUp();
        dir_ = std::filesystem::temp_directory_path() /
               ("farsend-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        Farsend::TearDown();
    }
    std::u16string Name(const std::filesystem::path& path) {
        std::string text = path.string();
        return std::u16string(text.begin(), text.end());
    }
    std::filesystem::path dir_;
};

TEST_F(FarsendFile, PathReceivesBytesAndReplacesOldContent) {
    auto path = dir_ / "out.prn";
    std::ofstream(path) << "old content that must go";
    LONG handle = open_(Name(path).c_str());
    ASSERT_GT(handle, 0);
    const BYTE text[] = "\x1b@Hello\r\n";
    EXPECT_TRUE(send_(handle, text, sizeof text - 1));
    EXPECT_TRUE(send_(handle, text, sizeof text - 1));
    close_(handle);
    std::ifstream in(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "\x1b@Hello\r\n\x1b@Hello\r\n");
    EXPECT_FALSE(send_(handle, text, 1));  // closed
}

TEST_F(FarsendFile, PipeWithoutReaderFailsWithoutSignal) {
    auto path = dir_ / "fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(open_(Name(path).c_str()), -1);  // nobody reading: not opened
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    LONG handle = open_(Name(path).c_str());
    ASSERT_GT(handle, 0);
    BYTE byte = 'x';
    EXPECT_TRUE(send_(handle, &byte, 1));
    close(reader);
    EXPECT_FALSE(send_(handle, &byte, 1));  // EPIPE, and the process lives on
    close_(handle);
}

}  // namespace
