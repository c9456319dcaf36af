#include "core/handles.h"

#include <mutex>
#include <vector>

#include "core/trace.h"
#include "win/base.h"

namespace platform {
namespace {

// Handle values start above the small numbers that callers might mistake for
// "no handle" and step by 4, as Windows handles do.
constexpr uintptr_t kFirstHandle = 0x100;
constexpr uintptr_t kHandleStep = 4;
constexpr size_t kMaxHandles = 1 << 16;

struct HandleTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<KernelObject>> slots;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // never destroyed: used at exit
    return *table;
}

bool SlotOf(HANDLE handle, size_t* slot) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value < kFirstHandle || (value - kFirstHandle) % kHandleStep != 0) return false;
    *slot = (value - kFirstHandle) / kHandleStep;
    return true;
}

// The slot of a handle that names a live object; the table is locked.
bool LiveSlot(const HandleTable& table, HANDLE handle, size_t* slot) {
    if (SlotOf(handle, slot) && *slot < table.slots.size() && table.slots[*slot]) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD* done) {
    if (done) *done = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD* done) {
    if (done) *done = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL KernelObject::IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    size_t slot = 0;
    while (slot < table.slots.size() && table.slots[slot]) ++slot;
    if (slot == kMaxHandles) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (slot == table.slots.size()) table.slots.emplace_back();
    table.slots[slot] = std::move(object);
    return reinterpret_cast<HANDLE>(kFirstHandle + slot * kHandleStep);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    auto& table = Table();
    size_t slot;
    std::lock_guard lock(table.mutex);
    if (!LiveSlot(table, handle, &slot)) return nullptr;
    return table.slots[slot];
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    auto& table = Table();
    size_t slot;
    std::lock_guard lock(table.mutex);
    if (!LiveSlot(table, handle, &slot)) return nullptr;
    return std::move(table.slots[slot]);
}

}  // namespace platform

WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject) {
    PLATFORM_TRACE("CloseHandle");
    auto object = platform::RemoveHandle(hObject);
    if (!object) return FALSE;
    return object->Close();
}

namespace {

// Reads, writes and I/O controls share their frame: the caller's count is 0
// unless the object reports one, even when the handle is not valid.
template <typename Operation>
BOOL OnObject(HANDLE handle, LPDWORD lpDone, Operation&& operation) {
    if (lpDone) *lpDone = 0;
    auto object = platform::LookupHandle(handle);
    if (!object) return FALSE;
    DWORD done = 0;
    BOOL ok = operation(*object, &done);
    if (lpDone) *lpDone = done;
    return ok;
}

}  // namespace

WINBASEAPI BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    return OnObject(hFile, lpNumberOfBytesRead, [&](platform::KernelObject& object, DWORD* done) {
        return object.Read(lpBuffer, nNumberOfBytesToRead, done);
    });
}

WINBASEAPI BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    return OnObject(hFile, lpNumberOfBytesWritten, [&](platform::KernelObject& object, DWORD* done) {
        return object.Write(lpBuffer, nNumberOfBytesToWrite, done);
    });
}

WINBASEAPI BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                       LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED) {
    PLATFORM_TRACE("DeviceIoControl(0x%X)", dwIoControlCode);
    return OnObject(hDevice, lpBytesReturned, [&](platform::KernelObject& object, DWORD* returned) {
        return object.IoControl(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, returned);
    });
}
