// Private to the platform layer: the BMP file decoder behind SHLoadDIBitmap.
//
// Accepts BITMAPCOREHEADER (12 bytes), the OS/2 2.x header (16 to 64 bytes,
// uncompressed and RLE only), BITMAPINFOHEADER and its V2 to V5 extensions;
// 1, 2, 4, 8, 16, 24 and 32 bits per pixel; BI_RGB, BI_RLE4, BI_RLE8,
// BI_BITFIELDS and BI_ALPHABITFIELDS. Files are distrusted: every size is
// computed in 64 bits and checked against the file, the pixel count is capped,
// RLE streams are walked with bounds checks and a bounded loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "win/types.h"

namespace platform::gdi {

// Largest image the decoder makes (64 MiB of 32-bit pixels): far beyond any
// bitmap a line printer prints, small enough that a lying header cannot
// exhaust memory.
constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 24;

struct BmpLayout {
    LONG width = 0;
    LONG height = 0;  // positive
    bool topDown = false;
    WORD bpp = 0;
    DWORD compression = 0;
    DWORD masks[3] = {0, 0, 0};   // red, green, blue (16 and 32 bpp)
    std::vector<uint32_t> palette;  // 0x00RRGGBB per entry (bpp <= 8)
    size_t dataOffset = 0;
    size_t dataSize = 0;  // bytes of pixel data available from dataOffset
};

// Reads and checks the headers. Returns 0 or a Win32 error:
// ERROR_BAD_FORMAT for malformed files, ERROR_NOT_SUPPORTED for valid
// variants this layer does not decode (JPEG, PNG, Huffman, RLE24, 64 bpp),
// ERROR_NOT_ENOUGH_MEMORY for images above kMaxDecodedPixels.
DWORD ParseBmp(const uint8_t* data, size_t size, BmpLayout& out);

// Decodes the pixels into 32-bit 0x00RRGGBB values, top row first, dstStride
// bytes apart. Pixels an RLE stream skips take palette entry 0; pixels of an
// RLE run past the end of its row are dropped. Returns 0 or ERROR_BAD_FORMAT
// (indices outside the palette, RLE deltas leaving the image, RLE pixels above
// its top row, RLE data ending before its end-of-bitmap code).
DWORD DecodeBmpPixels(const BmpLayout& layout, const uint8_t* data, size_t size, uint8_t* dst, size_t dstStride);

}  // namespace platform::gdi
