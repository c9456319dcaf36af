// The export list, the identification string, the registry reader, the
// operating-system wrappers and the KTSB controls of libondrel.so.
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <vector>

#include "ondrel_fixture.h"
#include "pressel/trace.h"
#include "win/device.h"
#include "win/registry.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kSentinelError = 0xDEADBEEF;

class ScratchRegistry {
public:
    ScratchRegistry() {
        char tmpl[] = "/tmp/pressel-ondrel-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("PRESSEL_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
    }
    ~ScratchRegistry() {
        unsetenv("PRESSEL_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    void Set(const WCHAR* keyPath, const WCHAR* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void SetString(const WCHAR* keyPath, const WCHAR* name, const std::u16string& value) {
        Set(keyPath, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * 2));
    }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST(OndrelLibraryFile, ExportsExactlyTheTwentyTwoNames) {
    FILE* nm = popen("nm -D --defined-only " PRESSEL_LIB_DIR "/libondrel.so", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char address[64], type[8], name[256];
        if (std::sscanf(line, "%63s %7s %255s", address, type, name) == 3) names.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0);
    std::set<std::string> expected = {
#define ONDREL_EXPORT(name) #name,
#include "ondrel_exports.inc"
#undef ONDREL_EXPORT
    };
    EXPECT_EQ(expected.size(), 22u);
    EXPECT_EQ(names, expected);
}

TEST_F(OndrelTest, IdentificationString) {
    int length = fn.OndrelGetId(nullptr, 12345);
    ASSERT_GT(length, 0);
    std::vector<char> buf(static_cast<size_t>(length) + 16, '\xAA');

    EXPECT_EQ(fn.OndrelGetId(buf.data(), length - 1), -1);
    EXPECT_EQ(buf[0], '\xAA');

    ASSERT_EQ(fn.OndrelGetId(buf.data(), length), length);
    EXPECT_EQ(buf[static_cast<size_t>(length)], '\xAA');  // exactly the length: no terminator
    std::string id(buf.data(), static_cast<size_t>(length));

    std::fill(buf.begin(), buf.end(), '\xAA');
    ASSERT_EQ(fn.OndrelGetId(buf.data(), length + 5), length);
    EXPECT_EQ(std::string(buf.data()), id);
    for (int i = length; i < length + 5; ++i) EXPECT_EQ(buf[static_cast<size_t>(i)], '\0') << i;  // strncpy pads
    EXPECT_EQ(buf[static_cast<size_t>(length) + 5], '\xAA');

    const std::string sixteen(16, ' ');
    std::smatch m;
    const std::regex shape(
        "<Ondrel\\.dll CopyrightYear=\"([^\"]*)\" Copyright=\"([^\"]*)\" Version=\"1\\.07\"> "
        "<OndrelLib\\.lib {16}CopyrightYear=\"([^\"]*)\" {16}Copyright=\"([^\"]*)\" {16}Version=\"1\\.07\" /> "
        "</Ondrel\\.dll>");
    ASSERT_TRUE(std::regex_match(id, m, shape)) << id;
    EXPECT_EQ(m[1], m[3]);
    std::string inner = m[4];
    ASSERT_NE(inner.find(sixteen), std::string::npos) << "the inner notice breaks its lines";
    for (size_t at; (at = inner.find(sixteen)) != std::string::npos;) inner.replace(at, 16, " ");
    EXPECT_EQ(inner, m[2].str());
    EXPECT_EQ(id.find('\n'), std::string::npos);
}

TEST_F(OndrelTest, RegistryStringResults) {
    ScratchRegistry registry;
    registry.SetString(u"SOFTWARE\\Quendrix\\Farlink", u"FLPort", u"COM3:");
    DWORD number = 3;
    registry.Set(u"SOFTWARE\\Numeric", u"FLPort", REG_DWORD, &number, sizeof number);
    registry.SetString(u"SOFTWARE\\Other", u"Port", u"COM4:");
    struct Case {
        const WCHAR* key;
        int capacity;
        int result;
        const char16_t* text;
    };
    const Case cases[] = {
        {u"SOFTWARE\\Quendrix\\Farlink", 64, 12, u"COM3:"},
        {u"software\\quendrix\\farlink", 12, 12, u"COM3:"},  // exactly the size
        {u"SOFTWARE\\Quendrix\\Farlink", 11, -1, nullptr},   // one byte short
        {u"SOFTWARE\\Quendrix\\Farlink", -5, -1, nullptr},
        {u"SOFTWARE\\Numeric", 64, -2, nullptr},
        {u"SOFTWARE\\Other", 64, -1, nullptr},  // the key without the value
        {u"SOFTWARE\\Missing", 64, -3, nullptr},
    };
    for (const auto& c : cases) {
        unsigned char buf[80];
        std::memset(buf, 0xAA, sizeof buf);
        int size = c.capacity;
        EXPECT_EQ(fn.GetRegString(c.key, buf, &size), c.result) << c.capacity;
        EXPECT_EQ(size, c.result);
        if (c.text) {
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buf)), c.text);
            EXPECT_EQ(buf[c.result], 0xAA);
        }
    }
    unsigned char buf[4];
    EXPECT_EQ(fn.GetRegString(u"SOFTWARE\\Quendrix\\Farlink", buf, nullptr), -1);
}

TEST_F(OndrelTest, FileWrappersPassResultsAndErrorsThrough) {
    ScratchRegistry scratch;
    std::u16string path = Wide(scratch.dir() + "/out.bin");
    HANDLE h = fn.CreateFile_Interop(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const char data[] = "\x1b@line\r\n";
    DWORD done = 0xAAAAAAAA;
    EXPECT_TRUE(fn.WriteFile_Interop(h, data, 8, &done, nullptr));
    EXPECT_EQ(done, 8u);
    EXPECT_TRUE(fn.CloseHandle_Interop(h));

    h = fn.CreateFile_Interop(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char back[16];
    std::memset(back, 0xAA, sizeof back);
    EXPECT_TRUE(fn.ReadFile_Interop(h, back, sizeof back, &done, nullptr));
    EXPECT_EQ(done, 8u);
    EXPECT_EQ(std::memcmp(back, data, 8), 0);
    EXPECT_EQ(back[8], '\xAA');
    EXPECT_TRUE(fn.CloseHandle_Interop(h));

    SetLastError(kSentinelError);
    std::u16string missing = Wide(scratch.dir() + "/none/x");
    EXPECT_EQ(fn.CreateFile_Interop(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(kSentinelError);
    EXPECT_FALSE(fn.CloseHandle_Interop(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(OndrelTest, SerialWrappersOnAPseudoTerminal) {
    ScratchRegistry registry;
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    registry.SetString(u"System\\DosDevices", u"COM7:", Wide(name));

    HANDLE h = fn.CreateFile_Interop(u"COM7:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(fn.GetCommState_Interop(h, &dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    EXPECT_TRUE(fn.SetCommState_Interop(h, &dcb));
    DCB back{};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(fn.GetCommState_Interop(h, &back));
    EXPECT_EQ(back.BaudRate, 19200u);

    COMMTIMEOUTS timeouts{250, 10, 100, 0, 15000};
    EXPECT_TRUE(fn.SetCommTimeouts_Interop(h, &timeouts));
    COMMTIMEOUTS readBack{};
    ASSERT_TRUE(fn.GetCommTimeouts_Interop(h, &readBack));
    EXPECT_EQ(std::memcmp(&readBack, &timeouts, sizeof timeouts), 0);

    EXPECT_TRUE(fn.EscapeCommFunction_Interop(h, SETDTR));
    SetLastError(kSentinelError);
    EXPECT_FALSE(fn.EscapeCommFunction_Interop(h, 77));
    EXPECT_NE(GetLastError(), kSentinelError);

    DWORD done = 0;
    EXPECT_TRUE(fn.WriteFile_Interop(h, "PRINT", 5, &done, nullptr));
    EXPECT_EQ(done, 5u);
    char got[8] = {};
    ASSERT_EQ(read(master, got, sizeof got), 5);
    EXPECT_STREQ(got, "PRINT");
    EXPECT_TRUE(fn.CloseHandle_Interop(h));
    close(master);
    close(slave);
}

class OndrelKtsbTest : public OndrelTest {
protected:
    // Registers the test driver as "KTB<index>:" and opens it.
    HANDLE Open(DWORD index, bool accepts) {
        device_ = fn.RegisterDevice_Interop(u"KTB", index, driver_.c_str(), accepts ? 1 : 0);
        EXPECT_NE(device_, nullptr) << GetLastError();
        std::u16string name = u"KTB" + Wide(std::to_string(index)) + u":";
        HANDLE h = fn.CreateFile_Interop(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                                         nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
        return h;
    }
    void TearDown() override {
        if (device_) {
            EXPECT_TRUE(fn.DeregisterDevice_Interop(device_));
        }
    }
    static int Controls(const std::vector<std::string>& trace, const std::string& call) {
        return static_cast<int>(std::count(trace.begin(), trace.end(), call));
    }

    std::u16string driver_ = Wide(PRESSEL_LIB_DIR "/libondrel_ktsb_test_driver.so");
    HANDLE device_ = nullptr;
};

TEST_F(OndrelKtsbTest, ControlsAcceptedAtOnce) {
    HANDLE h = Open(1, true);
    pressel_trace::Enable(true);
    EXPECT_EQ(fn.KtsbDevIOCBind(h), 1);
    EXPECT_EQ(fn.KtsbCancel(h), 1);
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    EXPECT_EQ(Controls(trace, "DeviceIoControl(0x1B1004)"), 1);
    EXPECT_EQ(Controls(trace, "DeviceIoControl(0x1B1000)"), 1);

    DWORD returned = 0xAAAAAAAA;
    BYTE out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_TRUE(fn.DeviceIoControl_Interop(h, 0x1B1000, nullptr, 0, out, sizeof out, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    SetLastError(kSentinelError);
    EXPECT_FALSE(fn.DeviceIoControl_Interop(h, 0x1B100C, nullptr, 0, out, sizeof out, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_TRUE(fn.CloseHandle_Interop(h));
}

TEST_F(OndrelKtsbTest, ControlsRefusedNineTimesGiveZero) {
    HANDLE h = Open(2, false);
    pressel_trace::Enable(true);
    auto start = Clock::now();
    EXPECT_EQ(fn.KtsbDevIOCBind(h), 0);
    auto elapsed = Clock::now() - start;
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    EXPECT_EQ(Controls(trace, "DeviceIoControl(0x1B1004)"), 9);
    EXPECT_GE(elapsed, std::chrono::milliseconds(4500));  // nine pauses, the last one too
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));  // the reason stays readable
    EXPECT_TRUE(fn.CloseHandle_Interop(h));
}

}  // namespace
