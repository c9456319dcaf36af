#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <thread>

#include "codepage/codepage.h"
#include "win/base.h"
#include "win/registry.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    return out;
}

struct ToBytesCase {
    UINT codePage;
    std::u16string text;
    std::string bytes;
    BOOL usedDefault;
};

TEST(CodePage, WideToMultiByteTables) {
    const ToBytesCase cases[] = {
        {1252, u"A\u00E9\u20AC", "A\xE9\x80", FALSE},
        {1252, u"\u201Cq\u201D", "\x93q\x94", FALSE},
        {1252, u"\u0100\u0107", "Ac", FALSE},                // best fit: A macron, c acute
        {1252, u"x\u4E2D", "x?", TRUE},                     // CJK has no fit
        {1252, std::u16string(1, u'\xD800') + u"z", "?z", TRUE},  // unpaired surrogate
        {1252, u"\u0081", "\x81", FALSE},
        {1250, u"\u0141\u010D\u20AC", "\xA3\xE8\x80", FALSE},
        {437, u"\u00E9\u2591", "\x82\xB0", FALSE},
        {1251, u"\u0416", "\xC6", FALSE},
    };
    for (const auto& c : cases) {
        char out[16];
        std::memset(out, 0xAA, sizeof out);
        BOOL used = 7;
        SetLastError(kSentinel);
        int n = WideCharToMultiByte(c.codePage, 0, c.text.data(), static_cast<int>(c.text.size()), out, sizeof out,
                                    nullptr, &used);
        EXPECT_EQ(Hex(std::string(out, n > 0 ? static_cast<size_t>(n) : 0)), Hex(c.bytes)) << c.codePage;
        EXPECT_EQ(used, c.usedDefault) << c.codePage << " " << Hex(c.bytes);
        EXPECT_EQ(static_cast<unsigned char>(out[c.bytes.size()]), 0xAA);  // nothing beyond
        EXPECT_EQ(GetLastError(), kSentinel);
    }
}

TEST(CodePage, NoBestFitAndOwnDefaultCharacter) {
    char out[8];
    BOOL used = FALSE;
    int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, u"\u0100\u4E2D", 2, out, sizeof out, "*", &used);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(std::string(out, 2), "**");
    EXPECT_TRUE(used);
}

TEST(CodePage, MultiByteToWideTables) {
    struct {
        UINT codePage;
        DWORD flags;
        std::string bytes;
        std::u16string text;  // empty: fails with ERROR_NO_UNICODE_TRANSLATION
    } const cases[] = {
        {1252, 0, "A\x80\xE9", u"A\u20AC\u00E9"},
        {1250, 0, "\xA3\xE8", u"\u0141\u010D"},
        {CP_UTF8, 0, "\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u20AC\U0001F600"},
        {CP_UTF8, 0, "a\xC0\x80z", u"a\uFFFD\uFFFDz"},        // overlong form
        {CP_UTF8, 0, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
        {CP_UTF8, 0, "\xE2\x82", u"\uFFFD"},                   // cut short: one maximal subpart
        {CP_UTF8, 0, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {CP_UTF8, MB_ERR_INVALID_CHARS, "a\xE2\x82", u""},
        {CP_UTF8, MB_ERR_INVALID_CHARS, "ok\xC3\xA9", u"ok\u00E9"},
    };
    for (const auto& c : cases) {
        WCHAR out[16];
        std::fill(std::begin(out), std::end(out), u'\xAAAA');
        SetLastError(kSentinel);
        int n = MultiByteToWideChar(c.codePage, c.flags, c.bytes.data(), static_cast<int>(c.bytes.size()), out, 16);
        if (c.text.empty()) {
            EXPECT_EQ(n, 0);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
            continue;
        }
        EXPECT_EQ(std::u16string(out, n > 0 ? static_cast<size_t>(n) : 0), c.text) << c.codePage << " " << Hex(c.bytes);
        EXPECT_EQ(out[c.text.size()], u'\xAAAA');
        EXPECT_EQ(GetLastError(), kSentinel);
    }
}

TEST(CodePage, Utf8Output) {
    struct {
        std::u16string text;
        std::string bytes;
    } const cases[] = {
        {u"a\u00E9\u20AC", "a\xC3\xA9\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, u'\xDC00'), "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        char out[16];
        int n = WideCharToMultiByte(CP_UTF8, 0, c.text.data(), static_cast<int>(c.text.size()), out, 16, nullptr,
                                    nullptr);
        EXPECT_EQ(Hex(std::string(out, n > 0 ? static_cast<size_t>(n) : 0)), Hex(c.bytes));
    }
    // Strict mode refuses the unpaired surrogate.
    SetLastError(kSentinel);
    char out[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0x80, u"\xDC00", 1, out, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePage, LengthsSizeQueriesAndShortBuffers) {
    for (UINT cp : {1252u, static_cast<UINT>(CP_UTF8)}) {
        SCOPED_TRACE(cp);
        // -1 includes the terminator, in the count and in the output.
        char out[8];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, u"abc", -1, out, 8, nullptr, nullptr), 4);
        EXPECT_EQ(std::memcmp(out, "abc\0", 4), 0);
        EXPECT_EQ(static_cast<unsigned char>(out[4]), 0xAA);
        // Size query: nothing written.
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, u"abc", -1, out, 0, nullptr, nullptr), 4);
        EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xAA);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, "abc", -1, nullptr, 0), 4);
        // Too small: 0 and ERROR_INSUFFICIENT_BUFFER.
        SetLastError(kSentinel);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, u"abc", -1, out, 3, nullptr, nullptr), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        WCHAR wide[3];
        SetLastError(kSentinel);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, "abc", -1, wide, 3), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
    // A size query over more than the scratch block.
    std::u16string longText(5000, u'\u20AC');
    EXPECT_EQ(WideCharToMultiByte(1252, 0, longText.data(), 5000, nullptr, 0, nullptr, nullptr), 5000);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, longText.data(), 5000, nullptr, 0, nullptr, nullptr), 15000);
}

TEST(CodePage, FlushLineShape) {
    // 64 units (a 128-byte chunk) into a 130-byte target, as the text output does.
    std::u16string line(64, u'\u00E9');
    char target[130];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, line.data(), 64, target, 130, nullptr, nullptr), 64);
    EXPECT_EQ(static_cast<unsigned char>(target[63]), 0xE9);
}

TEST(CodePage, BadArguments) {
    char out[8];
    WCHAR wide[8];
    struct {
        std::function<int()> call;
        DWORD error;
    } const cases[] = {
        {[&] { return WideCharToMultiByte(1252, 0, nullptr, 3, out, 8, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(1252, 0, u"abc", 0, out, 8, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(1252, 0, u"abc", -2, out, 8, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(1252, 0, u"abc", 3, out, -1, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(1252, 0, u"abc", 3, nullptr, 8, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(54321, 0, u"abc", 3, out, 8, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(1200, 0, u"abc", 3, out, 8, nullptr, nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(CP_UTF8, 0, u"abc", 3, out, 8, "?", nullptr); }, ERROR_INVALID_PARAMETER},
        {[&] { return WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"abc", 3, out, 8, nullptr, nullptr); },
         ERROR_INVALID_FLAGS},
        {[&] { return WideCharToMultiByte(1252, 0x8000, u"abc", 3, out, 8, nullptr, nullptr); }, ERROR_INVALID_FLAGS},
        {[&] { return MultiByteToWideChar(1252, 0, nullptr, 3, wide, 8); }, ERROR_INVALID_PARAMETER},
        {[&] { return MultiByteToWideChar(1252, 0, "abc", 0, wide, 8); }, ERROR_INVALID_PARAMETER},
        {[&] { return MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 8); }, ERROR_INVALID_PARAMETER},
        {[&] { return MultiByteToWideChar(54321, 0, "abc", 3, wide, 8); }, ERROR_INVALID_PARAMETER},
        {[&] { return MultiByteToWideChar(CP_UTF8, 1, "abc", 3, wide, 8); }, ERROR_INVALID_FLAGS},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SetLastError(kSentinel);
        EXPECT_EQ(cases[i].call(), 0) << i;
        EXPECT_EQ(GetLastError(), cases[i].error) << i;
    }
}

TEST(CodePage, ConvertersArePerThread) {
    auto work = [](UINT cp, const char* expected) {
        for (int i = 0; i < 2000; ++i) {
            char out[4];
            int n = WideCharToMultiByte(cp, 0, u"\u0104", 1, out, 4, nullptr, nullptr);  // A ogonek
            if (n != 1 || out[0] != expected[0]) return false;
        }
        return true;
    };
    bool ok1 = false, ok2 = false;
    std::thread a([&] { ok1 = work(1250, "\xA5"); });
    std::thread b([&] { ok2 = work(1252, "A"); });
    a.join();
    b.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

// The ANSI code page comes from the registry, read once; 1252 otherwise.
TEST(CodePage, AnsiCodePageFromTheRegistry) {
    char dir[] = "/tmp/pressel-acp-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string reg = std::string(dir) + "/registry.reg";
    const char* old = std::getenv("PRESSEL_REGISTRY");
    std::string saved = old ? old : "";
    setenv("PRESSEL_REGISTRY", reg.c_str(), 1);

    struct {
        const char* value;  // null: no registry file
        UINT acp;
    } const cases[] = {
        {nullptr, 1252},
        {"\"ACP\"=\"1250\"", 1250},
        {"\"ACP\"=\"437\"", 437},
        {"\"ACP\"=\"12x\"", 1252},
        {"\"ACP\"=\"54321\"", 1252},  // no such code page
        {"\"ACP\"=\"932\"", 932},
        {"\"ACP\"=\"65001\"", 1252},  // more than two bytes a unit
        {"\"ACP\"=dword:000004e2", 1252},  // not a string
    };
    for (const auto& c : cases) {
        std::filesystem::remove(reg);
        if (c.value) {
            std::ofstream(reg) << "Windows Registry Editor Version 5.00\r\n\r\n"
                               << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n"
                               << c.value << "\r\n";
        }
        platform::ResetAnsiCodePage();
        EXPECT_EQ(GetACP(), c.acp) << (c.value ? c.value : "no file");
    }
    // The chosen page is what CP_ACP converts with.
    std::filesystem::remove(reg);
    std::ofstream(reg) << "Windows Registry Editor Version 5.00\r\n\r\n"
                       << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n\"ACP\"=\"1250\"\r\n";
    platform::ResetAnsiCodePage();
    char out[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u0141", 1, out, 4, nullptr, nullptr), 1);
    EXPECT_EQ(out[0], '\xA3');

    std::filesystem::remove_all(dir);
    if (old) setenv("PRESSEL_REGISTRY", saved.c_str(), 1);
    else unsetenv("PRESSEL_REGISTRY");
    platform::ResetAnsiCodePage();
}

}  // namespace
