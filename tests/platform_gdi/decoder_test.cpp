// Crafted BMP files: RLE codes, lying headers and the decoder's limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "bmp_test_files.h"
#include "gdi/objects.h"
#include "win/base.h"
#include "win/gdi.h"

namespace {

using namespace bmp_test;

// Pixels (0x00RRGGBB, top row first) of a loaded file, or the last error.
struct Result {
    DWORD error = 0;
    std::vector<uint32_t> pixels;
};

Result Load(const Bytes& file) {
    Result r;
    SetLastError(0xDEADBEEF);
    HBITMAP b = platform::gdi::LoadDIBitmapFromMemory(file.data(), file.size());
    if (!b) {
        r.error = GetLastError();
        return r;
    }
    DIBSECTION ds{};
    GetObjectW(b, sizeof ds, &ds);
    for (LONG y = 0; y < ds.dsBm.bmHeight; ++y) {
        LONG memoryRow = ds.dsBmih.biHeight < 0 ? y : ds.dsBm.bmHeight - 1 - y;
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(ds.dsBm.bmBits) +
                                                            memoryRow * ds.dsBm.bmWidthBytes);
        r.pixels.insert(r.pixels.end(), row, row + ds.dsBm.bmWidth);
    }
    DeleteObject(b);
    return r;
}

const std::vector<uint32_t> kPalette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};

TEST(BmpDecoder, Rle) {
    struct Case {
        const char* what;
        int w, h;
        uint16_t bpp;
        Bytes data;
        DWORD error;
        std::vector<uint32_t> pixels;  // top row first
    };
    const uint32_t K = 0x000000, R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF, Y = 0x808080;
    const Case cases[] = {
        {"rle4 run, end of line, absolute, end of bitmap", 4, 2, 4,
         {4, 0x12, 0, 0, 0, 3, 0x31, 0x20, 0, 1}, 0, {B, R, G, K, R, G, R, G}},
        {"rle8 delta leaves entry 0 behind", 4, 3, 8,
         {0, 2, 1, 1, 2, 5, 0, 1}, 0, {K, K, K, K, K, Y, Y, K, K, K, K, K}},
        {"rle8 absolute run with padding", 3, 1, 8, {0, 3, 1, 2, 3, 0, 0, 1}, 0, {R, G, B}},
        // Pixels past the end of the row are dropped; decoding goes on with the next code.
        {"rle8 runs past the end of the row", 3, 2, 8, {5, 1, 2, 2, 0, 0, 1, 3, 0, 1}, 0, {B, K, K, R, R, R}},
        {"rle8 absolute run past the end of the row", 2, 2, 8, {0, 3, 1, 2, 3, 0, 0, 0, 2, 4, 0, 1}, 0,
         {W, W, R, G}},
        {"rle4 run past the end of the row", 3, 2, 4, {5, 0x12, 0, 0, 3, 0x34, 0, 1}, 0, {B, W, B, R, G, R}},
        {"rle4 absolute run past the end of the row", 3, 2, 4, {0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 3, 0x34, 0, 1}, 0,
         {B, W, B, R, G, B}},
        {"a delta after a run past the end of the row", 4, 1, 8, {6, 1, 0, 2, 0, 0, 0, 1}, 0, {R, R, R, R}},
        // A delta that leaves the image, or pixels above its top row: the file is damaged.
        {"delta past the right edge", 4, 2, 8, {0, 2, 5, 0, 0, 1}, ERROR_BAD_FORMAT, {}},
        {"delta past the top", 4, 2, 8, {0, 2, 0, 3, 0, 1}, ERROR_BAD_FORMAT, {}},
        {"pixels above the last row", 4, 1, 8, {0, 0, 1, 1, 0, 1}, ERROR_BAD_FORMAT, {}},
        {"index outside the palette", 2, 1, 8, {2, 9, 0, 1}, ERROR_BAD_FORMAT, {}},
        {"no end of bitmap", 2, 1, 8, {2, 1, 0, 0, 0, 0}, ERROR_BAD_FORMAT, {}},
        {"absolute run cut short", 4, 1, 8, {0, 4, 1, 1}, ERROR_BAD_FORMAT, {}},
        {"delta cut short", 4, 1, 8, {0, 2, 1}, ERROR_BAD_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = Load(Bmp(c.w, c.h, c.bpp, c.bpp == 4 ? BI_RLE4 : BI_RLE8, kPalette, c.data));
        EXPECT_EQ(c.error, r.error);
        EXPECT_EQ(c.pixels, r.pixels);
    }
    // A long stream of end-of-line codes ends with the data.
    Bytes eols;
    for (int i = 0; i < 100000; ++i) eols.insert(eols.end(), {0, 0});
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), Load(Bmp(4, 4, 8, BI_RLE8, kPalette, eols)).error);
}

TEST(BmpDecoder, UncompressedLayouts) {
    const uint32_t K = 0x000000, R = 0xFF0000, G = 0x00FF00, B = 0x0000FF;
    // 8 bpp top-down: file rows in picture order.
    Result r = Load(Bmp(2, -2, 8, BI_RGB, kPalette, {1, 2, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ((std::vector<uint32_t>{R, G, B, K}), r.pixels);
    // 16 bpp 5-6-5 bitfields, bottom-up.
    r = Load(Bmp(2, 1, 16, BI_BITFIELDS, {}, {0x00, 0xF8, 0x1F, 0x00}, {0xF800, 0x07E0, 0x001F}));
    EXPECT_EQ((std::vector<uint32_t>{R, B}), r.pixels);
    // 32 bpp with an unusual order of masks.
    r = Load(Bmp(1, 1, 32, BI_BITFIELDS, {}, {0x00, 0x00, 0x00, 0xFF}, {0xFF000000, 0x00FF0000, 0x0000FF00}));
    EXPECT_EQ((std::vector<uint32_t>{R}), r.pixels);
    // 2 bpp with its four colours.
    r = Load(Bmp(4, 1, 2, BI_RGB, kPalette, {0x1B, 0, 0, 0}));
    EXPECT_EQ((std::vector<uint32_t>{K, R, G, B}), r.pixels);
}

TEST(BmpDecoder, LyingHeadersAreRefused) {
    struct Case {
        const char* what;
        Bytes file;
        DWORD error;
    };
    Bytes truncated = Bmp(4, 4, 24, BI_RGB, {}, Bytes(48, 0));
    truncated.resize(truncated.size() - 1);
    Bytes offsetBeyond = Bmp(1, 1, 24, BI_RGB, {}, Bytes(4, 0));
    offsetBeyond[10] = 0xFF, offsetBeyond[11] = 0xFF;
    Bytes hugePalette = Bmp(1, 1, 8, BI_RGB, {0}, Bytes(4, 0));
    hugePalette[46] = 0xFF, hugePalette[47] = 0xFF, hugePalette[48] = 0xFF, hugePalette[49] = 0x0F;
    Bytes core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 12, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 24, 0};
    const Case cases[] = {
        {"empty", {}, ERROR_BAD_FORMAT},
        {"signature only", {'B', 'M'}, ERROR_BAD_FORMAT},
        {"not a bitmap", Bytes(100, 'x'), ERROR_BAD_FORMAT},
        {"data cut short", truncated, ERROR_BAD_FORMAT},
        {"pixel offset beyond the file", offsetBeyond, ERROR_BAD_FORMAT},
        {"palette larger than the file", hugePalette, ERROR_BAD_FORMAT},
        {"65535 x 65535 core header", core, ERROR_NOT_ENOUGH_MEMORY},
        {"2^30 x 2^30", Bmp(1 << 30, 1 << 30, 32, BI_RGB, {}, {}), ERROR_NOT_ENOUGH_MEMORY},
        {"widest row", Bmp(INT32_MAX, 1, 32, BI_RGB, {}, {}), ERROR_NOT_ENOUGH_MEMORY},
        {"most negative height", Bmp(1, INT32_MIN, 24, BI_RGB, {}, Bytes(4, 0)), ERROR_BAD_FORMAT},
        {"top-down RLE", Bmp(1, -1, 8, BI_RLE8, kPalette, {0, 1}), ERROR_BAD_FORMAT},
        {"RLE4 at 8 bpp", Bmp(1, 1, 8, BI_RLE4, kPalette, {0, 1}), ERROR_BAD_FORMAT},
        {"bitfields at 24 bpp", Bmp(1, 1, 24, BI_BITFIELDS, {}, Bytes(4, 0), {0xFF, 0xFF00, 0xFF0000}),
         ERROR_BAD_FORMAT},
        {"masks with gaps", Bmp(1, 1, 16, BI_BITFIELDS, {}, Bytes(4, 0), {0xF00F, 0x0F00, 0x00F0}), ERROR_BAD_FORMAT},
        {"overlapping masks", Bmp(1, 1, 16, BI_BITFIELDS, {}, Bytes(4, 0), {0xFF00, 0x0FF0, 0x000F}),
         ERROR_BAD_FORMAT},
        {"mask beyond 16 bits", Bmp(1, 1, 16, BI_BITFIELDS, {}, Bytes(4, 0), {0x10000, 0xFF00, 0xFF}),
         ERROR_BAD_FORMAT},
        {"JPEG inside", Bmp(1, 1, 0, BI_JPEG, {}, Bytes(4, 0)), ERROR_NOT_SUPPORTED},
        {"unknown compression", Bmp(1, 1, 8, 9, kPalette, Bytes(4, 0)), ERROR_BAD_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.error, Load(c.file).error);
    }
    EXPECT_EQ(nullptr, SHLoadDIBitmap(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, SHLoadDIBitmap(u"/nonexistent/dir/file.bmp"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    // Neither a directory nor a FIFO without a writer holds a bitmap, and neither hangs the load.
    const std::string fifo = std::string("/tmp/pressel-gdi-fifo-") + std::to_string(getpid());
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(nullptr, SHLoadDIBitmap(std::u16string(fifo.begin(), fifo.end()).c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), GetLastError());
    unlink(fifo.c_str());
    EXPECT_EQ(nullptr, SHLoadDIBitmap(u"/tmp"));
}

}  // namespace
