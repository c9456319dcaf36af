// Private to the platform layer: the process-wide handle table.
//
// Handles are small integers (not pointers) so that a handle survives being
// stored in a 32-bit field, as the control does with its port handle.
#pragma once

#include <memory>

#include "win/types.h"

namespace platform {

// Anything a HANDLE can name: files, serial ports, stream devices, ...
// Each operation sets the Win32 last error on failure.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    virtual BOOL Read(void* buffer, DWORD count, DWORD* done);
    virtual BOOL Write(const void* buffer, DWORD count, DWORD* done);
    // DeviceIoControl; *returned is preset to 0.
    virtual BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    // Called once, by CloseHandle, before the table drops the object.
    virtual BOOL Close() { return TRUE; }
};

// Puts the object into the table; INVALID_HANDLE_VALUE (and
// ERROR_TOO_MANY_OPEN_FILES) when the table is full.
HANDLE AddHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null (with ERROR_INVALID_HANDLE set).
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// The object, if it is of type T.
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Removes the handle from the table and returns its object, or null.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

}  // namespace platform
