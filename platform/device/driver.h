// Private to the platform layer: a stream driver's library and the entry
// points named after its prefix.
#pragma once

#include <memory>
#include <string>

#include "win/device.h"

namespace platform::device {

struct DriverEntries {
    PFN_STREAM_INIT init = nullptr;
    PFN_STREAM_DEINIT deinit = nullptr;
    PFN_STREAM_OPEN open = nullptr;
    PFN_STREAM_CLOSE close = nullptr;
    PFN_STREAM_READ read = nullptr;
    PFN_STREAM_WRITE write = nullptr;
    PFN_STREAM_IOCONTROL ioControl = nullptr;
};

// The loaded library; unloaded when the object goes.
class DriverLibrary {
public:
    // Null with the last error set: ERROR_MOD_NOT_FOUND when the library does
    // not load, ERROR_PROC_NOT_FOUND when an entry point is missing.
    static std::unique_ptr<DriverLibrary> Load(LPCWSTR library, const std::u16string& prefix);
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    const DriverEntries& entries() const { return entries_; }

private:
    explicit DriverLibrary(HMODULE module) : module_(module) {}
    HMODULE module_;
    DriverEntries entries_;
};

}  // namespace platform::device
