// The printable bitmap array: layouts, rotations, offsets, scaling, refusals,
// and bit-for-bit agreement with an independent converter on black-and-white
// images.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bitmap/PrintableBitmap.h"
#include "win/base.h"

namespace {

using Pixel = std::function<uint32_t(int x, int y)>;  // 0x00RRGGBB, y from the top
constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// A bottom-up 24-bit BMP file.
std::vector<uint8_t> Bmp24(int w, int h, const Pixel& pixel) {
    const uint32_t stride = (w * 3 + 3) & ~3u, size = 54 + stride * h;
    std::vector<uint8_t> f = {'B', 'M'};
    Put32(f, size), Put32(f, 0), Put32(f, 54);
    Put32(f, 40), Put32(f, w), Put32(f, h), Put16(f, 1), Put16(f, 24);
    for (int i = 0; i < 6; ++i) Put32(f, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            uint32_t c = pixel(x, y);
            f.push_back(c & 255), f.push_back((c >> 8) & 255), f.push_back((c >> 16) & 255);
        }
        f.resize(f.size() + stride - w * 3, 0);
    }
    return f;
}

class PrintableBitmap : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("pressel-bitmap-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        objectsBefore_ = GetGuiResources(nullptr, GR_GDIOBJECTS);
    }
    void TearDown() override {
        EXPECT_EQ(objectsBefore_, GetGuiResources(nullptr, GR_GDIOBJECTS)) << "graphics objects left behind";
        std::filesystem::remove_all(dir_);
    }

    std::string Write(int w, int h, const Pixel& pixel, const std::string& name = "image.bmp") {
        std::string path = (dir_ / name).string();
        std::vector<uint8_t> bytes = Bmp24(w, h, pixel);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }

    // Runs the conversion; the array as a vector, or empty with size -1.
    std::vector<uint8_t> Convert(const std::string& path, LONG heightDots, LONG widthDots, LONG lineDots, LONG layout,
                                 LONG rotation = 0, LONG offsetDots = 0) {
        LONG size = -2;
        BYTE* array = GetPrintableBitmap(heightDots, widthDots, lineDots, Wide(path).c_str(), layout, rotation,
                                         offsetDots, &size);
        if (array == nullptr) {
            EXPECT_EQ(-1, size);
            return {};
        }
        EXPECT_EQ(PrintableBitmapSize(heightDots, lineDots, layout), size);
        std::vector<uint8_t> out(array, array + size);
        FreePrintableBitmap(array);
        return out;
    }

    std::filesystem::path dir_;
    DWORD objectsBefore_ = 0;
};

// Dot (x, y) of a raster-row array.
bool RasterDot(const std::vector<uint8_t>& a, LONG lineDots, int x, int y) {
    return a[static_cast<size_t>(y) * RasterRowBytes(lineDots) + x / 8] & (0x80 >> (x % 8));
}
// Dot (x, y) of a band array.
bool BandDot(const std::vector<uint8_t>& a, LONG lineDots, int x, int y) {
    return a[static_cast<size_t>(y / 8) * lineDots + x] & (0x80 >> (y % 8));
}

TEST_F(PrintableBitmap, SizesAndRowLengths) {
    struct Case {
        LONG height, line, layout, size;
    };
    const Case cases[] = {
        {10, 200, 2, 10 * 25}, {10, 576, 2, 10 * 72}, {48, 384, 2, 2304}, {48, 384, 1, 3072},
        {24, 384, 1, 1536},    {33, 8, 8, 64 * 8 / 8}, {1, 36, 2, 4},     {5, 7, 2, -1},
        {0, 384, 1, -1},       {10, 0, 2, -1},         {-1, 8, 2, -1},    {INT32_MAX, 1 << 20, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.height << " x " << c.line << " layout " << c.layout);
        EXPECT_EQ(c.size, PrintableBitmapSize(c.height, c.line, c.layout));
    }
}

TEST_F(PrintableBitmap, SolidImagesFillExactlyTheImageArea) {
    const std::string black = Write(3, 5, [](int, int) { return kBlack; }, "black.bmp");
    const std::string white = Write(3, 5, [](int, int) { return kWhite; }, "white.bmp");
    // Raster rows: 200 dots are 25-byte rows; all black over the whole line.
    std::vector<uint8_t> a = Convert(black, 7, 200, 200, 2);
    ASSERT_EQ(7u * 25, a.size());
    for (uint8_t b : a) EXPECT_EQ(0xFF, b);
    // Bands: heightDots 24 on 384 dots: 4 bands, the fourth (rows 24 to 31) empty.
    a = Convert(black, 24, 384, 384, 1);
    ASSERT_EQ(1536u, a.size());
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(i < 3 * 384 ? 0xFF : 0x00, a[i]) << "byte " << i;
    // White gives only 0 bits in both layouts.
    for (LONG layout : {1, 2}) {
        a = Convert(white, 20, 64, 64, layout);
        ASSERT_FALSE(a.empty());
        for (uint8_t b : a) EXPECT_EQ(0, b);
    }
}

TEST_F(PrintableBitmap, OffsetPlacesAndCutsTheImage) {
    const std::string black = Write(4, 4, [](int, int) { return kBlack; });
    // 20 dots at offset 4 on a 32-dot line: dots 4 to 23.
    std::vector<uint8_t> a = Convert(black, 2, 20, 32, 2, 0, 4);
    ASSERT_EQ(8u, a.size());
    EXPECT_EQ((std::vector<uint8_t>{0x0F, 0xFF, 0xFF, 0x00, 0x0F, 0xFF, 0xFF, 0x00}), a);
    // Offset 24 with 16 dots: cut at the end of the line, size unchanged.
    a = Convert(black, 1, 16, 32, 2, 0, 24);
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0xFF}), a);
    // A 1 x 1 black image as 8 x 8 dots at offset 5 in bands: columns 5 to 12 of band 0.
    const std::string dot = Write(1, 1, [](int, int) { return kBlack; }, "dot.bmp");
    a = Convert(dot, 8, 8, 32, 1, 0, 5);
    ASSERT_EQ(4u * 32, a.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(i >= 5 && i < 13 ? 0xFF : 0x00, a[i]) << "byte " << i;
}

TEST_F(PrintableBitmap, RotationsTurnThePicture) {
    // A 10 x 20 image, black only at its top-right pixel and at (2, 5).
    const std::string path = Write(10, 20, [](int x, int y) {
        return (x == 9 && y == 0) || (x == 2 && y == 5) ? kBlack : kWhite;
    });
    struct Case {
        LONG rotation, width, height;  // printed at the turned image's own size
        int ax, ay, bx, by;            // where the two black pixels land
    };
    const Case cases[] = {
        {0, 10, 20, 9, 0, 2, 5},
        {90, 20, 10, 0, 0, 5, 7},   // counter-clockwise: top-right becomes top-left
        {180, 10, 20, 0, 19, 7, 14},
        {270, 20, 10, 19, 9, 14, 2},  // clockwise: top-right becomes bottom-right
    };
    for (const Case& c : cases) {
        for (LONG layout : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "rotation " << c.rotation << " layout " << layout);
            std::vector<uint8_t> a = Convert(path, c.height, c.width, 32, layout, c.rotation);
            ASSERT_FALSE(a.empty());
            int count = 0;
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < 32; ++x) {
                    bool dot = layout == 2 ? RasterDot(a, 32, x, y) : BandDot(a, 32, x, y);
                    bool expected = (x == c.ax && y == c.ay) || (x == c.bx && y == c.by);
                    EXPECT_EQ(expected, dot) << "dot " << x << "," << y;
                    count += dot;
                }
            }
            EXPECT_EQ(2, count);
        }
    }
}

TEST_F(PrintableBitmap, GreysAreDarkBelowHalfLuminance) {
    // Columns of grey 126, 127, 128, 129, then pure red, green, blue, yellow.
    const uint32_t colours[] = {0x7E7E7E, 0x7F7F7F, 0x808080, 0x818181, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
    const std::string path = Write(8, 1, [&](int x, int) { return colours[x]; });
    std::vector<uint8_t> a = Convert(path, 1, 8, 8, 2);
    ASSERT_EQ(1u, a.size());
    EXPECT_EQ(0b11001010, a[0]);
}

TEST_F(PrintableBitmap, RefusesWithoutLeaving) {
    const std::string path = Write(2, 2, [](int, int) { return kBlack; });
    struct Case {
        LONG height, width, line, layout, rotation;
    };
    const Case refused[] = {
        {0, 8, 8, 2, 0}, {8, 0, 8, 2, 0}, {8, 8, 0, 1, 0}, {-8, 8, 8, 1, 0}, {8, -1, 8, 1, 0},
        {8, 8, 8, 2, 45}, {8, 8, 8, 1, -90}, {8, 8, 4, 2, 0}, {1 << 20, 8, 1 << 20, 1, 0},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(testing::Message() << c.height << "," << c.width << "," << c.line << " rot " << c.rotation);
        EXPECT_TRUE(Convert(path, c.height, c.width, c.line, c.layout, c.rotation).empty());
    }
    SetLastError(0);
    EXPECT_TRUE(Convert((dir_ / "missing.bmp").string(), 8, 8, 8, 2).empty());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    std::ofstream(dir_ / "text.bmp") << "not a bitmap at all";
    EXPECT_TRUE(Convert((dir_ / "text.bmp").string(), 8, 8, 8, 2).empty());
}

// ImageMagick's threshold and sample (the same nearest-neighbour rule) as a
// PBM: rows of ceil(w / 8) bytes, 1 = black.
bool ReferencePbm(const std::string& path, int w, int h, std::vector<uint8_t>& rows) {
    const char* convert = "/usr/bin/convert-im6.q16";
    std::string command = std::string(convert) + " '" + path + "' -threshold 50% -sample " + std::to_string(w) + "x" +
                          std::to_string(h) + "! pbm:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    std::vector<uint8_t> all;
    uint8_t buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) all.insert(all.end(), buffer, buffer + n);
    pclose(pipe);
    // Header "P4", width, height, one whitespace byte.
    size_t pos = 0;
    int fields = 0;
    while (pos < all.size() && fields < 3) {
        while (pos < all.size() && isspace(all[pos])) ++pos;
        while (pos < all.size() && !isspace(all[pos])) ++pos;
        ++fields;
    }
    ++pos;
    const size_t need = static_cast<size_t>((w + 7) / 8) * h;
    if (pos + need != all.size()) return false;
    rows.assign(all.begin() + static_cast<ptrdiff_t>(pos), all.end());
    return true;
}

TEST_F(PrintableBitmap, BlackAndWhiteMatchesAnIndependentConverter) {
    if (!std::filesystem::exists("/usr/bin/convert-im6.q16")) GTEST_SKIP() << "ImageMagick is not installed";
    // An irregular black-and-white picture: rings, a diagonal and noise.
    const std::string path = Write(37, 23, [](int x, int y) {
        bool ring = ((x - 18) * (x - 18) + (y - 11) * (y - 11)) / 30 % 2 == 0;
        bool noise = ((x * 7919 + y * 104729) % 13) == 0;
        return (ring != noise) || x == y ? kBlack : kWhite;
    });
    const int sizes[][2] = {{37, 23}, {80, 50}, {16, 9}, {200, 13}, {8, 64}, {24, 24}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        std::vector<uint8_t> reference;
        ASSERT_TRUE(ReferencePbm(path, w, h, reference));
        const LONG lineDots = (w + 7) / 8 * 8;
        std::vector<uint8_t> raster = Convert(path, h, w, lineDots, 2);
        ASSERT_EQ(reference.size(), raster.size());
        EXPECT_EQ(reference, raster);
        std::vector<uint8_t> bands = Convert(path, h, w, lineDots, 1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(RasterDot(raster, lineDots, x, y), BandDot(bands, lineDots, x, y)) << x << "," << y;
    }
}

}  // namespace
