// The exported graphics calls: thin translations onto the object table and
// the pixel operations of surface.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/errno_map.h"
#include "core/trace.h"
#include "core/utf.h"
#include "gdi/objects.h"
#include "win/base.h"

using namespace platform::gdi;

namespace {

// A BMP larger than this cannot hold an image the decoder would accept.
constexpr off_t kMaxFileBytes = off_t{1} << 28;

HGDIOBJ Fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    // Non-blocking, so that opening a FIFO without a writer does not hang;
    // anything but a regular file is refused below.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return platform::FailWithErrno(errno);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        return platform::FailWithErrno(err);
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
        close(fd);
        SetLastError(S_ISREG(st.st_mode) ? ERROR_NOT_ENOUGH_MEMORY : ERROR_BAD_FORMAT);
        return false;
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            close(fd);
            return platform::FailWithErrno(err);
        }
        if (n == 0) break;  // the file shrank meanwhile: decode what is there
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    close(fd);
    return true;
}

// The pixels a DC draws on: the bitmap selected into a memory DC. Null for
// the screen DC, which has none here.
std::shared_ptr<BitmapObject> SurfaceOf(const std::shared_ptr<DcObject>& dc) {
    if (!dc || dc->screen) return nullptr;
    std::lock_guard<std::mutex> guard(SelectionLock());
    return FindAs<BitmapObject>(dc->bitmap, Kind::Bitmap);
}

std::shared_ptr<DcObject> NewDc(bool screen) {
    auto dc = std::make_shared<DcObject>();
    dc->screen = screen;
    dc->bitmap = screen ? nullptr : DefaultBitmapHandle();
    dc->brush = StockHandle(WHITE_BRUSH);
    dc->pen = StockHandle(BLACK_PEN);
    return dc;
}

// Drops a DC from the table and frees the bitmap it held for selection elsewhere.
BOOL RemoveDc(HDC hdc, bool screen) {
    auto dc = FindAs<DcObject>(hdc, Kind::Dc);
    if (!dc || dc->screen != screen) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    TakeObject(hdc);
    std::lock_guard<std::mutex> guard(SelectionLock());
    if (auto bitmap = FindAs<BitmapObject>(dc->bitmap, Kind::Bitmap); bitmap && bitmap->selectedInto == hdc)
        bitmap->selectedInto = nullptr;
    return TRUE;
}

BOOL DoBlit(HDC hdcDest, int x, int y, int cx, int cy, HDC hdcSrc, int xs, int ys, int cxs, int cys, DWORD rop) {
    auto dstDc = FindAs<DcObject>(hdcDest, Kind::Dc);
    if (!dstDc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<BitmapObject> src;
    if (hdcSrc != nullptr) {
        auto srcDc = FindAs<DcObject>(hdcSrc, Kind::Dc);
        if (!srcDc) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        src = SurfaceOf(srcDc);
        if (!src) {
            SetLastError(ERROR_NOT_SUPPORTED);  // the screen has no pixels to read
            return FALSE;
        }
    }
    auto dst = SurfaceOf(dstDc);
    if (!dst) return TRUE;  // drawing on the screen: nothing to keep
    if (!Blit(dst->surface, x, y, cx, cy, src ? &src->surface : nullptr, xs, ys, cxs, cys, rop)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

WINBASEAPI HBITMAP WINAPI SHLoadDIBitmap(LPCWSTR szFileName) {
    if (szFileName == nullptr) return static_cast<HBITMAP>(Fail(ERROR_INVALID_PARAMETER));
    const std::string path = platform::ToUtf8(szFileName);
    PLATFORM_TRACE("SHLoadDIBitmap(%s)", path.c_str());
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return nullptr;
    return LoadDIBitmapFromMemory(bytes.data(), bytes.size());
}

WINBASEAPI HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                                           DWORD) {
    if (ppvBits != nullptr) *ppvBits = nullptr;
    if (pbmi == nullptr) return static_cast<HBITMAP>(Fail(ERROR_INVALID_PARAMETER));
    if (usage != DIB_RGB_COLORS || hSection != nullptr) {
        return static_cast<HBITMAP>(Fail(usage == DIB_PAL_COLORS || hSection ? ERROR_NOT_SUPPORTED
                                                                            : ERROR_INVALID_PARAMETER));
    }
    const BITMAPINFOHEADER& h = pbmi->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1)
        return static_cast<HBITMAP>(Fail(ERROR_INVALID_PARAMETER));
    const BYTE* afterHeader = reinterpret_cast<const BYTE*>(pbmi) + h.biSize;
    DWORD masks[3];
    const DWORD* maskPtr = nullptr;
    if (h.biCompression == BI_BITFIELDS) {
        // V4/V5 headers hold the masks; after a plain header they come first.
        const BYTE* m = h.biSize >= 52 ? reinterpret_cast<const BYTE*>(pbmi) + 40 : afterHeader;
        std::memcpy(masks, m, sizeof masks);
        maskPtr = masks;
        if (h.biBitCount != 16 && h.biBitCount != 32) return static_cast<HBITMAP>(Fail(ERROR_INVALID_PARAMETER));
    } else if (h.biCompression != BI_RGB) {
        return static_cast<HBITMAP>(Fail(ERROR_INVALID_PARAMETER));
    }
    const RGBQUAD* colours = reinterpret_cast<const RGBQUAD*>(afterHeader);
    size_t colourCount = 0;
    if (h.biBitCount <= 8) colourCount = h.biClrUsed != 0 ? h.biClrUsed : (size_t{1} << h.biBitCount);
    DWORD error = 0;
    auto bitmap = MakeBitmap(h.biWidth, h.biHeight, h.biBitCount, maskPtr, colours, colourCount, &error);
    if (!bitmap) return static_cast<HBITMAP>(Fail(error));
    bitmap->dibSection = true;
    bitmap->header.biXPelsPerMeter = h.biXPelsPerMeter;
    bitmap->header.biYPelsPerMeter = h.biYPelsPerMeter;
    if (h.biClrUsed != 0) bitmap->header.biClrUsed = h.biClrUsed;
    BYTE* bits = bitmap->surface.bits;
    PLATFORM_TRACE("CreateDIBSection(%d,%d,%u)", h.biWidth, h.biHeight, h.biBitCount);
    HBITMAP handle = static_cast<HBITMAP>(AddObject(std::move(bitmap)));
    if (ppvBits != nullptr) *ppvBits = bits;
    return handle;
}

WINBASEAPI HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    auto dc = FindAs<DcObject>(hdc, Kind::Dc);
    if (!dc) return static_cast<HBITMAP>(Fail(ERROR_INVALID_HANDLE));
    DWORD error = 0;
    std::shared_ptr<BitmapObject> bitmap;
    auto current = SurfaceOf(dc);
    if (current) {
        const Surface& s = current->surface;
        bitmap = MakeBitmap(cx, cy, s.bpp, s.bitfields ? s.masks : nullptr, s.palette.data(), s.palette.size(),
                            &error);
    } else {
        bitmap = MakeBitmap(cx, cy, 32, nullptr, nullptr, 0, &error);
    }
    if (!bitmap) return static_cast<HBITMAP>(Fail(error));
    return static_cast<HBITMAP>(AddObject(std::move(bitmap)));
}

WINBASEAPI HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc != nullptr && !FindAs<DcObject>(hdc, Kind::Dc)) return static_cast<HDC>(Fail(ERROR_INVALID_HANDLE));
    return static_cast<HDC>(AddObject(NewDc(false)));
}

WINBASEAPI BOOL WINAPI DeleteDC(HDC hdc) { return RemoveDc(hdc, false); }

WINBASEAPI HDC WINAPI GetDC(HWND) { return static_cast<HDC>(AddObject(NewDc(true))); }

WINBASEAPI int WINAPI ReleaseDC(HWND, HDC hDC) { return RemoveDc(hDC, true) ? 1 : 0; }

WINBASEAPI int WINAPI GetDeviceCaps(HDC hdc, int index) {
    if (!FindAs<DcObject>(hdc, Kind::Dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    // Every DC describes the handheld's screen: 240 x 320, 32 bits, 96 dpi.
    switch (index) {
        case HORZRES: return 240;
        case VERTRES: return 320;
        case BITSPIXEL: return 32;
        case PLANES: return 1;
        case NUMCOLORS: return -1;
        case LOGPIXELSX:
        case LOGPIXELSY: return 96;
        default: return 0;
    }
}

WINBASEAPI HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    auto dc = FindAs<DcObject>(hdc, Kind::Dc);
    auto object = FindObject(h);
    if (!dc || !object || object->kind == Kind::Dc) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> guard(SelectionLock());
    HGDIOBJ previous = nullptr;
    switch (object->kind) {
        case Kind::Bitmap: {
            auto bitmap = std::static_pointer_cast<BitmapObject>(object);
            if (dc->screen) return Fail(ERROR_INVALID_PARAMETER);
            if (!bitmap->stock && bitmap->selectedInto != nullptr && bitmap->selectedInto != hdc)
                return Fail(ERROR_INVALID_PARAMETER);  // already held by another DC
            previous = dc->bitmap;
            if (auto old = FindAs<BitmapObject>(previous, Kind::Bitmap); old && old->selectedInto == hdc)
                old->selectedInto = nullptr;
            if (!bitmap->stock) bitmap->selectedInto = hdc;
            dc->bitmap = h;
            break;
        }
        case Kind::Brush:
            previous = dc->brush;
            dc->brush = h;
            break;
        default:
            previous = dc->pen;
            dc->pen = h;
            break;
    }
    return previous;
}

WINBASEAPI int WINAPI GetObjectW(HGDIOBJ h, int c, LPVOID pv) {
    auto object = FindObject(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (object->kind == Kind::Brush || object->kind == Kind::Pen) {
        if (object->kind == Kind::Pen) return 0;
        auto brush = std::static_pointer_cast<BrushObject>(object);
        LOGBRUSH lb{brush->hollow ? BS_NULL : BS_SOLID, brush->colour, 0};
        if (pv == nullptr) return sizeof lb;
        int n = c < static_cast<int>(sizeof lb) ? (c < 0 ? 0 : c) : static_cast<int>(sizeof lb);
        std::memcpy(pv, &lb, static_cast<size_t>(n));
        return n;
    }
    if (object->kind != Kind::Bitmap) return 0;
    auto bitmap = std::static_pointer_cast<BitmapObject>(object);
    const Surface& s = bitmap->surface;
    if (pv == nullptr) return sizeof(BITMAP);
    if (c < static_cast<int>(sizeof(BITMAP))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    BITMAP bm{};
    bm.bmWidth = s.width;
    bm.bmHeight = s.height;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = s.bpp;
    // Device-dependent bitmaps report word-aligned rows and no bits pointer.
    bm.bmWidthBytes = bitmap->dibSection ? s.stride : static_cast<LONG>(((int64_t{s.width} * s.bpp + 15) / 16) * 2);
    bm.bmBits = bitmap->dibSection ? s.bits : nullptr;
    if (bitmap->dibSection && c >= static_cast<int>(sizeof(DIBSECTION))) {
        DIBSECTION ds{};
        ds.dsBm = bm;
        ds.dsBmih = bitmap->header;
        if (s.bpp == 16 || s.bpp == 32) std::memcpy(ds.dsBitfields, s.masks, sizeof ds.dsBitfields);
        std::memcpy(pv, &ds, sizeof ds);
        return sizeof ds;
    }
    std::memcpy(pv, &bm, sizeof bm);
    return sizeof bm;
}

WINBASEAPI DWORD WINAPI GetObjectType(HGDIOBJ h) {
    auto object = FindObject(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    switch (object->kind) {
        case Kind::Bitmap: return OBJ_BITMAP;
        case Kind::Brush: return OBJ_BRUSH;
        case Kind::Pen: return OBJ_PEN;
        default: return std::static_pointer_cast<DcObject>(object)->screen ? OBJ_DC : OBJ_MEMDC;
    }
}

WINBASEAPI HGDIOBJ WINAPI GetStockObject(int i) {
    HGDIOBJ h = StockHandle(i);
    return h != nullptr ? h : Fail(ERROR_INVALID_PARAMETER);
}

WINBASEAPI BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    auto object = FindObject(ho);
    if (!object || object->kind == Kind::Dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->stock) return TRUE;  // stock objects outlive every caller
    std::lock_guard<std::mutex> guard(SelectionLock());  // no one selects it meanwhile
    if (object->kind == Kind::Bitmap && std::static_pointer_cast<BitmapObject>(object)->selectedInto != nullptr) {
        SetLastError(ERROR_BUSY);  // still selected into a DC
        return FALSE;
    }
    if (!TakeObject(ho)) {
        SetLastError(ERROR_INVALID_HANDLE);  // deleted by another thread just now
        return FALSE;
    }
    return TRUE;
}

WINBASEAPI HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    auto brush = std::make_shared<BrushObject>();
    brush->colour = color & 0xFFFFFFu;
    return static_cast<HBRUSH>(AddObject(std::move(brush)));
}

WINBASEAPI int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    auto dc = FindAs<DcObject>(hDC, Kind::Dc);
    auto brush = FindAs<BrushObject>(hbr, Kind::Brush);
    if (!dc || !brush) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (lprc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto bitmap = SurfaceOf(dc);
    if (!bitmap || brush->hollow) return 1;
    FillPixels(bitmap->surface, *lprc, ColourToPixel(bitmap->surface, brush->colour));
    return 1;
}

WINBASEAPI BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    return DoBlit(hdc, x, y, cx, cy, hdcSrc, x1, y1, cx, cy, rop);
}

WINBASEAPI BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                                  int ySrc, int wSrc, int hSrc, DWORD rop) {
    return DoBlit(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc, rop);
}

WINBASEAPI COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    auto bitmap = SurfaceOf(FindAs<DcObject>(hdc, Kind::Dc));
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->surface.width || y >= bitmap->surface.height) return CLR_INVALID;
    return PixelToColour(bitmap->surface, GetPixelValue(bitmap->surface, x, y));
}

WINBASEAPI COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
    auto bitmap = SurfaceOf(FindAs<DcObject>(hdc, Kind::Dc));
    if (!bitmap || x < 0 || y < 0 || x >= bitmap->surface.width || y >= bitmap->surface.height) return CLR_INVALID;
    uint32_t value = ColourToPixel(bitmap->surface, color);
    SetPixelValue(bitmap->surface, x, y, value);
    return PixelToColour(bitmap->surface, value);
}

WINBASEAPI DWORD WINAPI GetGuiResources(HANDLE, DWORD uiFlags) {
    if (uiFlags != GR_GDIOBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return CountObjects();
}
