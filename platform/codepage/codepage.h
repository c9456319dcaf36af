// Private to the platform layer: code-page conversion helpers.
#pragma once

#include <atomic>
#include <cstddef>

#include "win/types.h"

namespace platform {

// The ANSI code page: the registry value "ACP" under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Nls\CodePage, read once
// per process (the device also fixes it at start-up), 1252 when the value is
// missing, not a number or not a code page we can convert. Only single- and
// double-byte pages qualify, as on the device: callers size their targets for
// at most two bytes per unit (the text output converts 64 units into 130
// bytes), so UTF-8 or GB18030 as ANSI page would silently lose text.
// Inline, as every conversion asks; the first use reads the registry.
extern std::atomic<UINT> g_ansiCodePage;  // 0: not read yet
UINT SettleAnsiCodePage();
inline UINT AnsiCodePage() {
    UINT codePage = g_ansiCodePage.load(std::memory_order_acquire);
    return codePage != 0 ? codePage : SettleAnsiCodePage();
}
// Forgets the value read, so that the next use reads the registry again.
void ResetAnsiCodePage();

// WideCharToMultiByte, with (useTable) or without the table of units that
// spares most text a pass through ICU; without it, ICU converts everything,
// which is what the table must give.
int WideToMultiByte(UINT codePage, DWORD flags, LPCWSTR in, int cchIn, LPSTR out, int cbOut, LPCSTR defaultChar,
                    LPBOOL usedDefault, bool useTable);

// True when conversions for the code page are available.
bool CodePageSupported(UINT codePage);
// Most bytes one UTF-16 unit can become (0 when the page is not supported).
int MaxBytesPerUnit(UINT codePage);

// Sink for converted output following the Win32 rules: with capacity 0 it
// only counts; otherwise running out of room is an overflow.
template <class Unit>
struct OutputSink {
    Unit* out;
    size_t capacity;
    size_t count = 0;
    bool overflow = false;

    void Put(Unit unit) {
        if (capacity != 0) {
            if (count >= capacity) {
                overflow = true;
                return;
            }
            out[count] = unit;
        }
        ++count;
    }
};

// UTF-8 both ways, written here rather than by ICU so that the rules for bad
// input are the device's: each maximal invalid subsequence (and each unpaired
// surrogate) becomes U+FFFD, or fails the call when `strict`. Return false on
// invalid input in strict mode.
bool Utf8ToUtf16(const char* in, size_t length, bool strict, OutputSink<WCHAR>& sink);
bool Utf16ToUtf8(const WCHAR* in, size_t length, bool strict, OutputSink<char>& sink);

}  // namespace platform
