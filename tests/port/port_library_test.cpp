// Printing through the real port library to a listener on the loopback
// interface: two controls share the loaded library, and one closing its
// channel leaves the other's working.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <future>

#include "port_fixture.h"

namespace {

using namespace port_test;

// Accepts `count` connections and collects each one's bytes until it closes.
class Listener {
public:
    explicit Listener(int count) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(listen(fd_, 8), 0);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        for (int i = 0; i < count; ++i) results_.push_back(std::async(std::launch::async, [this] { return Serve(); }));
    }
    ~Listener() { close(fd_); }

    std::u16string Name() const { return Wide("TCP:127.0.0.1:" + std::to_string(port_)); }
    // The bytes of every connection.
    std::vector<std::string> Collect() {
        std::vector<std::string> out;
        for (auto& r : results_) {
            EXPECT_EQ(r.wait_for(std::chrono::seconds(20)), std::future_status::ready);
            out.push_back(r.get());
        }
        return out;
    }

private:
    std::string Serve() {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return {};
        std::string got;
        char buf[4096];
        for (;;) {
            pollfd pfd{c, POLLIN, 0};
            if (poll(&pfd, 1, 15000) <= 0) break;
            ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        close(c);
        return got;
    }

    int fd_ = -1;
    unsigned short port_ = 0;
    std::vector<std::future<std::string>> results_;
};

std::string Pattern(size_t n, char seed) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 23);
    return s;
}

TEST(PortLibrary, SecondControlKeepsPrintingAfterTheFirstCloses) {
    Listener listener(2);
    std::u16string name = listener.Name();
    Control a, b;
    LONG ha = a->OpenPort(name.c_str(), u"");
    ASSERT_NE(ha, -1);
    LONG hb = b->OpenPort(name.c_str(), u"");
    ASSERT_NE(hb, -1);
    EXPECT_EQ(port::g_portLib.lUsers, 2);

    std::string fromA = Pattern(5000, 'a'), fromB = Pattern(20000, 'B');
    EXPECT_TRUE(a->WritePort(ha, fromA.data(), static_cast<DWORD>(fromA.size())));
    EXPECT_TRUE(b->WritePort(hb, fromB.data(), 10000));
    EXPECT_TRUE(a->ClosePort(ha));
    EXPECT_NE(port::g_portLib.hModule, nullptr);
    EXPECT_TRUE(b->WritePort(hb, fromB.data() + 10000, 10000));
    EXPECT_TRUE(b->ClosePort(hb));
    EXPECT_EQ(port::g_portLib.hModule, nullptr);
    EXPECT_EQ(port::g_portLib.lUsers, 0);
    a->m_hPort = b->m_hPort = -1;

    std::vector<std::string> got = listener.Collect();
    ASSERT_EQ(got.size(), 2u);
    std::sort(got.begin(), got.end(), [](const std::string& x, const std::string& y) { return x.size() < y.size(); });
    EXPECT_EQ(got[0], fromA);
    EXPECT_EQ(got[1], fromB);
}

TEST(PortLibrary, ClosingAnUnopenedChannelUnloads) {
    Control c;
    port::LoadPortDriver();
    ASSERT_NE(port::g_portLib.hModule, nullptr);
    EXPECT_TRUE(c->ClosePort(-1));
    EXPECT_EQ(port::g_portLib.hModule, nullptr);
    // With the substitutes in place, a send fails.
    EXPECT_FALSE(c->WritePort(3, "x", 1));
}

}  // namespace
