// Private to the platform layer: what each UTF-16 unit becomes in one code
// page, so that converting text need not go through ICU unit by unit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "win/types.h"

struct UConverter;

namespace platform {

// ICU's own conversion of units to a code page (best fit on, the page's '?'
// as default character) on the calling thread's converter, with
// WideCharToMultiByte's result: the byte count, or 0 with the last error set.
// usedDefault is set even when it fails.
using IcuConvert = int (*)(UINT codePage, const WCHAR* in, size_t length, char* out, size_t capacity,
                           BOOL* usedDefault);

// What each unit becomes in one code page, learnt from ICU itself 256 units
// at a time the first time a unit of the block is converted. Surrogates are
// not learnt: runs of them go to ICU whole, so that pairs stay together.
// One table per page for the whole process: blocks are learnt under a lock
// and read without one; tables live as long as the process.
class UnitTable {
public:
    // The page's table; *known is false when the page has not been looked at
    // yet (then Make decides). Null for a known page that has no table.
    // Inline: every conversion asks.
    static UnitTable* Find(UINT codePage, bool* known) {
        for (const KnownPage& k : known_) {
            UINT page = k.codePage.load(std::memory_order_acquire);
            if (page == 0) break;
            if (page == codePage) {
                *known = true;
                return k.table.load(std::memory_order_relaxed);
            }
        }
        *known = false;
        return nullptr;
    }
    // Finds or makes the page's table; null when a unit's bytes may depend on
    // its neighbours (stateful pages, mappings of sequences, pages of more
    // than two bytes a unit), or when too many pages have tables already.
    static UnitTable* Make(UINT codePage, UConverter* converter, IcuConvert icu);

    // WideCharToMultiByte's result for best fit and no default character
    // arguments, byte for byte what ICU gives, overflow included.
    int Convert(const WCHAR* in, size_t length, char* out, size_t capacity, BOOL* usedDefault);

private:
    UnitTable(UINT codePage, IcuConvert icu);

    // The pages looked at so far, with their tables (null: none). Entries are
    // added under a lock and never change once their page is published.
    struct KnownPage {
        std::atomic<UINT> codePage{0};
        std::atomic<UnitTable*> table{nullptr};
    };
    static constexpr size_t kKnownPages = 16;
    static KnownPage known_[kKnownPages];

    // A unit's bytes, first in the low byte; bits 16-17 their count (0: not
    // converted alone); bit 24 set when the default character stands for it.
    using Entry = uint32_t;
    static constexpr int kCountShift = 16;
    static constexpr Entry kUsedDefault = Entry{1} << 24;
    static constexpr size_t kBlockUnits = 256;

    Entry Lookup(WCHAR unit) {
        const Entry* block = blocks_[unit / kBlockUnits].load(std::memory_order_acquire);
        if (!block) [[unlikely]]
            block = Learn(unit / kBlockUnits);
        return block[unit % kBlockUnits];
    }
    const Entry* Learn(size_t blockIndex);

    const UINT codePage_;
    const IcuConvert icu_;
    std::mutex learning_;
    std::atomic<const Entry*> blocks_[0x10000 / kBlockUnits] = {};
    bool asciiKept_ = false;  // units below 0x80 are their own byte
};

}  // namespace platform
