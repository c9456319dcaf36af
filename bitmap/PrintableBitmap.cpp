#include "bitmap/PrintableBitmap.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "win/base.h"

namespace {

struct MonoInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
};
static_assert(sizeof(MonoInfo) == 48, "header block of a 1-bit image");

void SetWhiteBlack(MonoInfo& info) {
    info.colours[0] = RGBQUAD{255, 255, 255, 0};
    info.colours[1] = RGBQUAD{0, 0, 0, 0};
}

HBITMAP CreateDibOnScreen(const MonoInfo& info, BYTE** ppBits) {
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
                                      nullptr, 0);
    ReleaseDC(nullptr, screen);
    *ppBits = static_cast<BYTE*>(bits);
    return bitmap;
}

LONG MonoStride(LONG width) { return static_cast<LONG>(4 * ((static_cast<int64_t>(width) + 31) / 32)); }

// Everything one conversion makes, released in reverse order however it ends.
struct Resources {
    HDC screen = nullptr;
    HDC dcLoaded = nullptr, dcReduced = nullptr, dcTarget = nullptr;
    HGDIOBJ oldLoaded = nullptr, oldReduced = nullptr, oldTarget = nullptr;
    HBITMAP loaded = nullptr, reduced = nullptr, rotated = nullptr, target = nullptr, turned = nullptr;

    ~Resources() {
        if (dcTarget && oldTarget) SelectObject(dcTarget, oldTarget);
        if (dcReduced && oldReduced) SelectObject(dcReduced, oldReduced);
        if (dcLoaded && oldLoaded) SelectObject(dcLoaded, oldLoaded);
        for (HBITMAP b : {turned, target, rotated, reduced, loaded})
            if (b) DeleteObject(b);
        for (HDC dc : {dcTarget, dcReduced, dcLoaded})
            if (dc) DeleteDC(dc);
        if (screen) ReleaseDC(nullptr, screen);
    }

    // A memory DC compatible with the screen holding bitmap; false if either fails.
    bool Select(HDC& dc, HGDIOBJ& old, HBITMAP bitmap) {
        if (!dc) dc = CreateCompatibleDC(screen);
        if (!dc) return false;
        HGDIOBJ previous = SelectObject(dc, bitmap);
        if (!previous) return false;
        if (!old) old = previous;
        return true;
    }
};

// Writes a white 32 x 1 image (a brush fill or a copied colour pixel) into a
// fresh 1-bit image and tells whether its first byte came out other than 0xFF.
BOOL ProbeWhite(bool byBlit) {
    BYTE* monoBits = nullptr;
    HBITMAP mono = CreateMonoDib(32, 1, &monoBits);
    if (!mono) return TRUE;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, mono);
    if (!byBlit) {
        RECT rc{0, 0, 32, 1};
        FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    } else {
        BITMAPINFO info{};
        info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 32, 1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* colourBits = nullptr;
        HBITMAP colour = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &colourBits, nullptr, 0);
        if (colour) {
            std::memset(colourBits, 0xFF, 32 * 4);
            HDC dcColour = CreateCompatibleDC(screen);
            HGDIOBJ oldColour = SelectObject(dcColour, colour);
            BitBlt(dc, 0, 0, 32, 1, dcColour, 0, 0, SRCCOPY);
            SelectObject(dcColour, oldColour);
            DeleteDC(dcColour);
            DeleteObject(colour);
        }
    }
    BOOL whiteIsZero = monoBits[0] != 0xFF;
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    DeleteObject(mono);
    return whiteIsZero;
}

}  // namespace

LONG RasterRowBytes(LONG lineDots) { return lineDots > 0 ? lineDots / 8 : 0; }

LONG PrintableBitmapSize(LONG heightDots, LONG lineDots, LONG layout) {
    if (heightDots <= 0 || lineDots <= 0) return -1;
    int64_t size;
    if (layout == kLayoutRasterRows) {
        size = static_cast<int64_t>(heightDots) * RasterRowBytes(lineDots);
    } else {
        size = 4 * ((static_cast<int64_t>(heightDots) + 31) / 32) * lineDots;
    }
    return size > 0 && size <= INT32_MAX ? static_cast<LONG>(size) : -1;
}

void FreePrintableBitmap(BYTE* pArray) { std::free(pArray); }

HBITMAP CreateMonoDib(LONG width, LONG height, BYTE** ppBits) {
    MonoInfo info{};
    info.header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 1, BI_RGB, 0, 0, 0, 2, 2};
    SetWhiteBlack(info);
    return CreateDibOnScreen(info, ppBits);
}

BOOL ProbeWhiteIsZero() { return ProbeWhite(false); }
BOOL ProbeBlitWhiteIsZero() { return ProbeWhite(true); }

HBITMAP RotateMonoDib(LONG rotation, HBITMAP hImage, const BYTE* pBits, BYTE** ppNewBits) {
    *ppNewBits = nullptr;
    if (rotation != 90 && rotation != 180 && rotation != 270) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DIBSECTION ds{};
    if (GetObjectW(hImage, sizeof ds, &ds) != sizeof ds || ds.dsBm.bmBitsPixel != 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (pBits == nullptr) pBits = static_cast<const BYTE*>(ds.dsBm.bmBits);
    MonoInfo info{};
    info.header = ds.dsBmih;
    SetWhiteBlack(info);
    const LONG W = ds.dsBm.bmWidth, H = ds.dsBm.bmHeight;
    const LONG srcStride = MonoStride(W);
    const bool quarter = rotation != 180;
    const LONG outWidth = quarter ? H : W, outRows = quarter ? W : H;
    const LONG dstStride = MonoStride(outWidth);
    info.header.biWidth = outWidth;
    info.header.biHeight = outRows;
    info.header.biSizeImage = static_cast<DWORD>(static_cast<int64_t>(dstStride) * outRows);

    BYTE* out = nullptr;
    HBITMAP rotated = CreateDibOnScreen(info, &out);
    if (!rotated) return nullptr;
    std::memset(out, 0, static_cast<size_t>(dstStride) * outRows);
    for (LONG y = 0; y < outRows; ++y) {
        BYTE* dstRow = out + static_cast<size_t>(y) * dstStride;
        for (LONG x = 0; x < outWidth; ++x) {
            LONG r, c;
            if (rotation == 90) {
                r = H - 1 - x, c = y;
            } else if (rotation == 180) {
                r = H - 1 - y, c = W - 1 - x;
            } else {
                r = x, c = W - 1 - y;
            }
            if (c < 0 || c >= W || r < 0 || r >= H) continue;
            if (pBits[static_cast<size_t>(r) * srcStride + c / 8] & (0x80 >> (c % 8)))
                dstRow[x / 8] = static_cast<BYTE>(dstRow[x / 8] | (0x80 >> (x % 8)));
        }
    }
    *ppNewBits = out;
    return rotated;
}

BYTE* PackRows(LONG lineDots, LONG rows, const BYTE* pBits) {
    const LONG rowBytes = RasterRowBytes(lineDots), stride = MonoStride(lineDots);
    const size_t size = static_cast<size_t>(rows) * static_cast<size_t>(rowBytes);
    auto* array = static_cast<BYTE*>(std::malloc(size == 0 ? 1 : size));
    if (!array) return nullptr;
    if (rowBytes == stride) {
        std::memcpy(array, pBits, size);
    } else {
        for (LONG y = 0; y < rows; ++y)
            std::memcpy(array + static_cast<size_t>(y) * rowBytes, pBits + static_cast<size_t>(y) * stride,
                        static_cast<size_t>(rowBytes));
    }
    return array;
}

BYTE* PackBands(LONG lineDots, LONG heightDots, const BYTE* pBits) {
    const size_t s = static_cast<size_t>(MonoStride(heightDots));
    const size_t columns = static_cast<size_t>(lineDots);
    auto* array = static_cast<BYTE*>(std::malloc(s * columns));
    if (!array) return nullptr;
    for (size_t b = 0; b < s; ++b)
        for (size_t j = 0; j < columns; ++j) array[b * columns + j] = pBits[j * s + b];
    return array;
}

BYTE* GetPrintableBitmap(LONG heightDots, LONG widthDots, LONG lineDots, LPCWSTR fileName, LONG layout,
                         LONG rotation, LONG offsetDots, LONG* pcbArray) {
    if (pcbArray) *pcbArray = -1;
    const LONG size = PrintableBitmapSize(heightDots, lineDots, layout);
    if (size < 0 || widthDots <= 0 || (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }

    Resources r;
    // 1-3: the file, its size, the screen and a DC holding the image.
    r.loaded = SHLoadDIBitmap(fileName);
    if (!r.loaded) return nullptr;
    BITMAP bm{};
    if (GetObjectW(r.loaded, sizeof bm, &bm) == 0) return nullptr;
    LONG w = bm.bmWidth, h = bm.bmHeight;
    r.screen = GetDC(nullptr);
    if (!r.Select(r.dcLoaded, r.oldLoaded, r.loaded)) return nullptr;

    // 4-5: reduce to one bit so that dark pixels are 1 bits. Where the
    // platform's colour-to-mono copy puts white on the other bit value than
    // its white brush does, the copy is inverted.
    const BOOL whiteIsZero = ProbeWhiteIsZero();
    const DWORD reduceRop = ProbeBlitWhiteIsZero() != whiteIsZero ? NOTSRCCOPY : SRCCOPY;
    BYTE* reducedBits = nullptr;
    r.reduced = CreateMonoDib(w, h, &reducedBits);
    if (!r.reduced || !r.Select(r.dcReduced, r.oldReduced, r.reduced)) return nullptr;
    if (!BitBlt(r.dcReduced, 0, 0, w, h, r.dcLoaded, 0, 0, reduceRop)) return nullptr;

    // 6: turn the reduced image.
    if (rotation != 0) {
        BYTE* rotatedBits = nullptr;
        r.rotated = RotateMonoDib(rotation, r.reduced, reducedBits, &rotatedBits);
        if (!r.rotated || !r.Select(r.dcReduced, r.oldReduced, r.rotated)) return nullptr;
        if (rotation != 180) std::swap(w, h);
    }

    // 7: the target, all 0 bits.
    BYTE* targetBits = nullptr;
    r.target = CreateMonoDib(lineDots, layout == kLayoutRasterRows ? -heightDots : heightDots, &targetBits);
    if (!r.target || !r.Select(r.dcTarget, r.oldTarget, r.target)) return nullptr;
    RECT all{0, 0, lineDots, heightDots};
    FillRect(r.dcTarget, &all, static_cast<HBRUSH>(GetStockObject(whiteIsZero ? WHITE_BRUSH : BLACK_BRUSH)));

    // 8: scale and place the image.
    if (!StretchBlt(r.dcTarget, offsetDots, 0, widthDots, heightDots, r.dcReduced, 0, 0, w, h, SRCCOPY))
        return nullptr;

    // 9: the array in the asked layout.
    BYTE* array;
    if (layout == kLayoutRasterRows) {
        array = PackRows(lineDots, heightDots, targetBits);
    } else {
        BYTE* turnedBits = nullptr;
        r.turned = RotateMonoDib(90, r.target, targetBits, &turnedBits);
        if (!r.turned) return nullptr;
        array = PackBands(lineDots, heightDots, turnedBits);
    }
    if (!array) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (pcbArray) *pcbArray = size;
    return array;  // 10: Resources releases the rest
}
