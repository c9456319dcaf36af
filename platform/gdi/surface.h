// Private to the platform layer: pixel memory of a bitmap and the row-wise
// operations on it (fills, block transfers with raster operations, nearest-
// neighbour stretching). Pure functions over plain structs, so that they can
// be tested without handles.
//
// Colour reduction rule. A colour becomes the entry of a paletted target that
// is nearest to it. For one-bit targets "nearest" is measured by luminance
// L = (77 R + 150 G + 29 B) >> 8 (0..255): the pixel takes the palette entry
// whose luminance is closer, the lower index on a tie. With the usual white and
// black entries a pixel is dark exactly when L < 128. For 2/4/8-bit targets it
// is the smallest squared RGB distance.
#pragma once

#include <cstdint>
#include <vector>

#include "win/gdi.h"

namespace platform::gdi {

struct Surface {
    BYTE* bits = nullptr;
    LONG width = 0;
    LONG height = 0;       // always positive
    LONG stride = 0;       // bytes per memory row, a multiple of 4
    bool topDown = false;  // memory row 0 is the top picture row
    WORD bpp = 0;          // 1, 2, 4, 8, 16, 24 or 32
    bool bitfields = false;
    DWORD masks[3] = {0, 0, 0};        // red, green, blue for 16 and 32 bpp
    std::vector<RGBQUAD> palette;      // for bpp <= 8

    BYTE* Row(LONG y) const { return bits + static_cast<ptrdiff_t>(topDown ? y : height - 1 - y) * stride; }
};

// Stride of a DIB row: 4 * ceil(width * bpp / 32); 0 when it would overflow.
size_t DibStride(uint64_t width, unsigned bpp);

// Red, green and blue masks are each one run of bits inside the pixel, and
// disjoint.
bool ValidMasks(const DWORD masks[3], unsigned bpp);

// Fills in the 16/32-bit default masks (5-5-5 and 8-8-8) when bitfields is false.
void SetDefaultMasks(Surface& s);

// A COLORREF (0x00BBGGRR) as the pixel value the surface stores.
uint32_t ColourToPixel(const Surface& s, COLORREF colour);
// The pixel value back as a COLORREF.
COLORREF PixelToColour(const Surface& s, uint32_t pixel);

uint32_t GetPixelValue(const Surface& s, LONG x, LONG y);
void SetPixelValue(const Surface& s, LONG x, LONG y, uint32_t value);

// Fills the rectangle (clipped to the surface) with one pixel value.
void FillPixels(const Surface& s, RECT rc, uint32_t value);

// Copies src's rectangle (sx, sy, sw, sh) onto dst's (dx, dy, dw, dh) with a
// raster operation, scaling by nearest neighbour (source pixel
// floor((i + 0.5) * sw / dw) for destination pixel i) and mirroring for
// negative extents. Destination pixels outside dst, or whose source pixel lies
// outside src, are left alone. src may be null for BLACKNESS, WHITENESS and
// DSTINVERT. False for an unknown raster operation.
bool Blit(const Surface& dst, LONG dx, LONG dy, LONG dw, LONG dh, const Surface* src, LONG sx, LONG sy, LONG sw,
          LONG sh, DWORD rop);

}  // namespace platform::gdi
