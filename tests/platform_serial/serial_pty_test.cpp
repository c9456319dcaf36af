// The serial calls on real pseudo-terminals: "COM7:" is mapped to the slave
// side in a scratch registry, and the test (or a peer thread) plays the
// printer on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pressel/trace.h"
#include "win/base.h"
#include "win/registry.h"
#include "win/serial.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void MapPort(const char16_t* valueName, const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"System\\DosDevices", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    std::u16string data = Wide(path);
    ASSERT_EQ(RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class SerialPty : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/pressel-serial-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        scratch_ = dir;
        setenv("PRESSEL_REGISTRY", (scratch_ + "/registry.reg").c_str(), 1);
    }

    static void TearDownTestSuite() { std::filesystem::remove_all(scratch_); }

    void SetUp() override {
        char name[128] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        slaveName_ = name;
        MapPort(u"COM7:", slaveName_);
    }

    void TearDown() override {
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
        if (master_ >= 0) close(master_);
        close(slave_);
    }

    HANDLE Open(DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD disposition = OPEN_EXISTING) {
        return CreateFileW(u"COM7:", access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    void OpenPort(DWORD access = GENERIC_READ | GENERIC_WRITE) {
        port_ = Open(access);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    }

    void SetTimeouts(COMMTIMEOUTS cto) { ASSERT_TRUE(SetCommTimeouts(port_, &cto)); }

    void PeerSend(const std::string& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    struct TimedRead {
        BOOL ok;
        std::string got;
        long ms;
    };
    // One ReadFile of up to `count` bytes while `peer` runs on its own thread.
    TimedRead ReadWhilePeer(DWORD count, std::function<void()> peer) {
        std::thread thread(std::move(peer));
        std::vector<char> buf(count);
        DWORD read = 0;
        auto start = Clock::now();
        BOOL ok = ReadFile(port_, buf.data(), count, &read, nullptr);
        long ms = MsSince(start);
        thread.join();
        return {ok, std::string(buf.data(), read), ms};
    }

    // Whatever the port sent within `ms`.
    std::string PeerReceive(int ms = 200) {
        std::string got;
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) continue;
            char buf[256];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

    void WaitForInput(DWORD bytes) {
        COMSTAT stat{};
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(ClearCommError(port_, nullptr, &stat));
            if (stat.cbInQue >= bytes) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        FAIL() << "input never arrived";
    }

    static inline std::string scratch_;
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(SerialPty, BytesTravelBothWaysUnchanged) {
    OpenPort();
    // Every byte value, including the ones a cooked tty would eat.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    DWORD written = 0xDEADBEEF;
    ASSERT_TRUE(WriteFile(port_, all.data(), static_cast<DWORD>(all.size()), &written, nullptr));
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(PeerReceive(), all);

    PeerSend("{ST!S:C}\r\n\x03");
    char buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    DWORD read = 0;
    SetTimeouts({0, 0, 1000, 0, 0});
    ASSERT_TRUE(ReadFile(port_, buf, 11, &read, nullptr));
    EXPECT_EQ(std::string(buf, read), "{ST!S:C}\r\n\x03");
    EXPECT_EQ(static_cast<BYTE>(buf[11]), 0xAA);

    ASSERT_TRUE(WriteFile(port_, all.data(), 0, &written, nullptr));
    EXPECT_EQ(written, 0u);
}

TEST_F(SerialPty, OpenIsExclusiveUntilClosed) {
    OpenPort();
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(CreateFileW(u"\\\\.\\com7", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(port_));
    // The control opens write-only ports with CREATE_ALWAYS.
    port_ = Open(GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_NE(port_, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPty, OpenFailures) {
    MapPort(u"COM8:", "/nonexistent/ttyX");
    MapPort(u"COM9:", "/dev/null");
    MapPort(u"COM11:", "");
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"System\\DosDevices", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        DWORD number = 7;
        ASSERT_EQ(RegSetValueExW(key, u"COM10:", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    struct Case {
        const char16_t* name;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {u"COM8:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {u"COM8:", OPEN_ALWAYS, ERROR_FILE_NOT_FOUND},  // a device is never created
        {u"COM9:", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},  // not a serial port
        {u"COM10:", OPEN_EXISTING, ERROR_BAD_PATHNAME},   // never the default port instead
        {u"COM11:", OPEN_EXISTING, ERROR_BAD_PATHNAME},
        {u"COM7:", CREATE_NEW, ERROR_FILE_EXISTS},
        {u"COM7:", 0, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(CreateFileW(c.name, GENERIC_WRITE, 0, nullptr, c.disposition, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error) << std::string(c.name, c.name + 6) << " " << c.disposition;
    }
}

TEST_F(SerialPty, WriteOnlyHandleCannotRead) {
    OpenPort(GENERIC_WRITE);
    char c;
    DWORD read = 0xDEADBEEF;
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(ReadFile(port_, &c, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
}

TEST_F(SerialPty, CommStateRoundTripsAndReachesTheLine) {
    OpenPort();
    DCB dcb;
    std::memset(&dcb, 0xAA, sizeof dcb);
    ASSERT_TRUE(GetCommState(port_, &dcb));
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.ByteSize, 8);  // raw mode at open
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.fBinary, 1u);

    dcb.DCBlength = 0;
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutX = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.XonLim = 100;
    dcb.XoffLim = 200;
    dcb.EvtChar = 'x';
    dcb.EofChar = 0x1A;
    ASSERT_TRUE(SetCommState(port_, &dcb));

    DCB back;
    std::memset(&back, 0x55, sizeof back);
    ASSERT_TRUE(GetCommState(port_, &back));
    dcb.DCBlength = 28;
    EXPECT_EQ(std::memcmp(&back, &dcb, sizeof dcb), 0);

    termios tio{};
    ASSERT_EQ(tcgetattr(slave_, &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);  // a pseudo-terminal keeps its 8N1 frame, the rest takes
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_EQ(cfgetospeed(&tio), speed_t{B19200});
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);

    // With RTS toggled around writes, data still goes out.
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port_, "ABC", 3, &written, nullptr));
    EXPECT_EQ(PeerReceive(), "ABC");

    // A bad value changes nothing.
    DCB bad = dcb;
    bad.ByteSize = 9;
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(SetCommState(port_, &bad));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    ASSERT_TRUE(GetCommState(port_, &back));
    EXPECT_EQ(back.ByteSize, 7);

    // A rate outside the standard table.
    dcb.BaudRate = 250000;
    EXPECT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
    ASSERT_TRUE(GetCommState(port_, &back));
    EXPECT_EQ(back.BaudRate, 250000u);
}

TEST_F(SerialPty, LineCallsAreTracedInOrderAndToleratedOnAPty) {
    OpenPort();
    pressel_trace::Enable(true);
    for (DWORD code : {CLRDTR, CLRRTS, SETBREAK, CLRBREAK, SETDTR, SETRTS, SETXOFF, SETXON})
        EXPECT_TRUE(EscapeCommFunction(port_, code)) << code;
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port_, &dcb));
    dcb.fOutX = 1;
    ASSERT_TRUE(SetCommState(port_, &dcb));
    COMMTIMEOUTS cto{250, 10, 100, 0, 15000};
    ASSERT_TRUE(SetCommTimeouts(port_, &cto));
    ASSERT_TRUE(GetCommTimeouts(port_, &cto));
    ASSERT_TRUE(ClearCommError(port_, nullptr, nullptr));
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);

    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + 8, sizeof flags);
    EXPECT_EQ(flags & 0x100u, 0x100u);
    char state[64];
    std::snprintf(state, sizeof state, "SetCommState(%u,0,8,0,0x%X)", dcb.BaudRate, flags);
    std::vector<std::string> expected = {
        "EscapeCommFunction(6)", "EscapeCommFunction(4)", "EscapeCommFunction(8)", "EscapeCommFunction(9)",
        "EscapeCommFunction(5)", "EscapeCommFunction(3)", "EscapeCommFunction(1)", "EscapeCommFunction(2)",
        "GetCommState", state, "SetCommTimeouts(250,10,100,0,15000)", "GetCommTimeouts", "ClearCommError"};
    std::vector<std::string> serialCalls;
    for (const auto& line : trace)
        if (line.rfind("DeviceIoControl", 0) != 0) serialCalls.push_back(line);
    EXPECT_EQ(serialCalls, expected);

    // No modem lines on a pseudo-terminal: the call succeeds and says so.
    SetLastError(0xDEADBEEF);
    EXPECT_TRUE(EscapeCommFunction(port_, SETDTR));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(EscapeCommFunction(port_, 7));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    DWORD modem = 0xDEADBEEF;
    EXPECT_TRUE(GetCommModemStatus(port_, &modem));
    EXPECT_EQ(modem, 0u);
}

TEST_F(SerialPty, TimeoutsStartAsTheDriverDefaultsAndReachDeviceIoControl) {
    OpenPort();
    COMMTIMEOUTS cto;
    std::memset(&cto, 0xAA, sizeof cto);
    ASSERT_TRUE(GetCommTimeouts(port_, &cto));
    EXPECT_EQ(cto.ReadIntervalTimeout, 250u);
    EXPECT_EQ(cto.ReadTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(cto.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(cto.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(cto.WriteTotalTimeoutConstant, 0u);

    COMMTIMEOUTS set = {1, 2, 3, 4, 5}, got{};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(port_, IOCTL_SERIAL_SET_TIMEOUTS, &set, sizeof set, nullptr, 0, &returned, nullptr));
    ASSERT_TRUE(DeviceIoControl(port_, IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, &got, sizeof got, &returned, nullptr));
    EXPECT_EQ(returned, sizeof got);
    EXPECT_EQ(std::memcmp(&got, &set, sizeof set), 0);

    COMMTIMEOUTS meaningless = {MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(SetCommTimeouts(port_, &meaningless));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

// Timing: bounds are generous, only the order of magnitude is checked.
TEST_F(SerialPty, ReadTotalTimeoutEndsASilentRead) {
    OpenPort();
    SetTimeouts({0, 10, 100, 0, 0});
    char buf[10];
    DWORD read = 0xDEADBEEF;
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(port_, buf, 10, &read, nullptr));  // 10 * 10 + 100 ms
    long ms = MsSince(start);
    EXPECT_EQ(read, 0u);
    EXPECT_GE(ms, 190);
    EXPECT_LT(ms, 1500);
}

TEST_F(SerialPty, ReadIntervalTimeoutStartsAfterTheFirstByte) {
    OpenPort();
    SetTimeouts({100, 0, 0, 0, 0});
    auto [ok, got, ms] = ReadWhilePeer(10, [this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        PeerSend("AB");
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, "AB");
    EXPECT_GE(ms, 390);  // 300 ms of silence before the first byte do not count
    EXPECT_LT(ms, 2000);
}

TEST_F(SerialPty, MaxdwordIntervalReturnsWhatIsThere) {
    OpenPort();
    SetTimeouts({MAXDWORD, 0, 0, 0, 0});
    char buf[10];
    DWORD read = 0xDEADBEEF;
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(port_, buf, 10, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_LT(MsSince(start), 500);

    PeerSend("xyz");
    WaitForInput(3);
    ASSERT_TRUE(ReadFile(port_, buf, 10, &read, nullptr));
    EXPECT_EQ(std::string(buf, read), "xyz");
}

TEST_F(SerialPty, MaxdwordMultiplierReturnsOnTheFirstByte) {
    OpenPort();
    SetTimeouts({MAXDWORD, MAXDWORD, 5000, 0, 0});
    auto [ok, got, ms] = ReadWhilePeer(10, [this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PeerSend("Q");
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, "Q");
    EXPECT_LT(ms, 2500);

    SetTimeouts({MAXDWORD, MAXDWORD, 150, 0, 0});
    char buf[10];
    DWORD read = 0;
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(port_, buf, 10, &read, nullptr));
    ms = MsSince(start);
    EXPECT_EQ(read, 0u);
    EXPECT_GE(ms, 140);
    EXPECT_LT(ms, 1500);
}

TEST_F(SerialPty, ZeroTimeoutsWaitForEveryByte) {
    OpenPort();
    SetTimeouts({0, 0, 0, 0, 0});
    auto [ok, got, ms] = ReadWhilePeer(5, [this] {
        PeerSend("12");
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        PeerSend("345");
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, "12345");
}

TEST_F(SerialPty, WriteTimeoutReturnsTheShortCount) {
    OpenPort();
    SetTimeouts({0, 0, 0, 0, 200});
    std::vector<char> big(4 << 20, 'x');  // far more than the tty buffers hold; nobody reads
    DWORD written = 0xDEADBEEF;
    auto start = Clock::now();
    EXPECT_TRUE(WriteFile(port_, big.data(), static_cast<DWORD>(big.size()), &written, nullptr));
    long ms = MsSince(start);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_TIMEOUT});
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(ms, 190);
    EXPECT_LT(ms, 3000);
}

TEST_F(SerialPty, ClearCommErrorReportsTheInputQueue) {
    OpenPort();
    DWORD errors = 0xDEADBEEF;
    COMSTAT stat;
    std::memset(&stat, 0xAA, sizeof stat);
    ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 0u);

    PeerSend("{ST!P:N}");
    WaitForInput(8);
    ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
    EXPECT_EQ(errors, 0u);  // a pseudo-terminal counts no line errors
    EXPECT_EQ(stat.cbInQue, 8u);

    ASSERT_TRUE(PurgeComm(port_, PURGE_RXCLEAR | PURGE_RXABORT));
    ASSERT_TRUE(ClearCommError(port_, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(port_, 0x10));
}

TEST_F(SerialPty, ClosedPeerFailsInsteadOfWaiting) {
    OpenPort();
    SetTimeouts({0, 0, 0, 0, 0});  // without a hangup this read would wait for ever
    PeerSend("z");
    WaitForInput(1);
    close(master_);
    master_ = -1;

    char buf[4];
    DWORD read = 0;
    auto start = Clock::now();
    SetLastError(0xDEADBEEF);
    BOOL ok = ReadFile(port_, buf, sizeof buf, &read, nullptr);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(ok);
    EXPECT_LE(read, 1u);  // the byte that was waiting may still be delivered
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});

    DWORD written = 0;
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(WriteFile(port_, "abc", 3, &written, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
}

TEST_F(SerialPty, CloseHandleEndsAReadWaitingOnAnotherThread) {
    OpenPort();
    SetTimeouts({0, 0, 0, 0, 0});
    BOOL ok = TRUE;
    DWORD error = 0;
    std::thread reader([&] {
        char buf[4];
        DWORD read = 0;
        ok = ReadFile(port_, buf, sizeof buf, &read, nullptr);
        error = GetLastError();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = Clock::now();
    EXPECT_TRUE(CloseHandle(port_));
    reader.join();
    port_ = INVALID_HANDLE_VALUE;
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, DWORD{ERROR_OPERATION_ABORTED});
    OpenPort();  // the port is free again
}

// A real port, only when PRESSEL_SERIAL_PORT names one (e.g. /dev/ttyUSB0).
TEST(SerialHardware, ConfiguresARealPort) {
    const char* device = std::getenv("PRESSEL_SERIAL_PORT");
    if (!device || !*device) GTEST_SKIP() << "PRESSEL_SERIAL_PORT not set";
    char dir[] = "/tmp/pressel-serial-hw-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string registry = std::string(dir) + "/registry.reg";
    setenv("PRESSEL_REGISTRY", registry.c_str(), 1);
    MapPort(u"COM9:", device);
    HANDLE port = CreateFileW(u"COM9:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    for (DWORD code : {CLRDTR, CLRRTS, SETBREAK, CLRBREAK, SETDTR, SETRTS})
        EXPECT_TRUE(EscapeCommFunction(port, code)) << code;
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    EXPECT_TRUE(SetCommState(port, &dcb)) << GetLastError();
    DWORD modem = 0;
    EXPECT_TRUE(GetCommModemStatus(port, &modem));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(port, "\r\n", 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    CloseHandle(port);
    std::filesystem::remove_all(dir);
}

}  // namespace
