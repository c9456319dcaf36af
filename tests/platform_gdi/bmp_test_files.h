// BMP files for the decoder tests: written byte by byte, loaded through
// SHLoadDIBitmap, and decoded by an independent decoder (ImageMagick).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win/base.h"
#include "win/gdi.h"

namespace bmp_test {

using Bytes = std::vector<uint8_t>;

inline const char* const kConvert = "/usr/bin/convert-im6.q16";

inline void Put(Bytes& v, uint32_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A file with a 40-byte header, masks (if any), palette (0x00RRGGBB) and data.
inline Bytes Bmp(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, const std::vector<uint32_t>& palette,
                 const Bytes& data, const std::vector<uint32_t>& masks = {}) {
    const uint32_t off = 14 + 40 + 4 * static_cast<uint32_t>(masks.size() + palette.size());
    Bytes f = {'B', 'M'};
    Put(f, off + static_cast<uint32_t>(data.size()), 4), Put(f, 0, 4), Put(f, off, 4);
    Put(f, 40, 4), Put(f, static_cast<uint32_t>(w), 4), Put(f, static_cast<uint32_t>(h), 4), Put(f, 1, 2),
        Put(f, bpp, 2);
    Put(f, compression, 4), Put(f, static_cast<uint32_t>(data.size()), 4), Put(f, 2835, 4), Put(f, 2835, 4);
    Put(f, static_cast<uint32_t>(palette.size()), 4), Put(f, 0, 4);
    for (uint32_t m : masks) Put(f, m, 4);
    for (uint32_t c : palette) Put(f, c, 4);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

// Pixels as ImageMagick decodes them: RGB bytes, top row first.
inline bool ReferencePixels(const std::string& path, size_t expectedBytes, std::vector<uint8_t>& rgb) {
    std::string command = std::string(kConvert) + " '" + path + "' -depth 8 rgb:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    rgb.assign(expectedBytes + 1, 0);
    size_t n = fread(rgb.data(), 1, rgb.size(), pipe);
    pclose(pipe);
    rgb.resize(n);
    return n == expectedBytes;
}

struct Decoded {
    LONG width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
};

// A file loaded through SHLoadDIBitmap; false (and the last error) when refused.
inline bool LoadFile(const std::string& path, Decoded& out) {
    HBITMAP bitmap = SHLoadDIBitmap(std::u16string(path.begin(), path.end()).c_str());
    if (bitmap == nullptr) return false;
    DIBSECTION ds{};
    EXPECT_EQ(static_cast<int>(sizeof ds), GetObjectW(bitmap, sizeof ds, &ds));
    EXPECT_EQ(32, ds.dsBm.bmBitsPixel);
    out.width = ds.dsBm.bmWidth;
    out.height = ds.dsBm.bmHeight;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    const bool topDown = ds.dsBmih.biHeight < 0;
    for (LONG y = 0; y < out.height; ++y) {
        const auto* row = static_cast<const uint8_t*>(ds.dsBm.bmBits) +
                          static_cast<size_t>(topDown ? y : out.height - 1 - y) * ds.dsBm.bmWidthBytes;
        for (LONG x = 0; x < out.width; ++x)
            out.pixels[static_cast<size_t>(y) * out.width + x] =
                row[4 * x] | (row[4 * x + 1] << 8) | (static_cast<uint32_t>(row[4 * x + 2]) << 16);
    }
    EXPECT_TRUE(DeleteObject(bitmap));
    return true;
}

// Largest channel difference between d and ImageMagick's decode of path
// (1000 when ImageMagick does not decode it to as many pixels).
inline int MaxDifference(const std::string& path, const Decoded& d) {
    std::vector<uint8_t> rgb;
    if (!ReferencePixels(path, d.pixels.size() * 3, rgb)) return 1000;
    int worst = 0;
    for (size_t i = 0; i < d.pixels.size(); ++i) {
        const int ours[3] = {static_cast<int>(d.pixels[i] >> 16) & 255, static_cast<int>(d.pixels[i] >> 8) & 255,
                             static_cast<int>(d.pixels[i]) & 255};
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(ours[c] - rgb[3 * i + c]));
    }
    return worst;
}

}  // namespace bmp_test
