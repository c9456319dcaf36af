// Fuzz target: a printer's bytes through the status frame reader.
#include <cstddef>
#include <cstdint>

#include "port/Port.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how the source ends: silence or a failed read.
    bool failAtEnd = size > 0 && (data[0] & 1);
    size_t at = size > 0 ? 1 : 0;
    for (int frames = 0; frames < 4; ++frames) {
        LONG state = 0, code = 0;
        BOOL ok = port::ReadStatusFrameFrom(
            [&]() -> int {
                if (at < size) return data[at++];
                return failAtEnd ? port::kReadFailed : port::kNoByte;
            },
            &state, &code);
        if (!ok && (state != 0 || code != 0)) __builtin_trap();
        if (ok && state != 0 && state != 1 && state != 2 && state != 3 && state != 4 && state != 1080) __builtin_trap();
        if (at >= size) break;
    }
    return 0;
}
