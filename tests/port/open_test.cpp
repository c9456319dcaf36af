// Opening ports from port descriptions: the transport chosen, the calls made
// on the way (call trace) and the settings that reach a real pseudo-terminal.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "port_fixture.h"
#include "pressel/trace.h"
#include "win/wcs.h"

namespace {

using namespace port_test;

std::vector<std::string> Matching(const std::vector<std::string>& trace, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : trace)
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

// ParseCommSettings on a DCB prefilled with a sentinel, the tokenizer
// primed with the port token as OpenPort leaves it.
struct DcbCase {
    const char16_t* description;
    BOOL readWrite;
    DWORD baud;
    BYTE parity, byteSize, stopBits;
    DWORD flowFlags;  // flag bits under the mask 0x313C
};

constexpr DWORD kFlowMask = 0x313C;
constexpr DWORD kSentinelFlags = 0xAAAAAAAA;
constexpr DWORD kUnchanged = kSentinelFlags & kFlowMask;

DWORD FlagsWord(const DCB& dcb) {
    DWORD words[7];
    std::memcpy(words, &dcb, sizeof words);
    return words[2];
}

const DcbCase kDcbCases[] = {
    // Only what is given changes.
    {u"COM1:,19200", 0, 19200, 0xAA, 0xAA, 0xAA, kUnchanged},
    {u"COM1:,9600,N,8,1,X", 0, 9600, NOPARITY, 8, ONESTOPBIT, 0x0100},
    {u"COM1:,9600,e,7,2,C", 0, 9600, EVENPARITY, 7, TWOSTOPBITS, 0x0004},
    {u"COM1:,9600,O,8,1,XY", 1, 9600, ODDPARITY, 8, ONESTOPBIT, 0x0100},
    {u"COM1:,9600,N,8,1,X,Y", 1, 9600, NOPARITY, 8, ONESTOPBIT, 0x0100},
    // Base 0 numbers, byte truncation.
    {u"COM1:,0x2580,N,010,1", 0, 9600, NOPARITY, 8, ONESTOPBIT, kUnchanged},
    {u"COM1:,9600,N,264", 0, 9600, NOPARITY, 8, 0xAA, kUnchanged},
    // Parity letters M and S, stop bits 1.5 (read as 1) and 3.
    {u"COM1:,9600,M,8,1.5", 0, 9600, 0xAA, 8, ONESTOPBIT, kUnchanged},
    {u"COM1:,9600,S,8,3", 0, 9600, 0xAA, 8, 0xAA, kUnchanged},
    // Flow letters: none of them switches flow control off; R toggles RTS.
    {u"COM1:,9600,N,8,1,-", 0, 9600, NOPARITY, 8, ONESTOPBIT, 0},
    {u"COM1:,9600,N,8,1,xcdtr", 0, 9600, NOPARITY, 8, ONESTOPBIT, 0x0100 | 0x0004 | 0x0008 | 0x0010 | 0x3000},
    {u"COM1:,9600,N,8,1,R", 0, 9600, NOPARITY, 8, ONESTOPBIT, 0x3000},
    // Empty tokens are skipped; Y anywhere after the first comma.
    {u"COM1:,,,4800", 0, 4800, 0xAA, 0xAA, 0xAA, kUnchanged},
    {u"COM1:,Y", 1, 0xAAAAAAAA, 0xAA, 0xAA, 0xAA, kUnchanged},
    {u"COM1:,y,9600", 1, 0, 0xAA, 0xAA, 0xAA, kUnchanged},  // y stands where the baud rate goes
    {u"COM1:", 0, 0xAAAAAAAA, 0xAA, 0xAA, 0xAA, kUnchanged},
};

TEST(ParseCommSettings, FillsTheDcbFromTheTokens) {
    for (const DcbCase& c : kDcbCases) {
        SCOPED_TRACE(std::string(c.description, c.description + wcslen(c.description)));
        std::u16string copy = c.description;
        const WCHAR* comma = wcschr(c.description, u',');
        const WCHAR* settings = comma ? comma + 1 : nullptr;
        ASSERT_NE(wcstok(copy.data(), u","), nullptr);
        DCB dcb;
        std::memset(&dcb, 0xAA, sizeof dcb);
        EXPECT_EQ(port::ParseCommSettings(settings, nullptr), c.readWrite);
        EXPECT_EQ(port::ParseCommSettings(settings, &dcb), c.readWrite);
        EXPECT_EQ(dcb.BaudRate, c.baud);
        EXPECT_EQ(dcb.Parity, c.parity);
        EXPECT_EQ(dcb.ByteSize, c.byteSize);
        EXPECT_EQ(dcb.StopBits, c.stopBits);
        EXPECT_EQ(FlagsWord(dcb) & kFlowMask, c.flowFlags);
        // Nothing outside the flow bits changes: fInX above all.
        EXPECT_EQ(FlagsWord(dcb) & ~kFlowMask, kSentinelFlags & ~kFlowMask);
        EXPECT_EQ(dcb.XonChar, static_cast<char>(0xAA));
    }
}

class OpenPortTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UseScratchRegistry(); }
    void TearDown() override {
        pressel_trace::Enable(false);
        if (ctl->m_hPort != -1) {
            ctl->m_bReadWrite = 0;
            ctl->ClosePort(ctl->m_hPort);
            ctl->m_hPort = -1;
        }
    }

    LONG Open(const char16_t* description, const char16_t* output = u"") {
        pressel_trace::Enable(true);
        LONG h = ctl->OpenPort(description, output);
        trace = pressel_trace::Take();
        pressel_trace::Enable(false);
        return h;
    }

    PtyPrinter printer;
    Control ctl;
    std::vector<std::string> trace;
};

// Serial descriptions: access, dispositions tried, line toggling, timeouts.
struct SerialCase {
    const char16_t* description;
    BOOL readWrite;
    const char* createCall;
    DWORD baud;  // 0: the DCB is left as the port had it
    COMMTIMEOUTS timeouts;
};

TEST_F(OpenPortTest, SerialPortsGetTheirSettingsAndTimeouts) {
    const SerialCase cases[] = {
        // Write-only ports keep the driver's read timeouts (a fresh handle's
        // happen to be the read-write values).
        {u"COM7:", 0, "CreateFileW(COM7:,0x40000000,2)", 0, {250, 10, 100, 0, 15000}},
        {u"COM7:,Y", 1, "CreateFileW(COM7:,0xc0000000,3)", 0, {250, 10, 100, 0, 15000}},
        {u"com7:,19200,E,7,2,XY", 1, "CreateFileW(com7:,0xc0000000,3)", 19200, {250, 10, 100, 0, 15000}},
        {u"COM7:,4800", 0, "CreateFileW(COM7:,0x40000000,2)", 4800, {250, 10, 100, 0, 15000}},
    };
    for (const SerialCase& c : cases) {
        SCOPED_TRACE(std::string(c.description, c.description + wcslen(c.description)));
        // A known starting point, as a driver might leave it.
        HANDLE pre = CreateFileW(u"COM7:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(pre, INVALID_HANDLE_VALUE);
        DCB initial{};
        initial.DCBlength = sizeof initial;
        ASSERT_TRUE(GetCommState(pre, &initial));
        initial.BaudRate = 9600;
        initial.Parity = NOPARITY;
        initial.ByteSize = 8;
        ASSERT_TRUE(SetCommState(pre, &initial));
        CloseHandle(pre);

        LONG h = Open(c.description);
        ASSERT_NE(h, -1);
        EXPECT_EQ(ctl->m_hPort, h);
        EXPECT_EQ(ctl->m_bFilePort, 1);
        EXPECT_EQ(ctl->m_bReadWrite, c.readWrite);
        EXPECT_EQ(Matching(trace, "CreateFileW"), std::vector<std::string>{c.createCall});
        std::vector<std::string> lines = {"EscapeCommFunction(6)", "EscapeCommFunction(4)", "EscapeCommFunction(8)",
                                          "EscapeCommFunction(9)", "EscapeCommFunction(5)", "EscapeCommFunction(3)"};
        EXPECT_EQ(Matching(trace, "EscapeCommFunction"), lines);
        // The lines are toggled before the state and timeouts are set.
        auto firstEscape = std::find(trace.begin(), trace.end(), lines[0]);
        auto setState = std::find_if(trace.begin(), trace.end(),
                                     [](const std::string& s) { return s.rfind("SetCommState", 0) == 0; });
        EXPECT_LT(firstEscape, setState);

        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(ctl.Handle(), &dcb));
        EXPECT_EQ(dcb.BaudRate, c.baud ? c.baud : 9600u);
        COMMTIMEOUTS t{};
        ASSERT_TRUE(GetCommTimeouts(ctl.Handle(), &t));
        EXPECT_EQ(t.ReadIntervalTimeout, c.timeouts.ReadIntervalTimeout);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, c.timeouts.ReadTotalTimeoutMultiplier);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, c.timeouts.ReadTotalTimeoutConstant);
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(t.WriteTotalTimeoutConstant, 15000u);

        ctl->m_bReadWrite = 0;
        EXPECT_TRUE(ctl->ClosePort(h));
        EXPECT_EQ(ctl->m_bFilePort, 0);
        ctl->m_hPort = -1;
    }
}

TEST_F(OpenPortTest, WriteOnlyComPortFallsBackToOpenAlways) {
    // A name that cannot be created fails both dispositions, in this order.
    SetRegistryString(HKEY_LOCAL_MACHINE, u"System\\DosDevices", u"COM8:", u"/nonexistent-dir/tty");
    EXPECT_EQ(Open(u"COM8:,9600"), -1);
    EXPECT_EQ(ctl->m_hPort, -1);
    EXPECT_EQ(ctl->m_bFilePort, 0);
    EXPECT_EQ(Matching(trace, "CreateFileW"),
              (std::vector<std::string>{"CreateFileW(COM8:,0x40000000,2)", "CreateFileW(COM8:,0x40000000,4)"}));
    EXPECT_TRUE(Matching(trace, "EscapeCommFunction").empty());
}

TEST_F(OpenPortTest, OutputNameReplacesThePortAndIgnoresTheDescription) {
    auto dir = std::filesystem::temp_directory_path() / ("pressel-port-out-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::u16string file = Wide((dir / "out.prn").string());
    ctl->m_bReadWrite = 0;
    LONG h = Open(u"COM7:,9600,N,8,1,XY", file.c_str());
    ASSERT_NE(h, -1);
    EXPECT_EQ(ctl->m_bFilePort, 1);
    EXPECT_EQ(ctl->m_bReadWrite, 0);
    EXPECT_EQ(Matching(trace, "CreateFileW"),
              std::vector<std::string>{"CreateFileW(" + (dir / "out.prn").string() + ",0x40000000,2)"});
    EXPECT_TRUE(Matching(trace, "EscapeCommFunction").empty());
    EXPECT_TRUE(ctl->WritePort(h, "abc", 3));
    EXPECT_TRUE(ctl->WritePort(h, "", 0));
    EXPECT_TRUE(ctl->ClosePort(h));
    ctl->m_hPort = -1;
    EXPECT_EQ(std::filesystem::file_size(dir / "out.prn"), 3u);

    // A name that cannot be created: CREATE_ALWAYS, then OPEN_ALWAYS, then -1.
    std::u16string bad = Wide((dir / "missing" / "out.prn").string());
    EXPECT_EQ(Open(u"", bad.c_str()), -1);
    EXPECT_EQ(ctl->m_hPort, -1);
    EXPECT_EQ(Matching(trace, "CreateFileW").size(), 2u);
    std::filesystem::remove_all(dir);
}

TEST_F(OpenPortTest, OtherNamesGoToThePortLibrary) {
    // Mixed case "Com" is not a serial name; an empty description opens nothing.
    for (const char16_t* description : {u"Com7:,9600", u"PRN1", u"TCP:127.0.0.1:1"}) {
        SCOPED_TRACE(std::string(description, description + wcslen(description)));
        port::g_bKtsbMode = 1;
        EXPECT_EQ(Open(description), -1);
        EXPECT_EQ(port::g_bKtsbMode, 0);
        EXPECT_TRUE(Matching(trace, "CreateFileW").empty());
        EXPECT_EQ(Matching(trace, "LoadLibraryW").size(), port::g_portLib.hModule ? 1u : 2u);
        EXPECT_EQ(ctl->m_bPortLibUser, 0);
        EXPECT_EQ(port::g_portLib.lUsers, 0);
        // The next close unloads the library that no channel uses.
        EXPECT_TRUE(ctl->ClosePort(-1));
        EXPECT_EQ(port::g_portLib.hModule, nullptr);
    }
    for (const char16_t* description : {u"", u",,,", static_cast<const char16_t*>(nullptr)}) {
        EXPECT_EQ(Open(description), -1);
        EXPECT_TRUE(Matching(trace, "LoadLibraryW").empty());
    }
}

TEST_F(OpenPortTest, FlPortTakesTheSerialPortFromTheRegistry) {
    const char16_t* key = u"SOFTWARE\\Quendrix\\Farlink";
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, key, u"FLPort");
    EXPECT_EQ(Open(u"FLPORT,9600"), -1);  // missing
    SetRegistryString(HKEY_LOCAL_MACHINE, key, u"FLPort", u"COM7:", REG_EXPAND_SZ);
    EXPECT_EQ(Open(u"FLPORT,9600"), -1);  // not REG_SZ
    SetRegistryString(HKEY_LOCAL_MACHINE, key, u"FLPort", u"COM7:xxxxxxxxxxxxxxx");  // 20 characters
    EXPECT_EQ(Open(u"FLPORT,9600"), -1);
    EXPECT_TRUE(Matching(trace, "CreateFileW").empty());

    SetRegistryString(HKEY_LOCAL_MACHINE, key, u"FLPort", u"COM7:");
    LONG h = Open(u"flport,19200,N,8,1");
    ASSERT_NE(h, -1);
    EXPECT_EQ(ctl->m_bFilePort, 1);
    EXPECT_EQ(ctl->m_bReadWrite, 0);
    // Opened as it is, without line toggling or timeouts of its own.
    EXPECT_EQ(Matching(trace, "CreateFileW"), std::vector<std::string>{"CreateFileW(COM7:,0x40000000,3)"});
    EXPECT_TRUE(Matching(trace, "EscapeCommFunction").empty());
    EXPECT_TRUE(Matching(trace, "SetCommTimeouts").empty());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(ctl.Handle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
}

}  // namespace
