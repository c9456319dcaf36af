// The server, its drivers and printers: what a user sets up before the
// first job, and what the server keeps to itself.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app_server.h"

namespace app_test {
namespace {

constexpr const char* kUserProfile =
    "[Counter Printer]\nEntryName=Counter\nPrintableLines=0\nGraphNumPins=1\nGraphXDots=256\n"
    "GraphCharHeight=24\nGraphCharWidth=8\nGraphXDpi=200\nGraphYDpi=100\n[PrinterPorts]\nCounter=COM9:,9600\n";

// An IPv4 address of this machine other than loopback; empty when none.
std::string OtherAddress() {
    ifaddrs* list = nullptr;
    std::string found;
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs* a = list; a && found.empty(); a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        auto* in = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
        if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        found = text;
    }
    freeifaddrs(list);
    return found;
}

// The status line of an HTTP GET, or "" when nothing answers.
std::string HttpStatus(const std::string& address, int port, const std::string& path) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    std::string line;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + address + "\r\nConnection: close\r\n\r\n";
        if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[256] = {};
            ssize_t n = read(fd, buffer, sizeof buffer - 1);
            if (n > 0) line = std::string(buffer, static_cast<size_t>(n)).substr(0, std::string(buffer).find("\r\n"));
        }
    }
    close(fd);
    return line;
}

TEST(AppServer, DriversComeFromEveryProfileSourceWithoutARestart) {
    AppServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    ProcessResult drivers = server.Command({"drivers"});
    EXPECT_NE(drivers.output.find("epson-9pin.epson-lx-350 \"Epson LX-350 (epson-9pin.ini)\""), std::string::npos)
        << drivers.output;
    EXPECT_NE(drivers.output.find("receipt-80mm.epson-tm-t88v"), std::string::npos);
    EXPECT_NE(drivers.output.find("mobile-58mm.bixolon-spp-r200iii"), std::string::npos);

    // Added while the server runs: a profile of the user's and registry printers.
    server.AddUserProfile("counter.ini", kUserProfile);
    ASSERT_EQ(RunProcess({std::string(PRESSEL_BIN_DIR) + "/pressel", "reg", "import",
                          std::string(PRESSEL_SOURCE_DIR) + "/examples/profiles/receipt-80mm.reg"}).status, 0);
    drivers = server.Command({"drivers"});
    EXPECT_NE(drivers.output.find("user.counter.counter-printer \"Counter Printer (counter.ini, yours)\""),
              std::string::npos) << drivers.output;
    EXPECT_NE(drivers.output.find("registry.epson-tm-t88v \"Epson TM-T88V (registry)\""), std::string::npos);

    ASSERT_TRUE(server.AddPrinter("Counter", "user.counter.counter-printer", ""));
    ASSERT_TRUE(server.AddPrinter("FromRegistry", "registry.epson-tm-t88v", ""));
    EXPECT_EQ(server.PrinterAttribute("Counter", "printer-resolution-supported"), "200x100dpi");
    // 256 dots at 200 dpi across; a roll.
    EXPECT_EQ(server.PrinterAttribute("Counter", "media-default"), "om_pressel-roll_32.52x200mm");
    EXPECT_EQ(server.PrinterAttribute("FromRegistry", "printer-make-and-model"), "Epson TM-T88V");
}

TEST(AppServer, PrintersGetTheirDevicesAndPersistAcrossRestarts) {
    AppServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    ASSERT_TRUE(server.AddPrinter("Dot", "epson-9pin.epson-lx-350", ""));
    ASSERT_TRUE(server.AddPrinter("Mobile", "mobile-58mm.bixolon-spp-r200iii", "pressel:KTSB,COM2:"));
    ASSERT_TRUE(server.AddPrinter("Shop", "receipt-80mm.epson-tm-t88v", "pressel:TCP:192.0.2.10:9100"));
    const std::string log = (server.Dir() / "receipts today.prn").string();
    ASSERT_TRUE(server.AddPrinter("Log", "receipt-80mm.epson-tm-t88v", "pressel:" + server.Dir().string() +
                                                                           "/receipts%20today.prn"));
    // Devices the app cannot use, and drivers it does not have, are refused.
    EXPECT_FALSE(server.AddPrinter("Bad1", "epson-9pin.epson-lx-350", "file:///tmp/x.prn"));
    EXPECT_FALSE(server.AddPrinter("Bad2", "epson-9pin.epson-lx-350", "pressel:"));
    EXPECT_FALSE(server.AddPrinter("Bad3", "no-such.driver", ""));

    // A form of 66 lines of 12 rows at 72 dpi, 960 dots at 120 dpi across.
    EXPECT_EQ(server.PrinterAttribute("Dot", "media-default"), "om_pressel-form_203.2x279.4mm");
    EXPECT_EQ(server.PrinterAttribute("Dot", "printer-resolution-default"), "120x72dpi");

    ASSERT_TRUE(server.Restart()) << server.Log();
    ProcessResult printers = server.Command({"printers"});
    for (const char* name : {"Dot", "Mobile", "Shop", "Log"}) EXPECT_NE(printers.output.find(name), std::string::npos);
    EXPECT_EQ(printers.output.find("Bad"), std::string::npos) << printers.output;
    std::string state = ReadFile(server.Dir() / "state" / "pressel-printer-app.state");
    EXPECT_NE(state.find("pressel:profile"), std::string::npos) << state;
    EXPECT_NE(state.find("pressel:KTSB,COM2:"), std::string::npos);
    EXPECT_NE(state.find("pressel:TCP:192.0.2.10:9100"), std::string::npos);
    // The restored printer prints on its device.
    WriteFile(server.Dir() / "doc.bin", "\x1b@after restart");
    int job = server.Submit("Log", (server.Dir() / "doc.bin").string(), "application/vnd.pressel-raw");
    ASSERT_GT(job, 0);
    EXPECT_EQ(server.WaitJobDone("Log", job), "completed") << server.Log();
    EXPECT_EQ(ReadFile(log), "\x1b@after restart");
}

TEST(AppServer, ListensOnLoopbackUnlessToldToShare) {
    std::string other = OtherAddress();
    if (other.empty()) GTEST_SKIP() << "this machine has no address besides loopback";
    {
        AppServer server;
        ASSERT_TRUE(server.Running()) << server.Log();
        EXPECT_NE(HttpStatus("127.0.0.1", server.Port(), "/").find("200"), std::string::npos);
        EXPECT_EQ(HttpStatus(other, server.Port(), "/"), "");
    }
    // Shared: remote administration wants credentials over TLS.
    AppServer shared({"listen-hostname=*"});
    ASSERT_TRUE(shared.Running()) << shared.Log();
    std::string status = HttpStatus(other, shared.Port(), "/config");
    EXPECT_FALSE(status.empty());
    EXPECT_EQ(status.find(" 200 "), std::string::npos) << status;
    EXPECT_NE(HttpStatus(other, shared.Port(), "/").find("200"), std::string::npos);
}

}  // namespace
}  // namespace app_test
