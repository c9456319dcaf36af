#include "device/driver.h"

#include "win/base.h"

namespace platform::device {
namespace {

template <class Fn>
bool Resolve(HMODULE module, const std::u16string& prefix, const char16_t* suffix, Fn* entry) {
    std::u16string name = prefix + u"_" + suffix;
    // Through void(*)(), the generic function pointer type, as with dlsym.
    *entry = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name.c_str())));
    return *entry != nullptr;
}

}  // namespace

std::unique_ptr<DriverLibrary> DriverLibrary::Load(LPCWSTR library, const std::u16string& prefix) {
    HMODULE module = LoadLibraryW(library);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::unique_ptr<DriverLibrary> driver(new DriverLibrary(module));
    DriverEntries& e = driver->entries_;
    bool complete = Resolve(module, prefix, u"Init", &e.init) && Resolve(module, prefix, u"Deinit", &e.deinit) &&
                    Resolve(module, prefix, u"Open", &e.open) && Resolve(module, prefix, u"Close", &e.close) &&
                    Resolve(module, prefix, u"Read", &e.read) && Resolve(module, prefix, u"Write", &e.write) &&
                    Resolve(module, prefix, u"IOControl", &e.ioControl);
    if (!complete) {
        driver.reset();  // unloads
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return driver;
}

DriverLibrary::~DriverLibrary() { FreeLibrary(module_); }

}  // namespace platform::device
