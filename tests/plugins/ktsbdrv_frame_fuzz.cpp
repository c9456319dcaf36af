// Byte streams as the driver or the printer receives them: the scanner must
// find only checked frames, never read past the input, and always advance.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugins/ktsbdrv/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t offset = 0;
    while (offset < size) {
        ktsb::Frame frame;
        size_t consumed = 0;
        auto result = ktsb::ParseFrame(data + offset, size - offset, &frame, &consumed);
        if (result == ktsb::ParseResult::kNeedMore) break;
        if (consumed == 0 || consumed > size - offset) __builtin_trap();
        if (result == ktsb::ParseResult::kFrame) {
            // A frame found is exactly what encoding its fields gives.
            std::vector<uint8_t> again = ktsb::EncodeFrame(frame.seq, frame.type, frame.payload.data(), frame.payload.size());
            if (again.size() != consumed || !std::equal(again.begin(), again.end(), data + offset)) __builtin_trap();
        }
        offset += consumed;
    }
    return 0;
}
