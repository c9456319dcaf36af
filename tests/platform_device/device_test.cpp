// The stream-device manager with a real driver library (test_driver.cpp),
// loaded and unloaded as the control does with the link driver.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pressel/trace.h"
#include "win/base.h"
#include "win/device.h"
#include "win/serial.h"

namespace {

std::mutex g_logMutex;
std::vector<std::string> g_log;

std::vector<std::string> TakeLog() {
    std::lock_guard lock(g_logMutex);
    return std::exchange(g_log, {});
}

}  // namespace

// Called by the test driver for every entry point it runs.
extern "C" __attribute__((visibility("default"))) void PresselTestDriverLog(const char* line) {
    std::lock_guard lock(g_logMutex);
    g_log.emplace_back(line);
}

namespace {

const std::u16string kDriver = [] {
    std::string path = TEST_DRIVER_PATH;
    return std::u16string(path.begin(), path.end());
}();

bool DriverLoaded() {
    void* handle = dlopen(TEST_DRIVER_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

class DeviceManager : public ::testing::Test {
protected:
    void SetUp() override { TakeLog(); }
    void TearDown() override {
        if (registration_) {
            EXPECT_TRUE(DeregisterDevice(registration_));
        }
        EXPECT_FALSE(DriverLoaded());
    }
    // Registers "LPT9:" over the given serial-port name; the name lives only
    // during the call, as in the control.
    HANDLE Register(const char16_t* port) {
        std::u16string context = port;
        registration_ = RegisterDevice(u"LPT", 9, kDriver.c_str(), reinterpret_cast<DWORD_PTR>(context.data()));
        context.assign(context.size(), u'#');
        return registration_;
    }
    HANDLE OpenLpt9() {
        return CreateFileW(u"LPT9:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    }
    HANDLE registration_ = nullptr;
};

TEST_F(DeviceManager, CallsReachTheDriverInOrder) {
    pressel_trace::Enable(true);
    ASSERT_NE(Register(u"COM1:"), nullptr);
    EXPECT_TRUE(DriverLoaded());
    HANDLE port = OpenLpt9();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    DWORD done = 0xDEADBEEF;
    EXPECT_TRUE(WriteFile(port, "hello", 5, &done, nullptr));
    EXPECT_EQ(done, 5u);
    char buffer[8] = {};
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "OK");
    BYTE in = 3, out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_TRUE(DeviceIoControl(port, 0x1B100C, &in, 1, out, sizeof out, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(out[0] | out[1] << 8, 0x1234);
    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    EXPECT_TRUE(SetCommTimeouts(port, &timeouts));
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(DeviceIoControl(port, 0xDEAD, nullptr, 0, nullptr, 0, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_TRUE(DeregisterDevice(registration_));
    registration_ = nullptr;

    std::vector<std::string> expected = {
        "Init(COM1:)", "Open(0xC0000000,0)",  "Write(hello)", "Read(8)", "IOControl(0x1B100C,03,4)",
        "SetTimeouts(1,2,3,4,5)", "IOControl(0xDEAD,,0)", "Close", "Deinit(COM1:)"};
    EXPECT_EQ(TakeLog(), expected);
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front().rfind("RegisterDevice(LPT,9,", 0), 0u) << trace.front();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "DeregisterDevice"), trace.end());
}

TEST_F(DeviceManager, NameIsPrefixAndIndexInAnyCase) {
    ASSERT_NE(Register(u"COM2:"), nullptr);
    for (const char16_t* name : {u"LPT9:", u"lpt9:", u"Lpt9:"}) {
        HANDLE port = CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(port, INVALID_HANDLE_VALUE);
        CloseHandle(port);
    }
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(CreateFileW(u"LPT8:", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists("LPT8:"));  // not created as a file
}

TEST_F(DeviceManager, SecondRegistrationOfANameIsRefused) {
    ASSERT_NE(Register(u"COM1:"), nullptr);
    SetLastError(0xDEADBEEF);
    char16_t other[] = u"COM3:";
    EXPECT_EQ(RegisterDevice(u"lpt", 9, kDriver.c_str(), reinterpret_cast<DWORD_PTR>(other)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_IN_USE));
    EXPECT_TRUE(DeregisterDevice(registration_));
    registration_ = nullptr;
    ASSERT_NE(Register(u"COM3:"), nullptr);  // free again
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Init(COM1:)", "Deinit(COM1:)", "Init(COM3:)"}));
}

struct FailureCase {
    const char* what;
    const char16_t* prefix;
    DWORD index;
    const char16_t* library;  // null: the test driver
    const char16_t* port;
    DWORD error;
};

TEST_F(DeviceManager, RegistrationFailures) {
    const FailureCase cases[] = {
        {"missing library", u"LPT", 9, u"/nonexistent/libnothing.so", u"COM1:", ERROR_MOD_NOT_FOUND},
        {"missing by module name", u"LPT", 9, u"nosuchdrv.dll", u"COM1:", ERROR_MOD_NOT_FOUND},
        {"incomplete driver", u"BAD", 9, nullptr, u"COM1:", ERROR_PROC_NOT_FOUND},
        {"no entry points", u"XYZ", 9, nullptr, u"COM1:", ERROR_PROC_NOT_FOUND},
        {"init fails with error", u"LPT", 9, nullptr, u"FAIL", ERROR_FILE_NOT_FOUND},
        {"init fails silently", u"LPT", 9, nullptr, u"FAIL0", ERROR_GEN_FAILURE},
        {"short prefix", u"LP", 9, nullptr, u"COM1:", ERROR_INVALID_PARAMETER},
        {"long prefix", u"LPTX", 9, nullptr, u"COM1:", ERROR_INVALID_PARAMETER},
        {"index above 9", u"LPT", 10, nullptr, u"COM1:", ERROR_INVALID_PARAMETER},
        {"no library", u"LPT", 9, u"", u"COM1:", ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        std::u16string port = c.port;
        SetLastError(0xDEADBEEF);
        HANDLE h = RegisterDevice(c.prefix, c.index, c.library ? c.library : kDriver.c_str(),
                                  reinterpret_cast<DWORD_PTR>(port.data()));
        EXPECT_EQ(h, nullptr) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        EXPECT_FALSE(DriverLoaded()) << c.what;
    }
    ASSERT_NE(Register(u"COM1:"), nullptr);  // failed attempts left the name free
}

TEST_F(DeviceManager, DriverFailuresCarryErrors) {
    ASSERT_NE(Register(u"COM1:"), nullptr);
    HANDLE port = OpenLpt9();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DWORD done = 0xDEADBEEF;
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(WriteFile(port, "ERR", 3, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    CloseHandle(port);
    EXPECT_TRUE(DeregisterDevice(registration_));

    registration_ = nullptr;
    ASSERT_NE(Register(u"NOOPEN"), nullptr);
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(OpenLpt9(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPEN_FAILED));
}

TEST_F(DeviceManager, HandlesFailAfterDeregistration) {
    ASSERT_NE(Register(u"COM1:"), nullptr);
    HANDLE port = OpenLpt9();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    HANDLE registration = std::exchange(registration_, nullptr);
    EXPECT_TRUE(DeregisterDevice(registration));
    EXPECT_FALSE(DriverLoaded());
    // The driver closed the open handle before its Deinit.
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"Init(COM1:)", "Open(0xC0000000,0)", "Close", "Deinit(COM1:)"}));

    DWORD done = 0xDEADBEEF;
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(WriteFile(port, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(DeviceIoControl(port, 0x1B1000, nullptr, 0, nullptr, 0, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(port));  // releases our slot; the driver is not called
    EXPECT_TRUE(TakeLog().empty());

    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(DeregisterDevice(registration));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(registration));  // never a file handle
}

TEST_F(DeviceManager, DeregistrationWaitsForCallsInProgress) {
    ASSERT_NE(Register(u"COM1:"), nullptr);
    std::vector<HANDLE> ports;
    for (int i = 0; i < 4; ++i) ports.push_back(OpenLpt9());
    std::atomic<bool> go{false};
    std::vector<std::thread> writers;
    for (HANDLE port : ports)
        writers.emplace_back([&, port] {
            while (!go) std::this_thread::yield();
            DWORD done;
            while (WriteFile(port, "w", 1, &done, nullptr)) {
            }
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
        });
    go = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(DeregisterDevice(std::exchange(registration_, nullptr)));
    for (auto& t : writers) t.join();
    for (HANDLE port : ports) CloseHandle(port);

    auto log = TakeLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Deinit(COM1:)");  // nothing ran after it
    EXPECT_EQ(std::count(log.begin(), log.end(), "Close"), 4);
}

}  // namespace
