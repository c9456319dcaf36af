// Private to the platform layer: what each UTF-16 unit becomes in one code
// page, so that converting text need not go through ICU unit by unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "win/types.h"

struct UConverter;

namespace platform {

// ICU's own conversion of a run of units (best fit on, the page's '?' as
// default character), with WideCharToMultiByte's result: the byte count, or
// 0 with the last error set. usedDefault is set even when it fails.
struct IcuRun {
    int (*convert)(void* context, const WCHAR* in, size_t length, char* out, size_t capacity, BOOL* usedDefault);
    void* context;
};

// Learns each unit's bytes from ICU itself, 256 units at a time the first
// time a unit of the block is converted, and converts from what it learnt.
// Surrogates are not learnt: runs of them go to ICU whole, so that pairs
// stay together.
class UnitTable {
public:
    // A table for the converter, or null when a unit's bytes may depend on
    // its neighbours (stateful pages, mappings of sequences, pages of more
    // than two bytes a unit).
    static std::unique_ptr<UnitTable> For(UConverter* converter, const IcuRun& icu);

    // WideCharToMultiByte's result for best fit and no default character
    // arguments, byte for byte what ICU gives, overflow included.
    int Convert(const WCHAR* in, size_t length, char* out, size_t capacity, BOOL* usedDefault, const IcuRun& icu);

private:
    explicit UnitTable(const IcuRun& icu);

    // A unit's bytes, first in the low byte; bits 16-17 their count (0: not
    // converted alone); bit 24 set when the default character stands for it.
    using Entry = uint32_t;
    static constexpr int kCountShift = 16;
    static constexpr Entry kUsedDefault = Entry{1} << 24;
    static constexpr size_t kBlockUnits = 256;

    Entry Lookup(WCHAR unit, const IcuRun& icu) {
        const Entry* block = blocks_[unit / kBlockUnits].get();
        if (!block) [[unlikely]]
            block = Learn(unit / kBlockUnits, icu);
        return block[unit % kBlockUnits];
    }
    const Entry* Learn(size_t blockIndex, const IcuRun& icu);

    std::unique_ptr<Entry[]> blocks_[0x10000 / kBlockUnits];
    bool asciiKept_ = false;  // units below 0x80 are their own byte
};

}  // namespace platform
