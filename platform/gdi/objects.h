// Private to the platform layer: the process-wide table of graphics objects
// (bitmaps, device contexts, brushes, pens).
//
// Handles are small integers of our own, not pointers, so that a stale or
// forged handle is looked up and refused instead of dereferenced. Stock
// objects have fixed handles and are never deleted.
#pragma once

#include <cstdlib>
#include <memory>
#include <mutex>

#include "gdi/surface.h"
#include "win/gdi.h"

namespace platform::gdi {

enum class Kind { Bitmap, Dc, Brush, Pen };

struct GdiObject {
    explicit GdiObject(Kind k) : kind(k) {}
    virtual ~GdiObject() = default;
    const Kind kind;
    bool stock = false;
};

struct FreeBytes {
    void operator()(BYTE* p) const { std::free(p); }
};

struct BitmapObject : GdiObject {
    BitmapObject() : GdiObject(Kind::Bitmap) {}
    Surface surface;
    std::unique_ptr<BYTE, FreeBytes> memory;
    LONG headerHeight = 0;  // as created: negative for top-down
    BITMAPINFOHEADER header{};
    bool dibSection = false;
    HDC selectedInto = nullptr;  // the one memory DC holding it (not for stock)
};

struct DcObject : GdiObject {
    DcObject() : GdiObject(Kind::Dc) {}
    bool screen = false;  // from GetDC: no pixels of its own
    HGDIOBJ bitmap = nullptr;
    HGDIOBJ brush = nullptr;
    HGDIOBJ pen = nullptr;
};

struct BrushObject : GdiObject {
    explicit BrushObject(Kind k = Kind::Brush) : GdiObject(k) {}
    COLORREF colour = 0;
    bool hollow = false;
};

// Largest DIB section (256 MiB of 32-bit pixels).
constexpr uint64_t kMaxDibPixels = uint64_t{1} << 26;

// Makes a bitmap of zeroed pixels. height < 0: top-down rows. Colours are
// taken for bpp <= 8 (missing entries are black). Null and *error set when
// the format or size is refused or memory runs out.
std::shared_ptr<BitmapObject> MakeBitmap(LONG width, LONG height, WORD bpp, const DWORD* masks,
                                         const RGBQUAD* colours, size_t colourCount, DWORD* error);

HGDIOBJ AddObject(std::shared_ptr<GdiObject> object);
std::shared_ptr<GdiObject> FindObject(HGDIOBJ handle);
// Removes a non-stock object from the table and returns it; null otherwise.
std::shared_ptr<GdiObject> TakeObject(HGDIOBJ handle);
// Live objects other than stock ones.
DWORD CountObjects();

// Stock objects by GetStockObject index, null for others; the 1x1
// monochrome bitmap a new memory DC holds.
HGDIOBJ StockHandle(int index);
HGDIOBJ DefaultBitmapHandle();

// Guards which bitmap is selected where (DcObject::bitmap and
// BitmapObject::selectedInto).
std::mutex& SelectionLock();
template <class T>
std::shared_ptr<T> FindAs(HGDIOBJ handle, Kind kind) {
    auto object = FindObject(handle);
    if (!object || object->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(object);
}

// Decodes a BMP image held in memory into a 32-bit DIB section.
HBITMAP LoadDIBitmapFromMemory(const void* data, size_t size);

}  // namespace platform::gdi
