// Graphics objects and block transfers through the exported calls.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "win/base.h"
#include "win/gdi.h"

namespace {

struct Info {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

// A DIB section with the given colours; bits through *bits.
HBITMAP MakeDib(LONG w, LONG h, WORD bpp, std::vector<RGBQUAD> colours, BYTE** bits) {
    Info info{};
    info.header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, h, 1, bpp, BI_RGB, 0, 0, 0,
                                   static_cast<DWORD>(colours.size()), 0};
    std::copy(colours.begin(), colours.end(), info.colours);
    void* p = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &p, nullptr, 0);
    *bits = static_cast<BYTE*>(p);
    return b;
}

const std::vector<RGBQUAD> kWhiteBlack = {{255, 255, 255, 0}, {0, 0, 0, 0}};
const std::vector<RGBQUAD> kBlackWhite = {{0, 0, 0, 0}, {255, 255, 255, 0}};

// A memory DC holding a bitmap for the test's lifetime.
struct Dc {
    explicit Dc(HBITMAP b) : bitmap(b), dc(CreateCompatibleDC(nullptr)) { old = SelectObject(dc, bitmap); }
    ~Dc() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    HBITMAP bitmap;
    HDC dc;
    HGDIOBJ old;
};

class Gdi : public ::testing::Test {
protected:
    void SetUp() override { before_ = GetGuiResources(nullptr, GR_GDIOBJECTS); }
    void TearDown() override { EXPECT_EQ(before_, GetGuiResources(nullptr, GR_GDIOBJECTS)); }
    DWORD before_ = 0;
};

TEST_F(Gdi, DibSectionsDescribeThemselves) {
    struct Case {
        LONG w, h;
        WORD bpp;
        LONG stride;
    };
    const Case cases[] = {{1, 1, 1, 4}, {33, -2, 1, 8}, {7, 3, 4, 4}, {5, 2, 8, 8}, {3, 2, 24, 12}, {3, 2, 32, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bpp);
        BYTE* bits = nullptr;
        HBITMAP b = MakeDib(c.w, c.h, c.bpp, kWhiteBlack, &bits);
        ASSERT_NE(nullptr, b);
        ASSERT_NE(nullptr, bits);
        for (LONG i = 0; i < c.stride * std::abs(c.h); ++i) ASSERT_EQ(0, bits[i]) << "new pixels are zero";
        EXPECT_EQ(static_cast<int>(sizeof(BITMAP)), GetObjectW(b, 0, nullptr));
        BITMAP bm{};
        EXPECT_EQ(static_cast<int>(sizeof bm), GetObjectW(b, sizeof bm, &bm));
        EXPECT_EQ(c.w, bm.bmWidth);
        EXPECT_EQ(std::abs(c.h), bm.bmHeight);
        EXPECT_EQ(c.stride, bm.bmWidthBytes);
        EXPECT_EQ(c.bpp, bm.bmBitsPixel);
        EXPECT_EQ(bits, bm.bmBits);
        DIBSECTION ds{};
        EXPECT_EQ(static_cast<int>(sizeof ds), GetObjectW(b, sizeof ds, &ds));
        EXPECT_EQ(c.h, ds.dsBmih.biHeight);
        EXPECT_EQ(static_cast<DWORD>(c.stride * std::abs(c.h)), ds.dsBmih.biSizeImage);
        EXPECT_EQ(nullptr, ds.dshSection);
        EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(b));
        EXPECT_TRUE(DeleteObject(b));
    }
}

TEST_F(Gdi, DibSectionRefusals) {
    struct Case {
        LONG w, h;
        WORD bpp;
        UINT usage;
        DWORD error;
    };
    const Case cases[] = {
        {0, 1, 1, DIB_RGB_COLORS, ERROR_INVALID_PARAMETER},
        {1, 0, 1, DIB_RGB_COLORS, ERROR_INVALID_PARAMETER},
        {-4, 1, 1, DIB_RGB_COLORS, ERROR_INVALID_PARAMETER},
        {4, 4, 3, DIB_RGB_COLORS, ERROR_INVALID_PARAMETER},
        {4, 4, 1, DIB_PAL_COLORS, ERROR_NOT_SUPPORTED},
        {4, 4, 1, 7, ERROR_INVALID_PARAMETER},
        {1 << 20, 1 << 20, 32, DIB_RGB_COLORS, ERROR_NOT_ENOUGH_MEMORY},
        {INT32_MAX, INT32_MIN + 1, 32, DIB_RGB_COLORS, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bpp);
        Info info{};
        info.header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), c.w, c.h, 1, c.bpp, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = reinterpret_cast<void*>(0xAA);
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(nullptr, CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), c.usage, &bits, nullptr, 0));
        EXPECT_EQ(nullptr, bits);
        EXPECT_EQ(c.error, GetLastError());
    }
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, nullptr, nullptr, 0));
}

TEST_F(Gdi, SelectionRules) {
    HDC screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    EXPECT_EQ(32, GetDeviceCaps(screen, BITSPIXEL));
    EXPECT_EQ(static_cast<DWORD>(OBJ_DC), GetObjectType(screen));
    HDC a = CreateCompatibleDC(screen), b = CreateCompatibleDC(screen);
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(a));
    BYTE* bits;
    HBITMAP bitmap = MakeDib(8, 8, 1, kWhiteBlack, &bits);

    // A new memory DC holds a 1 x 1 monochrome bitmap.
    HGDIOBJ initial = SelectObject(a, bitmap);
    BITMAP bm{};
    ASSERT_EQ(static_cast<int>(sizeof bm), GetObjectW(initial, sizeof bm, &bm));
    EXPECT_EQ(1, bm.bmWidth);
    EXPECT_EQ(1, bm.bmHeight);
    EXPECT_EQ(1, bm.bmBitsPixel);

    // One DC at a time; a selected bitmap cannot be deleted.
    EXPECT_EQ(nullptr, SelectObject(b, bitmap));
    EXPECT_EQ(nullptr, SelectObject(screen, bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(bitmap, SelectObject(a, initial));
    EXPECT_EQ(initial, SelectObject(b, bitmap));
    EXPECT_EQ(bitmap, SelectObject(b, initial));

    // Stock objects survive DeleteObject; brushes swap in and out.
    HGDIOBJ black = GetStockObject(BLACK_BRUSH);
    EXPECT_EQ(static_cast<DWORD>(OBJ_BRUSH), GetObjectType(black));
    EXPECT_TRUE(DeleteObject(black));
    LOGBRUSH lb{};
    EXPECT_EQ(static_cast<int>(sizeof lb), GetObjectW(black, sizeof lb, &lb));
    EXPECT_EQ(RGB(0, 0, 0), lb.lbColor);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), SelectObject(a, black));
    EXPECT_EQ(nullptr, GetStockObject(99));

    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));  // gone
    EXPECT_TRUE(DeleteDC(a));
    EXPECT_TRUE(DeleteDC(b));
    EXPECT_FALSE(DeleteDC(b));
    EXPECT_EQ(0, ReleaseDC(nullptr, a));
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

TEST_F(Gdi, ColourToMonoTakesTheNearerPaletteColour) {
    // Luminance (77 R + 150 G + 29 B) / 256 below 128 is dark.
    struct Case {
        BYTE r, g, b;
        bool dark;
    };
    const Case cases[] = {
        {0, 0, 0, true},       {127, 127, 127, true}, {128, 128, 128, false}, {255, 255, 255, false},
        {255, 0, 0, true},     {0, 255, 0, false},    {0, 0, 255, true},      {255, 255, 0, false},
        {0, 170, 255, false},  {0, 169, 255, true},
    };
    BYTE* colourBits;
    Dc colour(MakeDib(static_cast<LONG>(std::size(cases)), 1, 24, {}, &colourBits));
    for (size_t i = 0; i < std::size(cases); ++i) SetPixel(colour.dc, static_cast<int>(i), 0, RGB(cases[i].r, cases[i].g, cases[i].b));
    for (const auto& palette : {kWhiteBlack, kBlackWhite}) {
        for (DWORD rop : {SRCCOPY, NOTSRCCOPY}) {
            BYTE* monoBits;
            Dc mono(MakeDib(16, 1, 1, palette, &monoBits));
            ASSERT_TRUE(BitBlt(mono.dc, 0, 0, static_cast<int>(std::size(cases)), 1, colour.dc, 0, 0, rop));
            for (size_t i = 0; i < std::size(cases); ++i) {
                SCOPED_TRACE(testing::Message() << "case " << i << " rop " << std::hex << rop);
                bool bit = monoBits[i / 8] & (0x80 >> (i % 8));
                bool blackBit = palette[1].rgbRed == 0;  // which index is black
                bool expected = (cases[i].dark == blackBit) != (rop == NOTSRCCOPY);
                EXPECT_EQ(expected, bit);
            }
        }
    }
}

TEST_F(Gdi, MonoToMonoGoesThroughThePalettes) {
    BYTE *srcBits, *dstBits;
    Dc src(MakeDib(16, 1, 1, kBlackWhite, &srcBits));
    Dc dst(MakeDib(16, 1, 1, kWhiteBlack, &dstBits));
    srcBits[0] = 0xF0, srcBits[1] = 0x0F;  // white then black, black then white
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 16, 1, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(0x0F, dstBits[0]);
    EXPECT_EQ(0xF0, dstBits[1]);
    // Same palettes: bits copy as they are, at an unaligned position too.
    Dc same(MakeDib(24, 1, 1, kBlackWhite, &dstBits));
    ASSERT_TRUE(BitBlt(same.dc, 3, 0, 16, 1, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(0x1E, dstBits[0]);
    EXPECT_EQ(0x01, dstBits[1]);
    EXPECT_EQ(0xE0, dstBits[2]);
}

TEST_F(Gdi, StretchIsNearestNeighbourAndClipped) {
    BYTE *srcBits, *dstBits;
    Dc src(MakeDib(4, 1, 1, kWhiteBlack, &srcBits));
    srcBits[0] = 0xA0;  // 1010
    struct Case {
        int dx, dw, sx, sw;
        BYTE prefill, expected;  // first byte of the 8-dot target before and after
    };
    const Case cases[] = {
        {0, 8, 0, 4, 0x00, 0xCC},   // doubled
        {0, 2, 0, 4, 0x00, 0x00},   // halved: source pixels 1 and 3
        {0, 3, 0, 4, 0x00, 0xC0},   // 4 -> 3: source pixels 0, 2, 3
        {4, -4, 0, 4, 0x00, 0x50},  // mirrored by the destination
        {0, 4, 4, -4, 0x00, 0x50},  // mirrored by the source
        {-2, 8, 0, 4, 0x00, 0x30},  // cut at the left edge
        {6, 8, 0, 4, 0x00, 0x03},   // cut at the right edge
        {0, 4, 2, 4, 0xFF, 0xBF},   // source pixels 4 and 5 do not exist: left alone
        {0, 8, -2, 4, 0xFF, 0xFC},  // nor do -2 and -1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dx << "," << c.dw << " <- " << c.sx << "," << c.sw);
        Dc dst(MakeDib(8, 1, 1, kWhiteBlack, &dstBits));
        dstBits[0] = c.prefill;
        ASSERT_TRUE(StretchBlt(dst.dc, c.dx, 0, c.dw, 1, src.dc, c.sx, 0, c.sw, 1, SRCCOPY));
        EXPECT_EQ(c.expected, dstBits[0]);
    }
}

TEST_F(Gdi, OverlappingCopyWithinOneBitmap) {
    BYTE* bits;
    Dc mono(MakeDib(8, 4, 1, kWhiteBlack, &bits));
    SetPixel(mono.dc, 0, 0, RGB(0, 0, 0));
    SetPixel(mono.dc, 1, 1, RGB(0, 0, 0));
    // Shift the picture down and right by one: the source rows must be read before they are written.
    ASSERT_TRUE(BitBlt(mono.dc, 1, 1, 7, 3, mono.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(mono.dc, 1, 1));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(mono.dc, 2, 2));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(mono.dc, 3, 3));
}

TEST_F(Gdi, FillsAndWholeRectangleOperations) {
    BYTE* bits;
    Dc mono(MakeDib(40, 2, 1, kWhiteBlack, &bits));
    RECT rc{3, 0, 37, 1};
    EXPECT_TRUE(FillRect(mono.dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))));
    const BYTE expected[] = {0x1F, 0xFF, 0xFF, 0xFF, 0xF8};
    EXPECT_EQ(0, std::memcmp(bits + 8, expected, 5)) << "row 0 is the last memory row of a bottom-up image";
    EXPECT_EQ(0, bits[0]);
    RECT all{-5, -5, 100, 100};
    EXPECT_TRUE(FillRect(mono.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, bits[i]);
    EXPECT_TRUE(FillRect(mono.dc, &all, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))));
    EXPECT_TRUE(BitBlt(mono.dc, 0, 0, 8, 1, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(0xFF, bits[8]);
    EXPECT_TRUE(BitBlt(mono.dc, 4, 0, 8, 1, nullptr, 0, 0, DSTINVERT));
    EXPECT_EQ(0xF0, bits[8]);
    EXPECT_EQ(0xF0, bits[9]);
    EXPECT_TRUE(BitBlt(mono.dc, 0, 0, 16, 1, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(0, bits[8]);
    SetLastError(0);
    EXPECT_FALSE(BitBlt(mono.dc, 0, 0, 8, 1, mono.dc, 0, 0, 0x00123456));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    HBRUSH grey = CreateSolidBrush(RGB(100, 100, 100));
    EXPECT_TRUE(FillRect(mono.dc, &rc, grey));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(mono.dc, 3, 0));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(mono.dc, 2, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(mono.dc, 40, 0));
    EXPECT_TRUE(DeleteObject(grey));
}

TEST_F(Gdi, ColourTargetsAndBitfields) {
    // 16-bit 5-6-5 target from a 24-bit source, and back.
    struct {
        BITMAPINFOHEADER header;
        DWORD masks[3];
    } info{{sizeof(BITMAPINFOHEADER), 2, 1, 1, 16, BI_BITFIELDS, 0, 0, 0, 0, 0}, {0xF800, 0x07E0, 0x001F}};
    void* p = nullptr;
    HBITMAP b16 = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &p, nullptr, 0);
    ASSERT_NE(nullptr, b16);
    DIBSECTION ds{};
    ASSERT_EQ(static_cast<int>(sizeof ds), GetObjectW(b16, sizeof ds, &ds));
    EXPECT_EQ(0xF800u, ds.dsBitfields[0]);
    Dc dst(b16);
    BYTE* bits24;
    Dc src(MakeDib(2, 1, 24, {}, &bits24));
    SetPixel(src.dc, 0, 0, RGB(255, 0, 0));
    SetPixel(src.dc, 1, 0, RGB(0, 0, 255));
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 2, 1, src.dc, 0, 0, SRCCOPY));
    const auto* px = static_cast<const uint16_t*>(p);
    EXPECT_EQ(0xF800, px[0]);
    EXPECT_EQ(0x001F, px[1]);
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(dst.dc, 0, 0));

    info.masks[1] = 0x0FE0;  // overlaps red
    EXPECT_EQ(nullptr, CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &p, nullptr, 0));
}

}  // namespace
