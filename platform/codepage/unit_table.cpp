#include "codepage/unit_table.h"

#include <unicode/ucnv.h>
#include <unicode/uset.h>

#include <algorithm>
#include <cstring>

#include "core/hot.h"
#include "win/base.h"

namespace platform {
namespace {

bool IsSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Copies the leading units below 0x80 of in[0, n) as bytes to out (only
// counts them when out is null); returns how many. Sixteen, then eight units
// at a time in vector registers, for the ASCII that most lines are made of.
PLATFORM_HOT size_t CopyAscii(const WCHAR* in, size_t n, char* out) {
    using Units = uint16_t __attribute__((vector_size(16)));
    using Bytes = uint8_t __attribute__((vector_size(8)));
    const auto anyHigh = [](const Units& units) {
        const Units high = units & 0xFF80;
        uint64_t halves[2];
        std::memcpy(halves, &high, sizeof halves);
        return (halves[0] | halves[1]) != 0;
    };
    const auto narrow = [](const Units& units, char* to) {
        const Bytes bytes = __builtin_convertvector(units, Bytes);
        std::memcpy(to, &bytes, sizeof bytes);
    };
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        Units first, second;
        std::memcpy(&first, in + i, sizeof first);
        std::memcpy(&second, in + i + 8, sizeof second);
        if (anyHigh(first | second)) break;
        if (out) {
            narrow(first, out + i);
            narrow(second, out + i + 8);
        }
    }
    for (; i + 8 <= n; i += 8) {
        Units units;
        std::memcpy(&units, in + i, sizeof units);
        if (anyHigh(units)) break;
        if (out) narrow(units, out + i);
    }
    for (; i < n && in[i] < 0x80; ++i)
        if (out) out[i] = static_cast<char>(in[i]);
    return i;
}

// True when ICU converts every code point of the page on its own: no shift
// states, no mappings of sequences, at most two bytes.
bool ConvertsUnitByUnit(UConverter* converter) {
    switch (ucnv_getType(converter)) {
        case UCNV_SBCS:
        case UCNV_DBCS:
        case UCNV_MBCS:
        case UCNV_LATIN_1:
        case UCNV_US_ASCII: break;
        default: return false;
    }
    if (ucnv_getMaxCharSize(converter) > 2) return false;
    UErrorCode err = U_ZERO_ERROR;
    USet* mapped = uset_openEmpty();
    ucnv_getUnicodeSet(converter, mapped, UCNV_ROUNDTRIP_AND_FALLBACK_SET, &err);
    bool sequences = U_FAILURE(err);
    // Mappings of sequences are the set's strings, listed after its ranges.
    const int32_t items = uset_getItemCount(mapped);
    if (!sequences && items > 0) {
        UChar32 start, end;
        UChar text[8];
        err = U_ZERO_ERROR;
        sequences = uset_getItem(mapped, items - 1, &start, &end, text, 8, &err) != 0;
    }
    uset_close(mapped);
    return !sequences;
}

std::mutex g_knownMutex;  // adding to the known pages

}  // namespace

UnitTable::KnownPage UnitTable::known_[kKnownPages];

UnitTable* UnitTable::Make(UINT codePage, UConverter* converter, IcuConvert icu) {
    std::lock_guard lock(g_knownMutex);
    for (KnownPage& k : known_) {
        UINT page = k.codePage.load(std::memory_order_relaxed);
        if (page == codePage) return k.table.load(std::memory_order_relaxed);
        if (page != 0) continue;
        UnitTable* table = ConvertsUnitByUnit(converter) ? new UnitTable(codePage, icu) : nullptr;
        k.table.store(table, std::memory_order_relaxed);
        k.codePage.store(codePage, std::memory_order_release);
        return table;
    }
    return nullptr;  // ICU converts for pages beyond these
}

UnitTable::UnitTable(UINT codePage, IcuConvert icu) : codePage_(codePage), icu_(icu) {
    const Entry* ascii = Learn(0);
    asciiKept_ = true;
    for (unsigned u = 0; u < 0x80; ++u) asciiKept_ = asciiKept_ && ascii[u] == (u | Entry{1} << kCountShift);
}

const UnitTable::Entry* UnitTable::Learn(size_t blockIndex) {
    std::lock_guard lock(learning_);
    if (const Entry* learnt = blocks_[blockIndex].load(std::memory_order_acquire)) return learnt;
    auto* block = new Entry[kBlockUnits];
    for (size_t i = 0; i < kBlockUnits; ++i) {
        const WCHAR unit = static_cast<WCHAR>(blockIndex * kBlockUnits + i);
        block[i] = 0;
        if (IsSurrogate(unit)) continue;
        unsigned char bytes[4] = {};
        BOOL used = FALSE;
        int n = icu_(codePage_, &unit, 1, reinterpret_cast<char*>(bytes), sizeof bytes, &used);
        if (n < 1 || n > 2) continue;  // left to ICU in place
        block[i] = Entry{bytes[0]} | Entry{bytes[1]} << 8 | static_cast<Entry>(n) << kCountShift |
                   (used ? kUsedDefault : 0);
    }
    blocks_[blockIndex].store(block, std::memory_order_release);
    return block;
}

PLATFORM_HOT int UnitTable::Convert(const WCHAR* in, size_t length, char* out, size_t capacity, BOOL* usedDefault) {
    const bool counting = capacity == 0;
    size_t count = 0;
    Entry seen = 0;  // the entries or-ed together, for their default bit
    bool used = false;
    bool overflow = false;
    for (size_t i = 0; i < length;) {
        if (asciiKept_) {
            const size_t room = counting ? length - i : std::min(length - i, capacity - count);
            const size_t copied = CopyAscii(in + i, room, counting ? nullptr : out + count);
            i += copied;
            count += copied;
            if (i == length) break;
        }
        // As ICU does: a full target ends the conversion before the next unit.
        if (!counting && count == capacity) {
            overflow = true;
            break;
        }
        const Entry e = Lookup(in[i]);
        const size_t n = e >> kCountShift & 3;
        if (n == 0) [[unlikely]] {
            size_t end = i + 1;
            while (end < length && (Lookup(in[end]) >> kCountShift & 3) == 0) ++end;
            BOOL runUsed = FALSE;
            char* target = counting ? nullptr : out + count;
            int converted = icu_(codePage_, in + i, end - i, target, counting ? 0 : capacity - count, &runUsed);
            used = used || runUsed;
            if (converted == 0) {
                if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
                overflow = true;
                break;
            }
            count += static_cast<size_t>(converted);
            i = end;
            continue;
        }
        seen |= e;
        if (!counting) {
            out[count] = static_cast<char>(e);
            if (n == 2) {
                // ICU writes the lead byte of a pair that does not fit.
                if (count + 1 == capacity) {
                    overflow = true;
                    break;
                }
                out[count + 1] = static_cast<char>(e >> 8);
            }
        }
        count += n;
        ++i;
    }
    used = used || (seen & kUsedDefault);
    if (usedDefault) *usedDefault = used ? TRUE : FALSE;
    if (overflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (count > INT32_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return static_cast<int>(count);
}

}  // namespace platform
