// Local memory: fixed blocks on the C heap.
#include <cstdlib>

#include "win/base.h"
#include "win/user.h"

WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    // LMEM_NOCOMPACT and LMEM_NODISCARD (0x10, 0x20) mean nothing for fixed heap blocks.
    if (uFlags & ~(LMEM_ZEROINIT | LMEM_MOVEABLE | 0x30u)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (uFlags & LMEM_MOVEABLE) {  // would need LocalLock/LocalUnlock, which nothing here uses
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    size_t size = uBytes ? uBytes : 1;  // a zero-byte block is still a distinct block
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
    if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
