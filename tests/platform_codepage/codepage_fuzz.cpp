// Fuzz target: arbitrary bytes through the code-page conversions, both ways.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "win/base.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const UINT kPages[] = {CP_UTF8, 1252, 1250, 437, 932, 936};
    UINT cp = kPages[data[0] % (sizeof kPages / sizeof kPages[0])];
    DWORD flags = (data[1] & 1) ? MB_ERR_INVALID_CHARS : 0;
    const char* bytes = reinterpret_cast<const char*>(data + 2);
    int length = static_cast<int>(size - 2);
    if (length == 0) return 0;

    int needed = MultiByteToWideChar(cp, flags, bytes, length, nullptr, 0);
    if (needed <= 0) return 0;
    std::vector<WCHAR> wide(static_cast<size_t>(needed));
    if (MultiByteToWideChar(cp, flags, bytes, length, wide.data(), needed) != needed) __builtin_trap();
    // A buffer one short must be refused, never overrun.
    if (needed > 1 && MultiByteToWideChar(cp, flags, bytes, length, wide.data(), needed - 1) != 0) __builtin_trap();

    // Whatever came out goes back, including any unpaired surrogates.
    int back = WideCharToMultiByte(cp, 0, wide.data(), needed, nullptr, 0, nullptr, nullptr);
    if (back <= 0) return 0;
    std::vector<char> narrow(static_cast<size_t>(back));
    if (WideCharToMultiByte(cp, 0, wide.data(), needed, narrow.data(), back, nullptr, nullptr) != back)
        __builtin_trap();
    return 0;
}
