#include "codepage/unit_table.h"

#include <unicode/ucnv.h>
#include <unicode/uset.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "win/base.h"

namespace platform {
namespace {

bool IsSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Copies the leading units below 0x80 of in[0, n) as bytes to out (only
// counts them when out is null); returns how many.
size_t CopyAscii(const WCHAR* in, size_t n, char* out) {
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Four units a word: their low bytes are at bits 0, 16, 32 and 48.
        for (; i + 4 <= n; i += 4) {
            uint64_t word;
            std::memcpy(&word, in + i, sizeof word);
            if (word & 0xFF80FF80FF80FF80u) break;
            if (out) {
                const uint32_t bytes = static_cast<uint32_t>((word & 0xFF) | (word >> 8 & 0xFF00) |
                                                             (word >> 16 & 0xFF0000) | (word >> 24 & 0xFF000000));
                std::memcpy(out + i, &bytes, sizeof bytes);
            }
        }
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
    bool sequences = U_FAILURE(err) || uset_hasStrings(mapped);
    uset_close(mapped);
    return !sequences;
}

}  // namespace

std::unique_ptr<UnitTable> UnitTable::For(UConverter* converter, const IcuRun& icu) {
    if (!ConvertsUnitByUnit(converter)) return nullptr;
    return std::unique_ptr<UnitTable>(new UnitTable(icu));
}

UnitTable::UnitTable(const IcuRun& icu) {
    const Entry* ascii = Learn(0, icu);
    asciiKept_ = true;
    for (unsigned u = 0; u < 0x80; ++u) asciiKept_ = asciiKept_ && ascii[u] == (u | Entry{1} << kCountShift);
}

const UnitTable::Entry* UnitTable::Learn(size_t blockIndex, const IcuRun& icu) {
    auto& block = blocks_[blockIndex];
    block = std::make_unique<Entry[]>(kBlockUnits);
    for (size_t i = 0; i < kBlockUnits; ++i) {
        const WCHAR unit = static_cast<WCHAR>(blockIndex * kBlockUnits + i);
        block[i] = 0;
        if (IsSurrogate(unit)) continue;
        unsigned char bytes[4] = {};
        BOOL used = FALSE;
        int n = icu.convert(icu.context, &unit, 1, reinterpret_cast<char*>(bytes), sizeof bytes, &used);
        if (n < 1 || n > 2) continue;  // left to ICU in place
        block[i] = Entry{bytes[0]} | Entry{bytes[1]} << 8 | static_cast<Entry>(n) << kCountShift |
                   (used ? kUsedDefault : 0);
    }
    return block.get();
}

int UnitTable::Convert(const WCHAR* in, size_t length, char* out, size_t capacity, BOOL* usedDefault,
                       const IcuRun& icu) {
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
        const Entry e = Lookup(in[i], icu);
        const size_t n = e >> kCountShift & 3;
        if (n == 0) [[unlikely]] {
            size_t end = i + 1;
            while (end < length && (Lookup(in[end], icu) >> kCountShift & 3) == 0) ++end;
            BOOL runUsed = FALSE;
            int converted = icu.convert(icu.context, in + i, end - i, counting ? nullptr : out + count,
                                        counting ? 0 : capacity - count, &runUsed);
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
