#include "gdi/objects.h"

#include <mutex>
#include <unordered_map>

#include "gdi/bmp_decode.h"
#include "win/base.h"

namespace platform::gdi {
namespace {

// Stock objects take handles kStockBase + 4 * index; everything else counts
// up from kFirstHandle and is never reused within a process.
constexpr uintptr_t kStockBase = 0x1000;
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr int kStockCount = 9;  // WHITE_BRUSH .. NULL_PEN

struct Table {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<GdiObject>> objects;
    uintptr_t next = kFirstHandle;
};

std::shared_ptr<GdiObject> MakeStock(int index) {
    static const COLORREF kBrushColours[] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                             RGB(64, 64, 64), RGB(0, 0, 0)};
    std::shared_ptr<BrushObject> object;
    if (index <= BLACK_BRUSH) {
        object = std::make_shared<BrushObject>();
        object->colour = kBrushColours[index];
    } else if (index == NULL_BRUSH) {
        object = std::make_shared<BrushObject>();
        object->hollow = true;
    } else {
        object = std::make_shared<BrushObject>(Kind::Pen);
        object->colour = index == WHITE_PEN ? RGB(255, 255, 255) : RGB(0, 0, 0);
        object->hollow = index == NULL_PEN;
    }
    object->stock = true;
    return object;
}

Table& Objects() {
    static Table* table = [] {
        auto* t = new Table;  // lives for the whole process, like the handles it hands out
        for (int i = 0; i < kStockCount; ++i) t->objects[kStockBase + 4 * i] = MakeStock(i);
        // The 1x1 monochrome bitmap every new memory DC starts with.
        const RGBQUAD mono[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        DWORD error = 0;
        auto bitmap = MakeBitmap(1, 1, 1, nullptr, mono, 2, &error);
        bitmap->stock = true;
        t->objects[kStockBase + 4 * kStockCount] = bitmap;
        return t;
    }();
    return *table;
}

}  // namespace

HGDIOBJ DefaultBitmapHandle() { return reinterpret_cast<HGDIOBJ>(kStockBase + 4 * kStockCount); }

HGDIOBJ StockHandle(int index) {
    if (index < 0 || index >= kStockCount) return nullptr;
    Objects();
    return reinterpret_cast<HGDIOBJ>(kStockBase + 4 * static_cast<uintptr_t>(index));
}

std::shared_ptr<BitmapObject> MakeBitmap(LONG width, LONG height, WORD bpp, const DWORD* masks,
                                         const RGBQUAD* colours, size_t colourCount, DWORD* error) {
    const bool knownDepth = bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
    if (width <= 0 || height == 0 || height == INT32_MIN || !knownDepth) {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    const size_t stride = DibStride(static_cast<uint64_t>(width), bpp);
    if (stride == 0 || static_cast<uint64_t>(width) * rows > kMaxDibPixels) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    auto bitmap = std::make_shared<BitmapObject>();
    Surface& s = bitmap->surface;
    s.width = width;
    s.height = static_cast<LONG>(rows);
    s.stride = static_cast<LONG>(stride);
    s.topDown = height < 0;
    s.bpp = bpp;
    if (masks != nullptr && (bpp == 16 || bpp == 32)) {
        s.bitfields = true;
        for (int i = 0; i < 3; ++i) s.masks[i] = masks[i];
        if (!ValidMasks(s.masks, bpp)) {
            *error = ERROR_INVALID_PARAMETER;
            return nullptr;
        }
    }
    SetDefaultMasks(s);
    if (bpp <= 8) {
        s.palette.assign(size_t{1} << bpp, RGBQUAD{0, 0, 0, 0});
        for (size_t i = 0; i < colourCount && i < s.palette.size(); ++i) s.palette[i] = colours[i];
    }
    bitmap->memory.reset(static_cast<BYTE*>(std::calloc(rows, stride)));
    if (!bitmap->memory) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    s.bits = bitmap->memory.get();
    bitmap->headerHeight = height;
    BITMAPINFOHEADER& h = bitmap->header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bpp;
    h.biCompression = s.bitfields ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = static_cast<DWORD>(stride * rows);
    h.biClrUsed = bpp <= 8 ? static_cast<DWORD>(s.palette.size()) : 0;
    return bitmap;
}

HGDIOBJ AddObject(std::shared_ptr<GdiObject> object) {
    Table& t = Objects();
    std::lock_guard<std::mutex> guard(t.lock);
    uintptr_t handle = t.next;
    t.next += 4;
    t.objects.emplace(handle, std::move(object));
    return reinterpret_cast<HGDIOBJ>(handle);
}

std::shared_ptr<GdiObject> FindObject(HGDIOBJ handle) {
    Table& t = Objects();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<GdiObject> TakeObject(HGDIOBJ handle) {
    Table& t = Objects();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end() || it->second->stock) return nullptr;
    auto object = std::move(it->second);
    t.objects.erase(it);
    return object;
}

std::mutex& SelectionLock() {
    static std::mutex lock;
    return lock;
}

DWORD CountObjects() {
    Table& t = Objects();
    std::lock_guard<std::mutex> guard(t.lock);
    DWORD n = 0;
    for (const auto& entry : t.objects)
        if (!entry.second->stock) ++n;
    return n;
}

HBITMAP LoadDIBitmapFromMemory(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    BmpLayout layout;
    DWORD error = ParseBmp(bytes, size, layout);
    if (error != 0) {
        SetLastError(error);
        return nullptr;
    }
    auto bitmap = MakeBitmap(layout.width, -layout.height, 32, nullptr, nullptr, 0, &error);
    if (!bitmap) {
        SetLastError(error);
        return nullptr;
    }
    error = DecodeBmpPixels(layout, bytes, size, bitmap->surface.bits, static_cast<size_t>(bitmap->surface.stride));
    if (error != 0) {
        SetLastError(error);
        return nullptr;
    }
    bitmap->dibSection = true;
    return static_cast<HBITMAP>(AddObject(std::move(bitmap)));
}

}  // namespace platform::gdi
