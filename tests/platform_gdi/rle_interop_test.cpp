// RLE files as common writers make them, whose rows are encoded up to their
// padded width, decoded pixel for pixel as ImageMagick decodes the same file.
// ImageMagick writes RLE8 only (it widens 16-colour images to 8 bits when
// asked for RLE), so RLE4 files, and RLE8 files with absolute runs, are
// encoded here the same way.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bmp_test_files.h"

namespace {

using namespace bmp_test;

class RleInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
        char tmpl[] = "/tmp/pressel-rle-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    std::string dir_;
};

// Encodes rows of palette indices (bottom row first) to their padded width,
// with runs of three or more equal pixels, absolute runs between them and
// single-pixel runs where a stretch is too short for an absolute run.
Bytes EncodeRle(const std::vector<std::vector<uint8_t>>& rows, unsigned bpp) {
    Bytes out;
    auto pixelByte = [bpp](uint8_t c) { return static_cast<uint8_t>(bpp == 4 ? c * 17 : c); };
    for (size_t y = 0; y < rows.size(); ++y) {
        std::vector<uint8_t> row = rows[y];
        const size_t perDword = 32 / bpp;
        row.resize((row.size() + perDword - 1) / perDword * perDword, 0);
        auto runAt = [&](size_t x) {
            size_t n = 1;
            while (x + n < row.size() && n < 255 && row[x + n] == row[x]) ++n;
            return n;
        };
        for (size_t x = 0; x < row.size();) {
            if (size_t n = runAt(x); n >= 3) {
                out.insert(out.end(), {static_cast<uint8_t>(n), pixelByte(row[x])});
                x += n;
                continue;
            }
            size_t end = x;
            while (end < row.size() && end - x < 254 && runAt(end) < 3) ++end;
            if (end - x < 3) {
                for (; x < end; ++x) out.insert(out.end(), {1, pixelByte(row[x])});
                continue;
            }
            out.insert(out.end(), {0, static_cast<uint8_t>(end - x)});
            const size_t start = out.size();
            for (size_t i = x; i < end; i += (bpp == 4 ? 2 : 1))
                out.push_back(bpp == 4 ? static_cast<uint8_t>(row[i] << 4 | (i + 1 < end ? row[i + 1] : 0)) : row[i]);
            if ((out.size() - start) % 2) out.push_back(0);
            x = end;
        }
        out.insert(out.end(), {0, static_cast<uint8_t>(y + 1 < rows.size() ? 0 : 1)});
    }
    return out;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Pixels of a row's padding: what a run to the padded width writes past its end.
int PaddingPixels(int width, unsigned bpp) { return static_cast<int>((width * bpp + 31) / 32 * 32 / bpp) - width; }

// ImageMagick's reader loses rows of files whose row padding is as wide as
// the row or wider (RLE8 rows of 1 or 2 pixels, RLE4 rows of up to 4): there
// the pixels are compared with its decode of the same image uncompressed.
TEST_F(RleInterop, Rle8FilesWrittenByImageMagick) {
    for (int width : {1, 2, 3, 5, 6, 37, 127}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const std::string rle = dir_ + "/rle" + std::to_string(width) + ".bmp";
        const std::string plain = dir_ + "/plain" + std::to_string(width) + ".bmp";
        const std::string size = std::to_string(width) + "x";
        const std::string image = std::string(kConvert) + " -size " + size + "6 gradient:red-blue \\( -size " + size +
                                  "3 pattern:gray50 \\) -append +dither -colors 16 ";
        ASSERT_EQ(0, std::system((image + "-compress RLE BMP3:" + rle).c_str()));
        ASSERT_EQ(0, std::system((image + "BMP3:" + plain).c_str()));
        std::ifstream in(rle, std::ios::binary);
        uint8_t header[34];
        ASSERT_TRUE(in.read(reinterpret_cast<char*>(header), sizeof header));
        ASSERT_EQ(8, header[28]);  // 8 bits per pixel
        ASSERT_EQ(BI_RLE8, header[30]);
        Decoded d;
        ASSERT_TRUE(LoadFile(rle, d)) << "last error " << GetLastError();
        EXPECT_EQ(width, d.width);
        EXPECT_EQ(9, d.height);
        EXPECT_EQ(0, MaxDifference(plain, d));
        if (PaddingPixels(width, 8) < width) {
            EXPECT_EQ(0, MaxDifference(rle, d));
        }
    }
}

TEST_F(RleInterop, PaddedRowsWithRunsAndAbsoluteRuns) {
    std::vector<uint32_t> palette;
    for (uint32_t i = 0; i < 16; ++i) palette.push_back((i * 0x10) << 16 | (255 - i * 0x10) << 8 | (i * 37 % 256));
    for (unsigned bpp : {4u, 8u}) {
        for (int width : {1, 3, 5, 7, 13, 37}) {
            SCOPED_TRACE("RLE" + std::to_string(bpp) + ", width " + std::to_string(width));
            // Each row: a stretch of one colour, a stretch of changing colours,
            // a stretch of another colour; the last row is one colour.
            std::vector<std::vector<uint8_t>> rows;
            for (int y = 0; y < 5; ++y) {
                std::vector<uint8_t> row;
                for (int x = 0; x < width; ++x)
                    row.push_back(static_cast<uint8_t>(y == 4 ? 9 : x < width / 3 ? 1 + y
                                                               : x < 2 * width / 3 ? (x * 7 + y) % 16
                                                                                   : 15 - y));
                rows.push_back(row);
            }
            const std::string path = dir_ + "/rle" + std::to_string(bpp) + "-" + std::to_string(width) + ".bmp";
            WriteFile(path, Bmp(width, 5, static_cast<uint16_t>(bpp), bpp == 4 ? BI_RLE4 : BI_RLE8, palette,
                                EncodeRle(rows, bpp)));
            Decoded d;
            ASSERT_TRUE(LoadFile(path, d)) << "last error " << GetLastError();
            ASSERT_EQ(width, d.width);
            ASSERT_EQ(5, d.height);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < width; ++x)
                    ASSERT_EQ(palette[rows[4 - y][x]], d.pixels[static_cast<size_t>(y) * width + x]) << x << "," << y;
            if (PaddingPixels(width, bpp) < width) {
                EXPECT_EQ(0, MaxDifference(path, d));
            }
        }
    }
}

}  // namespace
