#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstring>
#include <utility>

#include "serial/com_names.h"
#include "serial/comm_translate.h"
#include "win/errors.h"

using namespace platform::serial;

namespace {

DCB Dcb8N1() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

termios RawTermios() {
    termios tio{};
    cfmakeraw(&tio);
    return tio;
}

// Callers fill DCBs and COMSTATs by field and pass them on as Windows
// programs do: every flag keeps its Windows bit.
TEST(SerialStructures, FlagsKeepTheirWindowsBits) {
    auto word = [](const auto& s, int index) {
        DWORD words[sizeof s / 4];
        std::memcpy(words, &s, sizeof s);
        return words[index];
    };
    const std::pair<void (*)(DCB&), DWORD> dcbFlags[] = {
        {[](DCB& d) { d.fBinary = 1; }, 0x0001},          {[](DCB& d) { d.fParity = 1; }, 0x0002},
        {[](DCB& d) { d.fOutxCtsFlow = 1; }, 0x0004},     {[](DCB& d) { d.fOutxDsrFlow = 1; }, 0x0008},
        {[](DCB& d) { d.fDtrControl = 3; }, 0x0030},      {[](DCB& d) { d.fDsrSensitivity = 1; }, 0x0040},
        {[](DCB& d) { d.fTXContinueOnXoff = 1; }, 0x0080}, {[](DCB& d) { d.fOutX = 1; }, 0x0100},
        {[](DCB& d) { d.fInX = 1; }, 0x0200},             {[](DCB& d) { d.fErrorChar = 1; }, 0x0400},
        {[](DCB& d) { d.fNull = 1; }, 0x0800},            {[](DCB& d) { d.fRtsControl = 3; }, 0x3000},
        {[](DCB& d) { d.fAbortOnError = 1; }, 0x4000},
    };
    for (const auto& [set, bits] : dcbFlags) {
        DCB dcb{};
        set(dcb);
        EXPECT_EQ(word(dcb, 2), bits);
    }
    COMSTAT stat{};
    stat.fCtsHold = 1;
    stat.fEof = 1;
    stat.fTxim = 1;
    stat.cbInQue = 7;
    EXPECT_EQ(word(stat, 0), 0x61u);
    EXPECT_EQ(word(stat, 1), 7u);
}

TEST(DcbToTermios, LineSettings) {
    struct Case {
        BYTE size, parity, stop;
        tcflag_t expected;  // CSIZE | PARENB | PARODD | CMSPAR | CSTOPB bits
    } cases[] = {
        {8, NOPARITY, ONESTOPBIT, CS8},
        {7, EVENPARITY, ONESTOPBIT, CS7 | PARENB},
        {7, ODDPARITY, TWOSTOPBITS, CS7 | PARENB | PARODD | CSTOPB},
        {8, MARKPARITY, ONESTOPBIT, CS8 | PARENB | PARODD | CMSPAR},
        {8, SPACEPARITY, ONESTOPBIT, CS8 | PARENB | CMSPAR},
        {6, NOPARITY, TWOSTOPBITS, CS6 | CSTOPB},
        {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB},
    };
    for (const auto& c : cases) {
        DCB dcb = Dcb8N1();
        dcb.ByteSize = c.size;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stop;
        termios tio = RawTermios();
        tio.c_cflag |= PARENB | CSTOPB;  // stale bits must go
        ASSERT_EQ(DcbToTermios(dcb, &tio), DWORD{ERROR_SUCCESS}) << int(c.size) << int(c.parity) << int(c.stop);
        EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.expected)
            << int(c.size) << "/" << int(c.parity) << "/" << int(c.stop);
        EXPECT_TRUE(tio.c_cflag & CLOCAL);
        EXPECT_TRUE(tio.c_cflag & CREAD);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 0);

        DCB back = Dcb8N1();
        TermiosToDcb(tio, &back);
        EXPECT_EQ(back.ByteSize, c.size);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
    }
}

TEST(DcbToTermios, RejectsBadValuesAndLeavesTermiosAlone) {
    struct Case {
        const char* what;
        void (*spoil)(DCB&);
    } cases[] = {
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
        {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"2 stop bits with 5 data bits", [](DCB& d) { d.ByteSize = 5, d.StopBits = TWOSTOPBITS; }},
        {"baud 0", [](DCB& d) { d.BaudRate = 0; }},
    };
    for (const auto& c : cases) {
        DCB dcb = Dcb8N1();
        c.spoil(dcb);
        termios tio = RawTermios();
        std::memset(&tio, 0xAA, sizeof tio);
        termios before = tio;
        EXPECT_EQ(DcbToTermios(dcb, &tio), DWORD{ERROR_INVALID_PARAMETER}) << c.what;
        EXPECT_EQ(std::memcmp(&tio, &before, sizeof tio), 0) << c.what;
    }
}

TEST(DcbToTermios, FlowControl) {
    struct Case {
        const char* what;
        void (*set)(DCB&);
        tcflag_t cflag;  // of CRTSCTS
        tcflag_t iflag;  // of IXON | IXOFF | INPCK
    } cases[] = {
        {"none", [](DCB&) {}, 0, 0},
        {"CTS output flow", [](DCB& d) { d.fOutxCtsFlow = 1; }, CRTSCTS, 0},
        {"RTS handshake", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, CRTSCTS, 0},
        {"RTS toggle is no handshake", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, 0, 0},
        {"XON/XOFF out", [](DCB& d) { d.fOutX = 1; }, 0, IXON},
        {"XON/XOFF in", [](DCB& d) { d.fInX = 1; }, 0, IXOFF},
        {"parity check", [](DCB& d) { d.fParity = 1, d.Parity = EVENPARITY; }, 0, INPCK},
        {"parity check without parity", [](DCB& d) { d.fParity = 1; }, 0, 0},
    };
    for (const auto& c : cases) {
        DCB dcb = Dcb8N1();
        c.set(dcb);
        termios tio = RawTermios();
        tio.c_iflag |= IXON | IXOFF | INPCK;
        tio.c_cflag |= CRTSCTS;
        ASSERT_EQ(DcbToTermios(dcb, &tio), DWORD{ERROR_SUCCESS}) << c.what;
        EXPECT_EQ(tio.c_cflag & CRTSCTS, c.cflag) << c.what;
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | INPCK), c.iflag) << c.what;
    }
}

TEST(DcbToTermios, FlowCharactersAndBaud) {
    DCB dcb = Dcb8N1();
    dcb.XonChar = 0x05;
    dcb.XoffChar = 0x06;
    dcb.BaudRate = CBR_115200;
    termios tio = RawTermios();
    ASSERT_EQ(DcbToTermios(dcb, &tio), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(tio.c_cc[VSTART], 0x05);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x06);
    EXPECT_EQ(cfgetospeed(&tio), speed_t{B115200});
    EXPECT_EQ(cfgetispeed(&tio), speed_t{B115200});

    // A rate outside the table keeps the old speed code here; the port sets it with BOTHER.
    dcb.BaudRate = 250000;
    EXPECT_EQ(DcbToTermios(dcb, &tio), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(cfgetospeed(&tio), speed_t{B115200});
    EXPECT_FALSE(SpeedCodeForBaud(250000));
    EXPECT_EQ(BaudForSpeedCode(B57600), 57600u);
}

TEST(ModemLines, FollowDtrAndRtsControl) {
    struct Case {
        int dtr, rts;
        int raise, lower;
    } cases[] = {
        {DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, TIOCM_DTR | TIOCM_RTS},
        {DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, TIOCM_DTR | TIOCM_RTS, 0},
        {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE, TIOCM_DTR | TIOCM_RTS, 0},
        {DTR_CONTROL_ENABLE, RTS_CONTROL_TOGGLE, TIOCM_DTR, TIOCM_RTS},
    };
    for (const auto& c : cases) {
        DCB dcb = Dcb8N1();
        dcb.fDtrControl = c.dtr;
        dcb.fRtsControl = c.rts;
        ModemLineChange change = ModemLinesForDcb(dcb);
        EXPECT_EQ(change.raise, c.raise) << c.dtr << "/" << c.rts;
        EXPECT_EQ(change.lower, c.lower) << c.dtr << "/" << c.rts;
    }
}

TEST(PlanRead, FollowsCommTimeoutRules) {
    constexpr DWORD M = MAXDWORD;
    struct Case {
        COMMTIMEOUTS cto;
        DWORD count;
        bool immediate, returnOnAny;
        std::optional<uint64_t> total;
        std::optional<uint32_t> interval;
    } cases[] = {
        {{0, 0, 0, 0, 0}, 10, false, false, std::nullopt, std::nullopt},  // wait for every byte
        {{M, 0, 0, 0, 0}, 10, true, false, std::nullopt, std::nullopt},   // what is there
        {{M, M, 500, 0, 0}, 10, false, true, 500, std::nullopt},          // first byte or 500 ms
        {{M, M, M, 0, 0}, 10, false, false, uint64_t{M} * 10 + M, std::nullopt},
        {{250, 10, 100, 0, 0}, 1, false, false, 110, 250},                // the control's settings
        {{250, 10, 100, 0, 0}, 128, false, false, 1380, 250},
        {{50, 0, 0, 0, 0}, 4, false, false, std::nullopt, 50},            // interval only
        {{0, M, M, 0, 0}, 3, false, false, uint64_t{M} * 3 + M, std::nullopt},  // no overflow
        {{M, 0, 200, 0, 0}, 4, false, false, 200, std::nullopt},
    };
    for (const auto& c : cases) {
        ReadPlan plan = PlanRead(c.cto, c.count);
        SCOPED_TRACE(::testing::Message() << c.cto.ReadIntervalTimeout << "," << c.cto.ReadTotalTimeoutMultiplier
                                          << "," << c.cto.ReadTotalTimeoutConstant << " x" << c.count);
        EXPECT_EQ(plan.immediate, c.immediate);
        EXPECT_EQ(plan.returnOnAny, c.returnOnAny);
        EXPECT_EQ(plan.totalMs, c.total);
        EXPECT_EQ(plan.intervalMs, c.interval);
    }
}

TEST(PlanWrite, TotalIsMultiplierTimesBytesPlusConstant) {
    EXPECT_EQ(PlanWrite({0, 0, 0, 0, 0}, 100), std::nullopt);
    EXPECT_EQ(PlanWrite({0, 0, 0, 0, 15000}, 100), 15000u);
    EXPECT_EQ(PlanWrite({0, 0, 0, 2, 10}, 100), 210u);
    EXPECT_EQ(PlanWrite({0, 0, 0, MAXDWORD, MAXDWORD}, 2), uint64_t{MAXDWORD} * 3);
}

TEST(ComPortNumber, AcceptsDeviceNamesOnly) {
    struct Case {
        std::u16string_view name;
        std::optional<int> number;
    } cases[] = {
        {u"COM1:", 1},       {u"COM1", 1},       {u"com7:", 7},     {u"Com255:", 255}, {u"\\\\.\\COM12", 12},
        {u"COM0:", {}},      {u"COM256:", {}},   {u"COM01:", {}},   {u"COM:", {}},     {u"COM1::", {}},
        {u"COM1.txt", {}},   {u"LPT9:", {}},     {u"COMX:", {}},    {u"", {}},         {u"COM1000:", {}},
        {u"/dev/COM1", {}},  {u"xCOM1:", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComPortNumber(c.name), c.number) << std::string(c.name.begin(), c.name.end());
}

}  // namespace
