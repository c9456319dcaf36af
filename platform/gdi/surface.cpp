#include "gdi/surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace platform::gdi {
namespace {

struct Channel {
    unsigned shift = 0;
    uint64_t max = 0;  // mask >> shift; 0 when the channel has no bits
};

Channel ChannelOf(DWORD mask) {
    Channel c;
    if (mask == 0) return c;
    while (((mask >> c.shift) & 1u) == 0) ++c.shift;
    c.max = mask >> c.shift;
    return c;
}

BYTE ChannelToByte(const Channel& c, uint32_t pixel, DWORD mask) {
    if (c.max == 0) return 0;
    uint64_t v = (pixel & mask) >> c.shift;
    return static_cast<BYTE>((v * 255 + c.max / 2) / c.max);
}

uint32_t ByteToChannel(const Channel& c, BYTE value) {
    if (c.max == 0) return 0;
    return static_cast<uint32_t>(((value * c.max + 127) / 255) << c.shift);
}

int Luminance(BYTE r, BYTE g, BYTE b) { return (77 * r + 150 * g + 29 * b) >> 8; }

uint32_t PixelMask(unsigned bpp) { return bpp >= 32 ? 0xFFFFFFFFu : (1u << bpp) - 1; }

uint32_t ReadPixel(const BYTE* row, LONG x, unsigned bpp) {
    switch (bpp) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 2: return (row[x >> 2] >> (6 - 2 * (x & 3))) & 3u;
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15u;
        case 8: return row[x];
        case 16: return row[2 * x] | (row[2 * x + 1] << 8);
        case 24: return row[3 * x] | (row[3 * x + 1] << 8) | (static_cast<uint32_t>(row[3 * x + 2]) << 16);
        default: {
            uint32_t v;
            std::memcpy(&v, row + 4 * static_cast<ptrdiff_t>(x), 4);
            return v;
        }
    }
}

void WritePixel(BYTE* row, LONG x, unsigned bpp, uint32_t v) {
    switch (bpp) {
        case 1: {
            BYTE bit = static_cast<BYTE>(0x80 >> (x & 7));
            row[x >> 3] = static_cast<BYTE>((v & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
            break;
        }
        case 2: {
            int shift = 6 - 2 * (x & 3);
            row[x >> 2] = static_cast<BYTE>((row[x >> 2] & ~(3 << shift)) | ((v & 3) << shift));
            break;
        }
        case 4: {
            int shift = (x & 1) ? 0 : 4;
            row[x >> 1] = static_cast<BYTE>((row[x >> 1] & ~(15 << shift)) | ((v & 15) << shift));
            break;
        }
        case 8: row[x] = static_cast<BYTE>(v); break;
        case 16:
            row[2 * x] = static_cast<BYTE>(v);
            row[2 * x + 1] = static_cast<BYTE>(v >> 8);
            break;
        case 24:
            row[3 * x] = static_cast<BYTE>(v);
            row[3 * x + 1] = static_cast<BYTE>(v >> 8);
            row[3 * x + 2] = static_cast<BYTE>(v >> 16);
            break;
        default: std::memcpy(row + 4 * static_cast<ptrdiff_t>(x), &v, 4); break;
    }
}

// Raster operations in terms of source and destination pixel values.
enum class Rop { Copy, NotCopy, And, Paint, Invert, DstInvert, Black, White };

bool DecodeRop(DWORD rop, Rop& out) {
    switch (rop) {
        case SRCCOPY: out = Rop::Copy; return true;
        case NOTSRCCOPY: out = Rop::NotCopy; return true;
        case SRCAND: out = Rop::And; return true;
        case SRCPAINT: out = Rop::Paint; return true;
        case SRCINVERT: out = Rop::Invert; return true;
        case DSTINVERT: out = Rop::DstInvert; return true;
        case BLACKNESS: out = Rop::Black; return true;
        case WHITENESS: out = Rop::White; return true;
        default: return false;
    }
}

inline uint32_t Apply(Rop rop, uint32_t s, uint32_t d) {
    switch (rop) {
        case Rop::Copy: return s;
        case Rop::NotCopy: return ~s;
        case Rop::And: return s & d;
        case Rop::Paint: return s | d;
        case Rop::Invert: return s ^ d;
        default: return ~d;  // DstInvert; Black and White never reach here
    }
}

// One axis of a stretch: destination coordinates [first, first + count) take
// the source coordinates in map[].
struct AxisMap {
    LONG first = 0;
    std::vector<LONG> map;
};

// Destination start d and extent dn, source start s and extent sn, the two
// surface sizes. Keeps only positions inside both surfaces.
AxisMap MapAxis(LONG d, LONG dn, LONG s, LONG sn, LONG dstSize, LONG srcSize) {
    AxisMap axis;
    int64_t dStart = d, dLen = dn, sStart = s, sLen = sn;
    bool flip = false;
    if (dLen < 0) { dStart += dLen; dLen = -dLen; flip = !flip; }
    if (sLen < 0) { sStart += sLen; sLen = -sLen; flip = !flip; }
    if (dLen == 0 || sLen == 0) return axis;
    int64_t lo = std::max<int64_t>(0, -dStart);
    int64_t hi = std::min<int64_t>(dLen, static_cast<int64_t>(dstSize) - dStart);
    bool started = false;
    for (int64_t i = lo; i < hi; ++i) {
        int64_t j = ((2 * i + 1) * sLen) / (2 * dLen);
        if (flip) j = sLen - 1 - j;
        int64_t sx = sStart + j;
        if (sx < 0 || sx >= srcSize) {
            if (started) break;  // the map is monotonic: nothing valid follows
            continue;
        }
        if (!started) {
            axis.first = static_cast<LONG>(dStart + i);
            started = true;
        }
        axis.map.push_back(static_cast<LONG>(sx));
    }
    return axis;
}

// Converts source pixels [x0, x1] of one row into destination pixel values.
class RowConverter {
public:
    RowConverter(const Surface& src, const Surface& dst) : src_(src), dst_(dst) {
        if (src.bpp <= 8) {
            size_t n = size_t{1} << src.bpp;
            lut_.resize(n);
            for (size_t i = 0; i < n; ++i) {
                RGBQUAD q = i < src.palette.size() ? src.palette[i] : RGBQUAD{0, 0, 0, 0};
                lut_[i] = ColourToPixel(dst, RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
            }
            return;
        }
        for (int i = 0; i < 3; ++i) channels_[i] = ChannelOf(src.masks[i]);
        plainSrc_ = src.masks[0] == 0xFF0000 && src.masks[1] == 0xFF00 && src.masks[2] == 0xFF;
        if (dst.bpp == 1) {
            lumBits_.resize(256);
            for (int l = 0; l < 256; ++l) lumBits_[l] = ColourToPixel(dst, RGB(l, l, l));
        }
        sameRgb_ = plainSrc_ && (dst.bpp == 24 || (dst.bpp == 32 && dst.masks[0] == 0xFF0000 &&
                                                   dst.masks[1] == 0xFF00 && dst.masks[2] == 0xFF));
    }

    void Convert(LONG y, LONG x0, LONG x1, uint32_t* out) {
        const BYTE* row = src_.Row(y);
        const unsigned bpp = src_.bpp;
        if (bpp <= 8) {
            for (LONG x = x0; x <= x1; ++x) *out++ = lut_[ReadPixel(row, x, bpp)];
        } else if (dst_.bpp == 1 && plainSrc_ && bpp >= 24) {
            const size_t step = bpp / 8;
            const BYTE* p = row + static_cast<size_t>(x0) * step;
            for (LONG x = x0; x <= x1; ++x, p += step) *out++ = lumBits_[Luminance(p[2], p[1], p[0])];
        } else if (dst_.bpp == 1) {
            for (LONG x = x0; x <= x1; ++x) {
                uint32_t v = ReadPixel(row, x, bpp);
                *out++ = lumBits_[Luminance(ChannelToByte(channels_[0], v, src_.masks[0]),
                                            ChannelToByte(channels_[1], v, src_.masks[1]),
                                            ChannelToByte(channels_[2], v, src_.masks[2]))];
            }
        } else if (sameRgb_) {
            for (LONG x = x0; x <= x1; ++x) *out++ = ReadPixel(row, x, bpp) & 0xFFFFFFu;
        } else {
            for (LONG x = x0; x <= x1; ++x) {
                COLORREF c = PixelToColour(src_, ReadPixel(row, x, bpp));
                if (c != cachedColour_) {
                    cachedColour_ = c;
                    cachedPixel_ = ColourToPixel(dst_, c);
                }
                *out++ = cachedPixel_;
            }
        }
    }

private:
    const Surface& src_;
    const Surface& dst_;
    std::vector<uint32_t> lut_;
    std::vector<uint32_t> lumBits_;
    Channel channels_[3];
    bool plainSrc_ = false;
    bool sameRgb_ = false;
    COLORREF cachedColour_ = CLR_INVALID;
    uint32_t cachedPixel_ = 0;
};

// Writes values (one per destination pixel x0 .. x0 + n - 1) into a one-bit
// row, eight pixels at a time.
void WriteBitsRow(BYTE* row, LONG x0, size_t n, const uint32_t* values, Rop rop) {
    LONG x = x0;
    const LONG end = x0 + static_cast<LONG>(n);
    while (x < end) {
        LONG byteIndex = x >> 3;
        LONG byteEnd = std::min<LONG>((byteIndex + 1) * 8, end);
        unsigned s = 0, mask = 0;
        for (; x < byteEnd; ++x) {
            unsigned bit = 0x80u >> (x & 7);
            mask |= bit;
            if (*values++ & 1) s |= bit;
        }
        unsigned d = row[byteIndex];
        unsigned r = Apply(rop, s, d);
        row[byteIndex] = static_cast<BYTE>((d & ~mask) | (r & mask));
    }
}

void FillRows(const Surface& s, LONG x0, LONG x1, LONG y0, LONG y1, Rop rop, uint32_t value) {
    const uint32_t pm = PixelMask(s.bpp);
    for (LONG y = y0; y < y1; ++y) {
        BYTE* row = s.Row(y);
        for (LONG x = x0; x < x1; ++x) {
            uint32_t v = rop == Rop::DstInvert ? ~ReadPixel(row, x, s.bpp) : value;
            WritePixel(row, x, s.bpp, v & pm);
        }
    }
}

}  // namespace

size_t DibStride(uint64_t width, unsigned bpp) {
    if (width > (uint64_t{1} << 32)) return 0;
    uint64_t bits = width * bpp;
    uint64_t stride = ((bits + 31) / 32) * 4;
    if (stride > static_cast<uint64_t>(std::numeric_limits<LONG>::max())) return 0;
    return static_cast<size_t>(stride);
}

bool ValidMasks(const DWORD masks[3], unsigned bpp) {
    DWORD seen = 0;
    for (int i = 0; i < 3; ++i) {
        DWORD m = masks[i];
        if (m == 0 || (m & seen) != 0) return false;
        if (bpp == 16 && m > 0xFFFF) return false;
        DWORD v = m;
        while ((v & 1u) == 0) v >>= 1;
        if ((v & (v + 1)) != 0) return false;
        seen |= m;
    }
    return true;
}

void SetDefaultMasks(Surface& s) {
    if (s.bitfields) return;
    if (s.bpp == 16) {
        s.masks[0] = 0x7C00;
        s.masks[1] = 0x03E0;
        s.masks[2] = 0x001F;
    } else if (s.bpp == 24 || s.bpp == 32) {
        s.masks[0] = 0xFF0000;
        s.masks[1] = 0x00FF00;
        s.masks[2] = 0x0000FF;
    }
}

uint32_t ColourToPixel(const Surface& s, COLORREF colour) {
    BYTE r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    if (s.bpp == 24) return b | (g << 8) | (static_cast<uint32_t>(r) << 16);
    if (s.bpp > 8) {
        return ByteToChannel(ChannelOf(s.masks[0]), r) | ByteToChannel(ChannelOf(s.masks[1]), g) |
               ByteToChannel(ChannelOf(s.masks[2]), b);
    }
    const size_t n = std::min(s.palette.size(), size_t{1} << s.bpp);
    uint32_t best = 0;
    if (s.bpp == 1) {
        int l = Luminance(r, g, b), bestDist = 1 << 30;
        for (size_t i = 0; i < n; ++i) {
            const RGBQUAD& q = s.palette[i];
            int d = std::abs(l - Luminance(q.rgbRed, q.rgbGreen, q.rgbBlue));
            if (d < bestDist) {
                bestDist = d;
                best = static_cast<uint32_t>(i);
            }
        }
        return best;
    }
    int bestDist = 1 << 30;
    for (size_t i = 0; i < n; ++i) {
        const RGBQUAD& q = s.palette[i];
        int dr = r - q.rgbRed, dg = g - q.rgbGreen, db = b - q.rgbBlue;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = static_cast<uint32_t>(i);
        }
    }
    return best;
}

COLORREF PixelToColour(const Surface& s, uint32_t pixel) {
    if (s.bpp <= 8) {
        if (pixel >= s.palette.size()) return RGB(0, 0, 0);
        const RGBQUAD& q = s.palette[pixel];
        return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    if (s.bpp == 24) return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    return RGB(ChannelToByte(ChannelOf(s.masks[0]), pixel, s.masks[0]),
               ChannelToByte(ChannelOf(s.masks[1]), pixel, s.masks[1]),
               ChannelToByte(ChannelOf(s.masks[2]), pixel, s.masks[2]));
}

uint32_t GetPixelValue(const Surface& s, LONG x, LONG y) { return ReadPixel(s.Row(y), x, s.bpp); }

void SetPixelValue(const Surface& s, LONG x, LONG y, uint32_t value) {
    WritePixel(s.Row(y), x, s.bpp, value & PixelMask(s.bpp));
}

void FillPixels(const Surface& s, RECT rc, uint32_t value) {
    LONG x0 = std::max<LONG>(rc.left, 0), x1 = std::min<LONG>(rc.right, s.width);
    LONG y0 = std::max<LONG>(rc.top, 0), y1 = std::min<LONG>(rc.bottom, s.height);
    if (x0 >= x1 || y0 >= y1) return;
    if (s.bpp == 8) {
        for (LONG y = y0; y < y1; ++y) std::memset(s.Row(y) + x0, static_cast<BYTE>(value), x1 - x0);
        return;
    }
    if (s.bpp == 1) {
        // Whole bytes at once, the ragged ends pixel by pixel: clearing
        // one-bit images is the common case.
        LONG first = std::min((x0 + 7) & ~7, x1), last = std::max(x1 & ~7, first);
        for (LONG y = y0; y < y1; ++y) std::memset(s.Row(y) + first / 8, (value & 1) ? 0xFF : 0x00, (last - first) / 8);
        FillRows(s, x0, first, y0, y1, Rop::Copy, value);
        FillRows(s, last, x1, y0, y1, Rop::Copy, value);
        return;
    }
    FillRows(s, x0, x1, y0, y1, Rop::Copy, value);
}

bool Blit(const Surface& dst, LONG dx, LONG dy, LONG dw, LONG dh, const Surface* src, LONG sx, LONG sy, LONG sw,
          LONG sh, DWORD rop) {
    Rop op;
    if (!DecodeRop(rop, op)) return false;
    if (op == Rop::Black || op == Rop::White || op == Rop::DstInvert) {
        int64_t x0 = dx, y0 = dy, x1 = int64_t{dx} + dw, y1 = int64_t{dy} + dh;
        if (x1 < x0) std::swap(x0, x1);
        if (y1 < y0) std::swap(y0, y1);
        x0 = std::max<int64_t>(x0, 0);
        y0 = std::max<int64_t>(y0, 0);
        x1 = std::min<int64_t>(x1, dst.width);
        y1 = std::min<int64_t>(y1, dst.height);
        if (x0 >= x1 || y0 >= y1) return true;
        uint32_t value = op == Rop::Black ? ColourToPixel(dst, RGB(0, 0, 0))
                         : op == Rop::White ? ColourToPixel(dst, RGB(255, 255, 255))
                                            : 0;
        if (op == Rop::DstInvert) {
            FillRows(dst, static_cast<LONG>(x0), static_cast<LONG>(x1), static_cast<LONG>(y0),
                     static_cast<LONG>(y1), op, 0);
        } else {
            FillPixels(dst, RECT{static_cast<LONG>(x0), static_cast<LONG>(y0), static_cast<LONG>(x1),
                                 static_cast<LONG>(y1)},
                       value);
        }
        return true;
    }
    if (src == nullptr) return false;
    if (src->bits == dst.bits) {
        // Copying within one bitmap: read from a snapshot so that rows already
        // written are not read again as source.
        std::vector<BYTE> snapshot(src->bits, src->bits + static_cast<size_t>(src->stride) * src->height);
        Surface copy = *src;
        copy.bits = snapshot.data();
        return Blit(dst, dx, dy, dw, dh, &copy, sx, sy, sw, sh, rop);
    }

    AxisMap xs = MapAxis(dx, dw, sx, sw, dst.width, src->width);
    AxisMap ys = MapAxis(dy, dh, sy, sh, dst.height, src->height);
    if (xs.map.empty() || ys.map.empty()) return true;

    const auto [minIt, maxIt] = std::minmax_element(xs.map.begin(), xs.map.end());
    const LONG sx0 = *minIt, sx1 = *maxIt;
    RowConverter convert(*src, dst);
    std::vector<uint32_t> srcValues(static_cast<size_t>(sx1 - sx0) + 1);
    std::vector<uint32_t> rowValues(xs.map.size());
    const uint32_t pm = PixelMask(dst.bpp);
    LONG lastSy = -1;
    for (size_t iy = 0; iy < ys.map.size(); ++iy) {
        const LONG srcY = ys.map[iy];
        if (srcY != lastSy) {
            convert.Convert(srcY, sx0, sx1, srcValues.data());
            for (size_t i = 0; i < xs.map.size(); ++i) rowValues[i] = srcValues[xs.map[i] - sx0];
            lastSy = srcY;
        }
        BYTE* row = dst.Row(ys.first + static_cast<LONG>(iy));
        if (dst.bpp == 1) {
            WriteBitsRow(row, xs.first, rowValues.size(), rowValues.data(), op);
        } else {
            for (size_t i = 0; i < rowValues.size(); ++i) {
                LONG x = xs.first + static_cast<LONG>(i);
                uint32_t d = op == Rop::Copy ? 0 : ReadPixel(row, x, dst.bpp);
                WritePixel(row, x, dst.bpp, Apply(op, rowValues[i], d) & pm);
            }
        }
    }
    return true;
}

}  // namespace platform::gdi
