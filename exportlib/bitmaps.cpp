// The bitmap exports: the library holds the last array made until the
// caller fetches or discards it.
#include <cstring>
#include <mutex>

#include "Ondrel.h"
#include "bitmap/PrintableBitmap.h"
#include "state.h"

namespace {

// A mutex makes each call whole for concurrent callers; a sequence of calls
// is still the callers' to serialise.
std::mutex g_bmpMutex;
BYTE* g_pHeld = nullptr;
LONG g_lHeldSize = -1;

LONG DeleteLocked() {
    LONG size = g_lHeldSize;
    FreePrintableBitmap(g_pHeld);
    g_pHeld = nullptr;
    g_lHeldSize = -1;
    return size;
}

}  // namespace

namespace ondrel {
void ReleaseBitmap() {
    std::lock_guard lock(g_bmpMutex);
    DeleteLocked();
}
}  // namespace ondrel

ONDREL_API int BMPComputeSize(int heightDots, int widthDots, int lineDots, LPCWSTR fileName, int layout,
                              int rotation, int offsetDots) {
    std::lock_guard lock(g_bmpMutex);
    DeleteLocked();
    LONG size = -1;
    BYTE* array =
        GetPrintableBitmap(heightDots, widthDots, lineDots, fileName, layout, rotation, offsetDots, &size);
    if (!array) return -1;
    g_pHeld = array;
    g_lHeldSize = size;
    return size;
}

ONDREL_API int BMPGetBits(BYTE* pBuffer) {
    std::lock_guard lock(g_bmpMutex);
    if (!g_pHeld || !pBuffer) return -1;
    std::memcpy(pBuffer, g_pHeld, static_cast<size_t>(g_lHeldSize));
    return DeleteLocked();
}

ONDREL_API int BMPDelete(void) {
    std::lock_guard lock(g_bmpMutex);
    return DeleteLocked();
}
