// Fuzzes the BMP decoder behind SHLoadDIBitmap: any input loads or is refused
// with a last error, and whatever loads survives a colour-to-mono reduction
// and a stretch without leaving graphics objects behind.
#include <cstdint>
#include <cstdlib>

#include "gdi/bmp_decode.h"
#include "gdi/objects.h"
#include "win/base.h"
#include "win/gdi.h"

namespace {

struct Info {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
};

void Reduce(HBITMAP image, LONG width, LONG height, uint8_t hint) {
    Info info{};
    // Scaled to a size the input chooses, at most 64 x 64.
    const LONG w = 1 + hint % 64, h = 1 + (hint * 7) % 64;
    info.header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), w, (hint & 1) ? -h : h, 1, 1, BI_RGB, 0, 0, 0, 2, 2};
    info.colours[0] = RGBQUAD{255, 255, 255, 0};
    void* bits = nullptr;
    HBITMAP mono = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!mono) std::abort();
    HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
    HGDIOBJ oldSrc = SelectObject(src, image), oldDst = SelectObject(dst, mono);
    if (!StretchBlt(dst, -1, 0, w + 2, h, src, 0, 0, width, height, SRCCOPY)) std::abort();
    SelectObject(dst, oldDst);
    SelectObject(src, oldSrc);
    DeleteDC(dst);
    DeleteDC(src);
    DeleteObject(mono);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DWORD before = GetGuiResources(nullptr, GR_GDIOBJECTS);
    SetLastError(0);
    HBITMAP image = platform::gdi::LoadDIBitmapFromMemory(data, size);
    if (!image) {
        if (GetLastError() == 0) std::abort();  // refused without saying why
        return 0;
    }
    BITMAP bm{};
    if (GetObjectW(image, sizeof bm, &bm) != sizeof bm || bm.bmWidth <= 0 || bm.bmHeight <= 0 ||
        static_cast<uint64_t>(bm.bmWidth) * bm.bmHeight > platform::gdi::kMaxDecodedPixels)
        std::abort();
    Reduce(image, bm.bmWidth, bm.bmHeight, size > 0 ? data[size - 1] : 0);
    if (!DeleteObject(image) || GetGuiResources(nullptr, GR_GDIOBJECTS) != before) std::abort();
    return 0;
}
