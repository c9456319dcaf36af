// Winsock over the emulated IrDA neighbourhood: devices are threads
// listening in a scratch directory named in a scratch registry.
#include <gtest/gtest.h>

#include <cstring>

#include "irda_device.h"
#include "win/af_irda.h"
#include "win/base.h"
#include "win/winsock.h"

namespace {

using namespace std::chrono_literals;
constexpr DWORD kSentinelError = 0xDEADBEEF;
const irda_test::Id kPrinterId = {0x11, 0x22, 0x33, 0x44};

class Winsock : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override {
        for (SOCKET s : open_) closesocket(s);
        WSACleanup();
    }

    SOCKET Open(bool irlpt) {
        SOCKET s = socket(AF_IRDA, SOCK_STREAM, 0);
        EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
        open_.push_back(s);
        int mode = irlpt ? 1 : 0;
        EXPECT_EQ(setsockopt(s, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<const char*>(&mode), sizeof mode), 0);
        return s;
    }

    static SOCKADDR_IRDA Address(irda_test::Id id, const char* service) {
        SOCKADDR_IRDA address{};
        address.irdaAddressFamily = AF_IRDA;
        std::memcpy(address.irdaDeviceID, id.data(), 4);
        std::strncpy(address.irdaServiceName, service, sizeof address.irdaServiceName - 1);
        return address;
    }

    // connect's result, with the last error when it failed.
    static int Connect(SOCKET s, const SOCKADDR_IRDA& address, int length = sizeof(SOCKADDR_IRDA)) {
        SetLastError(kSentinelError);
        if (connect(s, reinterpret_cast<const sockaddr*>(&address), length) == 0) return 0;
        return WSAGetLastError();
    }

    irda_test::Neighbourhood air_;
    std::vector<SOCKET> open_;
};

TEST(WinsockStartup, VersionsAndCounting) {
    struct Case {
        WORD requested;
        int result;
        WORD version;
    };
    const Case cases[] = {
        {0x0000, WSAVERNOTSUPPORTED, 0}, {0x0001, WSAVERNOTSUPPORTED, 0}, {0x0101, 0, 0x0101},
        {0x0002, 0, 0x0002},             {0x0202, 0, 0x0202},             {0x0303, 0, 0x0202},
    };
    for (const auto& c : cases) {
        WSADATA data;
        std::memset(&data, 0xAA, sizeof data);
        EXPECT_EQ(WSAStartup(c.requested, &data), c.result) << std::hex << c.requested;
        if (c.result != 0) continue;
        EXPECT_EQ(data.wVersion, c.version);
        EXPECT_EQ(data.wHighVersion, 0x0202);
        EXPECT_EQ(data.lpVendorInfo, nullptr);
        EXPECT_EQ(WSACleanup(), 0);
    }
    SetLastError(kSentinelError);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(socket(AF_IRDA, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(Winsock, OnlyIrdaStreamSocketsAreOffered) {
    struct Case {
        int af, type, protocol, error;
    };
    const Case cases[] = {
        {AF_INET, SOCK_STREAM, 0, WSAEAFNOSUPPORT},
        {AF_UNSPEC, SOCK_STREAM, 0, WSAEAFNOSUPPORT},
        {26, SOCK_STREAM, 0, WSAEAFNOSUPPORT},  // the desktop's AF_IRDA
        {AF_IRDA, SOCK_DGRAM, 0, WSAESOCKTNOSUPPORT},
        {AF_IRDA, SOCK_STREAM, 6, WSAEPROTONOSUPPORT},
    };
    for (const auto& c : cases) {
        SetLastError(kSentinelError);
        EXPECT_EQ(socket(c.af, c.type, c.protocol), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), c.error) << c.af << "/" << c.type << "/" << c.protocol;
    }
}

TEST_F(Winsock, CallsOnWhatIsNoSocketFail) {
    const SOCKET bad[] = {INVALID_SOCKET, 0, 12345, SOCKET(1) << 40};
    for (SOCKET s : bad) {
        char byte = 0;
        int length = 1;
        SetLastError(kSentinelError);
        EXPECT_EQ(send(s, &byte, 1, 0), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
        SetLastError(kSentinelError);
        EXPECT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, &byte, &length), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
        SetLastError(kSentinelError);
        EXPECT_EQ(closesocket(s), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    }
    SOCKET s = Open(false);
    EXPECT_EQ(closesocket(s), 0);
    open_.clear();
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(Winsock, DiscoveryListsDevicesInRange) {
    SOCKET s = Open(true);
    DEVICELIST list;
    std::memset(&list, 0xAA, sizeof list);
    int length = sizeof list;
    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(&list), &length), 0);
    EXPECT_EQ(list.numDevice, 0u);
    EXPECT_EQ(length, 32);
    EXPECT_EQ(list.Device[0].irdaDeviceName[0], 0);  // no stale bytes left behind

    irda_test::Device printer(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    irda_test::Device printerComm(air_.dir(), kPrinterId, "Printer", "IrDA:IrCOMM");
    irda_test::Device modem(air_.dir(), {0x01, 0, 0, 0}, "Modem", "IrDA:IrCOMM");
    FILE* notASocket = std::fopen((air_.dir() + "/00000002.File.LSAP-SEL002").c_str(), "w");
    std::fclose(notASocket);

    struct {
        ULONG numDevice;
        IRDA_DEVICE_INFO Device[3];
    } big;
    std::memset(&big, 0xAA, sizeof big);
    length = sizeof big;
    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(&big), &length), 0);
    ASSERT_EQ(big.numDevice, 2u);
    EXPECT_STREQ(big.Device[0].irdaDeviceName, "Modem");
    EXPECT_EQ(big.Device[0].irdaDeviceHints1, 0);
    EXPECT_STREQ(big.Device[1].irdaDeviceName, "Printer");
    EXPECT_EQ(big.Device[1].irdaDeviceHints1, LM_HB1_Printer);
    EXPECT_EQ(std::memcmp(big.Device[1].irdaDeviceID, kPrinterId.data(), 4), 0);
    EXPECT_EQ(big.Device[2].irdaDeviceID[0], 0);

    length = sizeof list;  // room for one: the first in identifier order
    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(&list), &length), 0);
    EXPECT_EQ(list.numDevice, 1u);
    EXPECT_STREQ(list.Device[0].irdaDeviceName, "Modem");

    length = 3;
    SetLastError(kSentinelError);
    EXPECT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_ENUMDEVICES, reinterpret_cast<char*>(&list), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

TEST_F(Winsock, ConnectHonoursModeServiceAndAddress) {
    irda_test::Device printer(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    irda_test::Device comm(air_.dir(), {9, 9, 9, 9}, "Phone", "IrDA:IrCOMM");
    struct Case {
        const char* what;
        bool irlpt;
        irda_test::Id id;
        const char* service;
        int error;
    };
    const Case cases[] = {
        {"IrLPT to the printer", true, kPrinterId, "LSAP-SEL002", 0},
        {"short selector form", true, kPrinterId, "LSAP-SEL2", 0},
        {"TinyTP to an IrLMP service", false, kPrinterId, "LSAP-SEL002", WSAECONNREFUSED},
        {"IrLPT to a TinyTP service", true, {9, 9, 9, 9}, "IrDA:IrCOMM", WSAECONNREFUSED},
        {"TinyTP service", false, {9, 9, 9, 9}, "IrDA:IrCOMM", 0},
        {"service not offered", true, kPrinterId, "LSAP-SEL003", WSAECONNREFUSED},
        {"device out of range", true, {7, 7, 7, 7}, "LSAP-SEL002", WSAETIMEDOUT},
    };
    for (const auto& c : cases) {
        SOCKET s = Open(c.irlpt);
        EXPECT_EQ(Connect(s, Address(c.id, c.service)), c.error) << c.what;
    }

    SOCKET s = Open(true);
    SOCKADDR_IRDA address = Address(kPrinterId, "LSAP-SEL002");
    EXPECT_EQ(Connect(s, address, sizeof address - 1), WSAEFAULT);
    address.irdaAddressFamily = AF_INET;
    EXPECT_EQ(Connect(s, address), WSAEAFNOSUPPORT);
    address = Address(kPrinterId, "");
    EXPECT_EQ(Connect(s, address), WSAEINVAL);
    std::memset(address.irdaServiceName, 'A', sizeof address.irdaServiceName);  // no terminator
    EXPECT_EQ(Connect(s, address), WSAEINVAL);

    ASSERT_EQ(Connect(s, Address(kPrinterId, "LSAP-SEL002")), 0);
    EXPECT_EQ(Connect(s, Address(kPrinterId, "LSAP-SEL002")), WSAEISCONN);
    int mode = 0;
    EXPECT_EQ(setsockopt(s, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<const char*>(&mode), sizeof mode),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST_F(Winsock, BytesTravelBothWays) {
    irda_test::Device printer(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    SOCKET s = Open(true);
    char byte = 'x';
    SetLastError(kSentinelError);
    EXPECT_EQ(send(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    ASSERT_EQ(Connect(s, Address(kPrinterId, "LSAP-SEL002")), 0);

    std::string job = "\x1b@Hello\r\n";
    job.push_back('\0');
    EXPECT_EQ(send(s, job.data(), static_cast<int>(job.size()), 0), static_cast<int>(job.size()));
    EXPECT_EQ(send(s, job.data(), 0, 0), 0);
    EXPECT_EQ(send(s, job.data(), -1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(send(s, job.data(), 1, MSG_OOB), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEOPNOTSUPP);
    ASSERT_TRUE(printer.WaitForBytes(job.size(), 2s));
    EXPECT_EQ(printer.Received(), job);

    ASSERT_TRUE(printer.Reply("S:C"));
    char reply[8] = {};
    EXPECT_EQ(recv(s, reply, sizeof reply, 0), 3);
    EXPECT_STREQ(reply, "S:C");

    // In IrLPT mode one send carries one data unit at most.
    int pdu = 0, length = sizeof pdu;
    ASSERT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_SEND_PDU_LEN, reinterpret_cast<char*>(&pdu), &length), 0);
    std::string big(3000, 'b');
    EXPECT_EQ(send(s, big.data(), static_cast<int>(big.size()), 0), pdu);
    EXPECT_TRUE(printer.WaitForBytes(job.size() + static_cast<size_t>(pdu), 2s));

    printer.Hangup();
    EXPECT_EQ(recv(s, reply, sizeof reply, 0), 0);  // orderly end
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) result = send(s, big.data(), 10, 0);
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(Winsock, SendTimeoutEndsAStalledSend) {
    irda_test::Device printer(air_.dir(), {5, 5, 5, 5}, "Phone", "IrDA:IrCOMM");
    SOCKET s = Open(false);
    DWORD timeout = 200;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout), 0);
    DWORD back = 0;
    int length = sizeof back;
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&back), &length), 0);
    EXPECT_EQ(back, 200u);
    ASSERT_EQ(Connect(s, Address({5, 5, 5, 5}, "IrDA:IrCOMM")), 0);
    printer.Pause();
    std::string block(1 << 16, 'z');
    int result = 0;
    for (int i = 0; i < 200 && result >= 0; ++i) result = send(s, block.data(), static_cast<int>(block.size()), 0);
    EXPECT_EQ(result, SOCKET_ERROR);
}

TEST_F(Winsock, CleanupClosesEverySocket) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);  // a second user
    SOCKET s = Open(true);
    EXPECT_EQ(WSACleanup(), 0);
    int mode = 0, length = sizeof mode;
    EXPECT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<char*>(&mode), &length), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(getsockopt(s, SOL_IRLMP, IRLMP_IRLPT_MODE, reinterpret_cast<char*>(&mode), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    open_.clear();
}

}  // namespace
