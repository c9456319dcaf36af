// The ANSI code page, from the registry.
#include <atomic>

#include "codepage/codepage.h"
#include "win/base.h"

#if __has_include("win/registry.h")
#include "win/registry.h"
#define PRESSEL_HAVE_REGISTRY 1
#endif

namespace platform {
namespace {

constexpr UINT kDefaultAnsiCodePage = 1252;

// The number in a REG_SZ value such as "1252"; 0 when it is not one.
UINT ParseCodePage(const WCHAR* text, size_t length) {
    uint64_t value = 0;
    size_t i = 0;
    while (i < length && text[i] == u' ') ++i;
    size_t digits = 0;
    for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
        value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
        if (value > 0xFFFF) return 0;  // code pages are 16-bit numbers
    }
    while (i < length && text[i] == u' ') ++i;
    if (digits == 0 || (i < length && text[i] != 0)) return 0;
    return static_cast<UINT>(value);
}

UINT ReadAnsiCodePage() {
#ifdef PRESSEL_HAVE_REGISTRY
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return 0;
    WCHAR text[16] = {};
    DWORD type = 0;
    DWORD size = sizeof text - sizeof(WCHAR);  // keep room for a terminator
    LONG rc = RegQueryValueExW(key, u"ACP", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return 0;
    return ParseCodePage(text, size / sizeof(WCHAR));
#else
    return 0;
#endif
}

}  // namespace

std::atomic<UINT> g_ansiCodePage{0};

// The first use: reads and settles the page. Kept out of AnsiCodePage, which
// every conversion calls, so that its thread-local flag costs nothing there.
UINT SettleAnsiCodePage() {
    // The registry store may itself convert text while it loads; such a
    // nested use gets the default rather than recursing.
    static thread_local bool reading = false;
    if (reading) return kDefaultAnsiCodePage;
    reading = true;
    UINT codePage = ReadAnsiCodePage();
    if (codePage == 0 || codePage == CP_ACP || codePage == CP_OEMCP || !CodePageSupported(codePage) ||
        MaxBytesPerUnit(codePage) > 2)
        codePage = kDefaultAnsiCodePage;
    reading = false;
    g_ansiCodePage.store(codePage, std::memory_order_release);
    return codePage;
}

void ResetAnsiCodePage() { g_ansiCodePage.store(0, std::memory_order_release); }

}  // namespace platform
