#include "core/handles.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/hot.h"
#include "core/trace.h"
#include "win/base.h"

namespace platform {
namespace {

// Handle values start above the small numbers that callers might mistake for
// "no handle" and step by 4, as Windows handles do.
constexpr uintptr_t kFirstHandle = 0x100;
constexpr uintptr_t kHandleStep = 4;
constexpr size_t kMaxHandles = 1 << 16;
// Slots come in pages that never move or go away, so that a call can find
// its object without the table's lock.
constexpr size_t kPageSlots = 256;
constexpr size_t kPages = kMaxHandles / kPageSlots;

// One handle: its object and the calls inside the object. The object is
// changed only under the table's lock and only while no call is inside, so
// that a handle closed by one thread stays usable to the calls other threads
// are making with it; the last of them lets the object go.
struct Slot {
    static constexpr uint32_t kLive = 1u << 31;  // the handle is open
    std::atomic<uint32_t> state{0};              // kLive, plus the calls inside
    std::shared_ptr<KernelObject> object;
};

// Pages are never freed, so the objects of handles still open at exit are
// left alone rather than destroyed while other threads may use them.
struct HandleTable {
    std::mutex mutex;  // adding and removing handles
    std::atomic<Slot*> pages[kPages] = {};
    size_t used = 0;  // slots that have held an object: the pages made so far cover them
};

constinit HandleTable g_table;

PLATFORM_HOT inline Slot* SlotOf(HANDLE handle) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value < kFirstHandle || (value - kFirstHandle) % kHandleStep != 0) return nullptr;
    size_t index = (value - kFirstHandle) / kHandleStep;
    if (index >= kMaxHandles) return nullptr;
    Slot* page = g_table.pages[index / kPageSlots].load(std::memory_order_acquire);
    return page ? &page[index % kPageSlots] : nullptr;
}

// A slot nobody is inside any more, and whose handle is closed, lets its
// object go (outside the lock: closing a descriptor may take a while).
void Reclaim(Slot& slot) {
    std::shared_ptr<KernelObject> gone;
    std::lock_guard lock(g_table.mutex);
    if (slot.state.load(std::memory_order_acquire) == 0) gone = std::move(slot.object);
}

// A call inside the object of an open handle; empty (with ERROR_INVALID_HANDLE
// set) when the handle names nothing open.
class Inside {
public:
    explicit Inside(HANDLE handle) : slot_(SlotOf(handle)) {
        if (slot_ && !(slot_->state.fetch_add(1, std::memory_order_acquire) & Slot::kLive)) Leave();
        if (!slot_) SetLastError(ERROR_INVALID_HANDLE);
    }
    ~Inside() {
        if (slot_) Leave();
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

    explicit operator bool() const { return slot_ != nullptr; }
    const std::shared_ptr<KernelObject>& object() const { return slot_->object; }

private:
    void Leave() {
        if (slot_->state.fetch_sub(1, std::memory_order_acq_rel) == 1) Reclaim(*slot_);
        slot_ = nullptr;
    }

    Slot* slot_;
};

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
    std::lock_guard lock(g_table.mutex);
    size_t index = 0;
    for (; index < g_table.used; ++index)
        if (!g_table.pages[index / kPageSlots].load(std::memory_order_relaxed)[index % kPageSlots].object) break;
    if (index == kMaxHandles) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    auto& page = g_table.pages[index / kPageSlots];
    if (!page.load(std::memory_order_relaxed)) page.store(new Slot[kPageSlots], std::memory_order_release);
    if (index == g_table.used) ++g_table.used;
    Slot& slot = page.load(std::memory_order_relaxed)[index % kPageSlots];
    slot.object = std::move(object);
    slot.state.fetch_or(Slot::kLive, std::memory_order_release);
    return reinterpret_cast<HANDLE>(kFirstHandle + index * kHandleStep);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    Inside call(handle);
    return call ? call.object() : nullptr;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    Slot* slot = SlotOf(handle);
    std::shared_ptr<KernelObject> object;
    {
        std::lock_guard lock(g_table.mutex);
        uint32_t state = slot ? slot->state.fetch_and(~Slot::kLive, std::memory_order_acq_rel) : 0;
        if (state & Slot::kLive) {
            // Calls still inside keep the slot's object until the last ends.
            object = state == Slot::kLive ? std::move(slot->object) : slot->object;
        }
    }
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
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
    platform::Inside call(handle);
    if (!call) return FALSE;
    DWORD done = 0;
    BOOL ok = operation(*call.object(), &done);
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

WINBASEAPI PLATFORM_HOT BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
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
