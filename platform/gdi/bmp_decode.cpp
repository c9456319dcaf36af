#include "gdi/bmp_decode.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "gdi/surface.h"
#include "win/gdi.h"

namespace platform::gdi {
namespace {

constexpr size_t kFileHeaderSize = 14;
// Resolutions above this (25400 dpi) only come from damaged headers.
constexpr LONG kMaxPelsPerMeter = 1000000;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
LONG I32(const uint8_t* p) { return static_cast<LONG>(U32(p)); }

enum class HeaderKind { Core, Os2, Windows };

bool KindOfHeader(uint32_t size, HeaderKind& kind) {
    switch (size) {
        case 12: kind = HeaderKind::Core; return true;
        case 40:
        case 52:
        case 56:
        case 108:
        case 124: kind = HeaderKind::Windows; return true;
        default:
            if (size >= 16 && size <= 64) {
                kind = HeaderKind::Os2;
                return true;
            }
            return false;
    }
}

bool KnownBitCount(unsigned bpp) {
    return bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

struct ChannelScale {
    unsigned shift = 0;
    uint64_t max = 0;
    DWORD mask = 0;
    explicit ChannelScale(DWORD m) : mask(m) {
        while (((m >> shift) & 1u) == 0) ++shift;
        max = m >> shift;
    }
    uint32_t Byte(uint32_t pixel) const {
        return static_cast<uint32_t>(((((pixel & mask) >> shift) * 255) + max / 2) / max);
    }
};

uint32_t* PictureRow(uint8_t* dst, size_t stride, LONG y) {
    return reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * stride);
}

DWORD DecodeUncompressed(const BmpLayout& L, const uint8_t* data, uint8_t* dst, size_t dstStride) {
    const size_t srcStride = DibStride(static_cast<uint64_t>(L.width), L.bpp);
    const size_t colours = L.palette.size();
    const ChannelScale r(L.bpp > 8 ? L.masks[0] : 1), g(L.bpp > 8 ? L.masks[1] : 1), b(L.bpp > 8 ? L.masks[2] : 1);
    const bool plain32 = L.bpp == 32 && L.masks[0] == 0xFF0000 && L.masks[1] == 0xFF00 && L.masks[2] == 0xFF;
    for (LONG fileRow = 0; fileRow < L.height; ++fileRow) {
        const uint8_t* s = data + L.dataOffset + static_cast<size_t>(fileRow) * srcStride;
        uint32_t* d = PictureRow(dst, dstStride, L.topDown ? fileRow : L.height - 1 - fileRow);
        switch (L.bpp) {
            case 1:
            case 2:
            case 4:
            case 8: {
                const unsigned bpp = L.bpp, perByte = 8 / bpp, mask = (1u << bpp) - 1;
                for (LONG x = 0; x < L.width; ++x) {
                    unsigned shift = 8 - bpp * (1 + static_cast<unsigned>(x) % perByte);
                    unsigned index = (s[static_cast<unsigned>(x) / perByte] >> shift) & mask;
                    if (index >= colours) return ERROR_BAD_FORMAT;
                    d[x] = L.palette[index];
                }
                break;
            }
            case 16:
                for (LONG x = 0; x < L.width; ++x) {
                    uint32_t v = U16(s + 2 * x);
                    d[x] = (r.Byte(v) << 16) | (g.Byte(v) << 8) | b.Byte(v);
                }
                break;
            case 24:
                for (LONG x = 0; x < L.width; ++x, s += 3)
                    d[x] = s[0] | (s[1] << 8) | (static_cast<uint32_t>(s[2]) << 16);
                break;
            default:
                if (plain32) {
                    for (LONG x = 0; x < L.width; ++x) d[x] = U32(s + 4 * x) & 0xFFFFFFu;
                } else {
                    for (LONG x = 0; x < L.width; ++x) {
                        uint32_t v = U32(s + 4 * x);
                        d[x] = (r.Byte(v) << 16) | (g.Byte(v) << 8) | b.Byte(v);
                    }
                }
                break;
        }
    }
    return 0;
}

// RLE4 and RLE8: rows from the bottom, runs, end of line, end of bitmap,
// deltas and absolute runs. Every code consumes at least two bytes, so the
// loop ends with the data. Common writers encode every row up to its padded
// width, so pixels of a run that go past the end of the row are dropped, as
// common readers do; a delta that leaves the image or pixels above its top
// row mean the file is damaged.
DWORD DecodeRle(const BmpLayout& L, const uint8_t* data, uint8_t* dst, size_t dstStride) {
    const bool rle4 = L.compression == BI_RLE4;
    const size_t colours = L.palette.size();
    const uint32_t background = colours > 0 ? L.palette[0] : 0;
    for (LONG y = 0; y < L.height; ++y) std::fill_n(PictureRow(dst, dstStride, y), L.width, background);

    const uint8_t* p = data + L.dataOffset;
    const uint8_t* const end = p + L.dataSize;
    int64_t x = 0, y = 0;  // y counts rows from the bottom; x never passes the width
    // Writes the first of count pixels whose indices come from index(i), as
    // many as the row has room for.
    auto put = [&](unsigned count, auto index) -> bool {
        if (y >= L.height) return false;
        uint32_t* row = PictureRow(dst, dstStride, static_cast<LONG>(L.height - 1 - y));
        const unsigned kept = static_cast<unsigned>(std::min<int64_t>(count, L.width - x));
        for (unsigned i = 0; i < kept; ++i) {
            unsigned c = index(i);
            if (c >= colours) return false;
            row[x++] = L.palette[c];
        }
        return true;
    };
    while (end - p >= 2) {
        const unsigned first = p[0], second = p[1];
        p += 2;
        if (first > 0) {
            bool ok = rle4 ? put(first, [&](unsigned i) { return (i & 1) ? (second & 15u) : (second >> 4); })
                           : put(first, [&](unsigned) { return second; });
            if (!ok) return ERROR_BAD_FORMAT;
            continue;
        }
        switch (second) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return 0;
            case 2:  // delta
                if (end - p < 2) return ERROR_BAD_FORMAT;
                x += p[0];
                y += p[1];
                p += 2;
                if (x > L.width || y > L.height) return ERROR_BAD_FORMAT;
                break;
            default: {  // absolute run of `second` pixels, padded to a 16-bit boundary
                const size_t bytes = rle4 ? (second + 1) / 2 : second;
                const size_t padded = (bytes + 1) & ~size_t{1};
                if (static_cast<size_t>(end - p) < bytes) return ERROR_BAD_FORMAT;
                const uint8_t* run = p;
                bool ok = rle4 ? put(second, [&](unsigned i) { return (i & 1) ? (run[i / 2] & 15u) : (run[i / 2] >> 4); })
                               : put(second, [&](unsigned i) { return run[i]; });
                if (!ok) return ERROR_BAD_FORMAT;
                p += std::min(padded, static_cast<size_t>(end - p));
                break;
            }
        }
    }
    return ERROR_BAD_FORMAT;  // the data ended without an end-of-bitmap code
}

}  // namespace

DWORD ParseBmp(const uint8_t* data, size_t size, BmpLayout& out) {
    if (data == nullptr || size < kFileHeaderSize + 4) return ERROR_BAD_FORMAT;
    if (data[0] != 'B' || data[1] != 'M') return ERROR_BAD_FORMAT;
    // A declared size beyond the file means it was cut short.
    if (U32(data + 2) > size) return ERROR_BAD_FORMAT;
    const uint32_t offBits = U32(data + 10);
    const uint32_t headerSize = U32(data + kFileHeaderSize);
    HeaderKind kind;
    if (!KindOfHeader(headerSize, kind) || headerSize > size - kFileHeaderSize) return ERROR_BAD_FORMAT;
    const uint8_t* h = data + kFileHeaderSize;

    LONG width, height;
    unsigned planes, bpp;
    DWORD compression = BI_RGB, sizeImage = 0, clrUsed = 0;
    LONG xRes = 0, yRes = 0;
    if (kind == HeaderKind::Core) {
        width = U16(h + 4);
        height = U16(h + 6);
        planes = U16(h + 8);
        bpp = U16(h + 10);
    } else {
        width = I32(h + 4);
        height = I32(h + 8);
        planes = U16(h + 12);
        bpp = U16(h + 14);
        if (headerSize >= 20) compression = U32(h + 16);
        if (headerSize >= 24) sizeImage = U32(h + 20);
        if (headerSize >= 28) xRes = I32(h + 24);
        if (headerSize >= 32) yRes = I32(h + 28);
        if (headerSize >= 36) clrUsed = U32(h + 32);
    }

    if (planes != 1 || width <= 0 || height == 0 || height == INT_MIN) return ERROR_BAD_FORMAT;
    if (xRes > kMaxPelsPerMeter || yRes > kMaxPelsPerMeter) return ERROR_BAD_FORMAT;
    // OS/2 reuses 3 and 4 for Huffman 1D and RLE24.
    if (kind == HeaderKind::Os2 && (compression == 3 || compression == 4)) return ERROR_NOT_SUPPORTED;
    if (compression == BI_JPEG || compression == BI_PNG) return ERROR_NOT_SUPPORTED;
    if (compression > BI_ALPHABITFIELDS) return ERROR_BAD_FORMAT;
    if (bpp == 64) return ERROR_NOT_SUPPORTED;
    if (!KnownBitCount(bpp)) return ERROR_BAD_FORMAT;
    const bool rle = compression == BI_RLE4 || compression == BI_RLE8;
    const bool bitfields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    if ((compression == BI_RLE8 && bpp != 8) || (compression == BI_RLE4 && bpp != 4)) return ERROR_BAD_FORMAT;
    if (bitfields && bpp != 16 && bpp != 32) return ERROR_BAD_FORMAT;
    if (rle && height < 0) return ERROR_BAD_FORMAT;  // RLE images are bottom-up only

    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (static_cast<uint64_t>(width) * rows > kMaxDecodedPixels) return ERROR_NOT_ENOUGH_MEMORY;

    BmpLayout L;
    L.width = width;
    L.height = static_cast<LONG>(rows);
    L.topDown = height < 0;
    L.bpp = static_cast<WORD>(bpp);
    L.compression = compression;

    uint64_t pos = kFileHeaderSize + headerSize;
    if (bitfields) {
        const uint8_t* m;
        if (headerSize >= 52) {
            m = h + 40;
        } else {
            const uint64_t maskBytes = compression == BI_ALPHABITFIELDS ? 16 : 12;
            if (pos + maskBytes > size) return ERROR_BAD_FORMAT;
            m = data + pos;
            pos += maskBytes;
        }
        for (int i = 0; i < 3; ++i) L.masks[i] = U32(m + 4 * i);
        if (!ValidMasks(L.masks, bpp)) return ERROR_BAD_FORMAT;
    } else if (bpp == 16) {
        L.masks[0] = 0x7C00, L.masks[1] = 0x03E0, L.masks[2] = 0x001F;
    } else if (bpp >= 24) {
        L.masks[0] = 0xFF0000, L.masks[1] = 0xFF00, L.masks[2] = 0xFF;
    }
    if (offBits < pos || offBits > size) return ERROR_BAD_FORMAT;

    if (bpp <= 8) {
        const uint64_t entrySize = kind == HeaderKind::Core ? 3 : 4;
        const uint64_t declared = clrUsed != 0 ? clrUsed : (uint64_t{1} << bpp);
        if (pos + declared * entrySize > size) return ERROR_BAD_FORMAT;
        // Old writers leave out unused entries; the pixel data's offset tells.
        const uint64_t count = std::min({declared, uint64_t{1} << bpp, (offBits - pos) / entrySize});
        L.palette.resize(static_cast<size_t>(count));
        for (size_t i = 0; i < L.palette.size(); ++i) {
            const uint8_t* e = data + pos + i * entrySize;
            L.palette[i] = e[0] | (e[1] << 8) | (static_cast<uint32_t>(e[2]) << 16);
        }
    }

    if (sizeImage > size) return ERROR_BAD_FORMAT;
    L.dataOffset = offBits;
    L.dataSize = size - offBits;
    if (rle) {
        if (sizeImage != 0 && sizeImage < L.dataSize) L.dataSize = sizeImage;
    } else {
        const uint64_t need = static_cast<uint64_t>(DibStride(static_cast<uint64_t>(width), bpp)) * rows;
        if (need > L.dataSize) return ERROR_BAD_FORMAT;
    }
    out = std::move(L);
    return 0;
}

DWORD DecodeBmpPixels(const BmpLayout& layout, const uint8_t* data, size_t size, uint8_t* dst, size_t dstStride) {
    if (layout.dataOffset + layout.dataSize > size) return ERROR_BAD_FORMAT;
    if (layout.compression == BI_RLE4 || layout.compression == BI_RLE8) return DecodeRle(layout, data, dst, dstStride);
    return DecodeUncompressed(layout, data, dst, dstStride);
}

}  // namespace platform::gdi
