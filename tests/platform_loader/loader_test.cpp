#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/utf.h"
#include "loader/libname.h"
#include "pressel/trace.h"
#include "win/base.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

TEST(Loader, ModuleNamesMapToSharedObjects) {
    struct {
        const char* given;
        const char* loaded;
    } const cases[] = {
        {"farsend.dll", "libfarsend.so"},
        {"FarSend.DLL", "libfarsend.so"},
        {"KtsbDrv", "libktsbdrv.so"},  // no extension means .dll
        {"ktsbdrv.", "libktsbdrv.so"},
        {"/opt/App Dir/Farsend.dll", "/opt/App Dir/libfarsend.so"},  // directory kept as it is
        {"\\Windows\\farsend.dll", "/Windows/libfarsend.so"},
        {"libfoo.so", "libfoo.so"},
        {"libfoo.so.1", "libfoo.so.1"},
        {"/usr/lib/libbar.so", "/usr/lib/libbar.so"},
        {"data.bin", "data.bin"},
        {".dll", ".dll"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::SharedObjectName(c.given), c.loaded) << c.given;
}

TEST(Loader, LoadsCallsAndFrees) {
    pressel_trace::Enable(true);
    SetLastError(kSentinel);
    HMODULE module = LoadLibraryW(u"Pressel_Loader_Probe.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "LoadLibraryW(Pressel_Loader_Probe.DLL)"), trace.end());

    auto answer = reinterpret_cast<int (*)(int)>(reinterpret_cast<void*>(GetProcAddressW(module, u"ProbeAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(20), 41);

    SetLastError(kSentinel);
    EXPECT_EQ(GetProcAddressW(module, u"NoSuchEntry"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    // An ordinal (a value below 0x10000 in place of the name) is not dereferenced.
    EXPECT_EQ(GetProcAddressW(module, reinterpret_cast<LPCWSTR>(uintptr_t{3})), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    // Loading twice counts twice.
    HMODULE again = LoadLibraryW(u"pressel_loader_probe");
    EXPECT_EQ(again, module);
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_TRUE(FreeLibrary(module));
    SetLastError(kSentinel);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Loader, FallsBackToTheExecutablesDirectory) {
    HMODULE module = LoadLibraryW(u"pressel_exedir_probe.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    WCHAR path[PATH_MAX];
    DWORD n = GetModuleFileNameW(module, path, PATH_MAX);
    ASSERT_GT(n, 0u);
    std::string expected = std::filesystem::path(PRESSEL_BIN_DIR) / "libpressel_exedir_probe.so";
    EXPECT_EQ(std::filesystem::weakly_canonical(platform::ToUtf8(path)), std::filesystem::weakly_canonical(expected));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Loader, FailuresSetTheirErrors) {
    std::string junk = std::filesystem::temp_directory_path() / ("libpressel-junk-" + std::to_string(getpid()) + ".so");
    std::ofstream(junk) << "not a library";
    struct {
        std::u16string name;
        DWORD error;
    } const cases[] = {
        {u"no_such_module_anywhere.dll", ERROR_MOD_NOT_FOUND},
        {u"/nonexistent/dir/x.dll", ERROR_MOD_NOT_FOUND},
        {platform::FromUtf8(junk), ERROR_BAD_FORMAT},
        {u"", ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(kSentinel);
        EXPECT_EQ(LoadLibraryW(c.name.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), c.error) << platform::ToUtf8(c.name);
    }
    std::filesystem::remove(junk);
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    auto bogus = reinterpret_cast<HMODULE>(uintptr_t{0x5150});
    EXPECT_EQ(GetProcAddressW(bogus, u"ProbeAnswer"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(FreeLibrary(bogus));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    WCHAR path[8];
    EXPECT_EQ(GetModuleFileNameW(bogus, path, 8), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Loader, ExecutablePathWithWin32Truncation) {
    char exe[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(len, 2);
    std::u16string expected = platform::FromUtf8(std::string(exe, static_cast<size_t>(len)));
    auto size = static_cast<DWORD>(expected.size());

    struct {
        DWORD nSize;
        DWORD result;
        DWORD error;  // kSentinel: untouched
        size_t kept;  // characters of the path before the terminator
    } const cases[] = {
        {size + 5, size, kSentinel, size},
        {size + 1, size, kSentinel, size},
        {size, size, ERROR_INSUFFICIENT_BUFFER, size - 1},
        {2, 2, ERROR_INSUFFICIENT_BUFFER, 1},
        {1, 1, ERROR_INSUFFICIENT_BUFFER, 0},
        {0, 0, ERROR_INSUFFICIENT_BUFFER, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nSize);
        std::u16string buffer(size + 8, u'\xAAAA');
        SetLastError(kSentinel);
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), c.nSize), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        if (c.nSize == 0) {
            EXPECT_EQ(buffer[0], u'\xAAAA');
            continue;
        }
        EXPECT_EQ(buffer.substr(0, c.kept), expected.substr(0, c.kept));
        EXPECT_EQ(buffer[c.kept], u'\0');
        EXPECT_EQ(buffer[c.kept + 1], u'\xAAAA');
    }
}

}  // namespace
