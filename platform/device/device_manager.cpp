// The stream-device manager: registered drivers by device name, and the
// handles CreateFileW gives out on them.
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/names.h"
#include "core/trace.h"
#include "core/utf.h"
#include "device/driver.h"
#include "win/base.h"
#include "win/device.h"

namespace platform::device {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

std::u16string UpperCase(std::u16string_view text) {
    std::u16string result(text);
    for (char16_t& c : result) c = Upper(c);
    return result;
}

bool IsAsciiAlnum(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Device names are a three-character prefix, one digit and a colon.
bool IsDeviceName(std::u16string_view name) {
    return name.size() == 5 && IsAsciiAlnum(name[0]) && IsAsciiAlnum(name[1]) && IsAsciiAlnum(name[2]) &&
           name[3] >= u'0' && name[3] <= u'9' && name[4] == u':';
}

// Sets the driver's last error, or `fallback` when the driver left none.
void KeepDriverError(DWORD fallback) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(fallback);
}

struct OpenContext {
    DWORD_PTR context;
    bool closed = false;  // the driver's Close has been called
};

struct Device {
    std::u16string name;  // upper case, e.g. "LPT9:"
    std::unique_ptr<DriverLibrary> driver;
    DWORD_PTR context = 0;
    // Shared by every call into the driver, exclusive while it is torn down,
    // so that Deinit never overlaps a Write.
    std::shared_mutex io;
    bool alive = false;  // guarded by io
    std::mutex opensMutex;
    std::vector<std::shared_ptr<OpenContext>> opens;  // not yet closed; guarded by opensMutex

    const DriverEntries& entries() const { return driver->entries(); }
};

// One handle from CreateFileW on a device.
class DeviceFile : public KernelObject {
public:
    DeviceFile(std::shared_ptr<Device> device, std::shared_ptr<OpenContext> open)
        : device_(std::move(device)), open_(std::move(open)) {}

    BOOL Read(void* buffer, DWORD count, DWORD* done) override {
        std::shared_lock lock(device_->io);
        if (!Usable()) return FALSE;
        SetLastError(ERROR_SUCCESS);
        DWORD n = device_->entries().read(open_->context, buffer, count);
        return Finish(n, count, done, ERROR_READ_FAULT);
    }

    BOOL Write(const void* buffer, DWORD count, DWORD* done) override {
        std::shared_lock lock(device_->io);
        if (!Usable()) return FALSE;
        SetLastError(ERROR_SUCCESS);
        DWORD n = device_->entries().write(open_->context, buffer, count);
        return Finish(n, count, done, ERROR_WRITE_FAULT);
    }

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
        std::shared_lock lock(device_->io);
        if (!Usable()) return FALSE;
        SetLastError(ERROR_SUCCESS);
        // The driver interface takes a writable input buffer; drivers do not
        // write to it.
        BOOL ok = device_->entries().ioControl(open_->context, code, static_cast<BYTE*>(const_cast<void*>(in)),
                                               inSize, static_cast<BYTE*>(out), outSize, returned);
        if (!ok) KeepDriverError(ERROR_GEN_FAILURE);
        return ok ? TRUE : FALSE;
    }

    BOOL Close() override {
        std::shared_lock lock(device_->io);
        if (!device_->alive) return TRUE;  // closed for us when the device went away
        {
            std::lock_guard opensLock(device_->opensMutex);
            std::erase(device_->opens, open_);
            open_->closed = true;
        }
        return device_->entries().close(open_->context) ? TRUE : FALSE;
    }

private:
    bool Usable() const {
        if (device_->alive) return true;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }

    static BOOL Finish(DWORD n, DWORD count, DWORD* done, DWORD fallbackError) {
        if (n == static_cast<DWORD>(-1)) {
            KeepDriverError(fallbackError);
            return FALSE;
        }
        *done = n < count ? n : count;
        return TRUE;
    }

    std::shared_ptr<Device> device_;
    std::shared_ptr<OpenContext> open_;
};

// Registration handles are never multiples of four, so they can never be
// mistaken for (or close) a file handle.
HANDLE HandleFromId(uintptr_t id) { return reinterpret_cast<HANDLE>((id << 2) | 2); }

struct Registry {
    std::mutex mutex;
    std::map<std::u16string, std::shared_ptr<Device>> byName;  // includes devices still in Init or Deinit
    std::map<HANDLE, std::shared_ptr<Device>> byHandle;        // registered and not being deregistered
    uintptr_t nextId = 1;
};

Registry& Devices() {
    static auto* registry = new Registry;  // never destroyed: handles may be closed at exit
    return *registry;
}

// Holds the name while the driver initialises; false when it is taken.
bool ReserveName(const std::shared_ptr<Device>& device) {
    auto& registry = Devices();
    std::lock_guard lock(registry.mutex);
    return registry.byName.emplace(device->name, device).second;
}

void ReleaseName(const std::u16string& name) {
    auto& registry = Devices();
    std::lock_guard lock(registry.mutex);
    registry.byName.erase(name);
}

HANDLE Publish(const std::shared_ptr<Device>& device) {
    auto& registry = Devices();
    std::lock_guard lock(registry.mutex);
    HANDLE handle = HandleFromId(registry.nextId++);
    registry.byHandle.emplace(handle, device);
    return handle;
}

std::shared_ptr<Device> Withdraw(HANDLE handle) {
    auto& registry = Devices();
    std::lock_guard lock(registry.mutex);
    auto it = registry.byHandle.find(handle);
    if (it == registry.byHandle.end()) return nullptr;
    auto device = std::move(it->second);
    registry.byHandle.erase(it);
    return device;
}

std::shared_ptr<Device> FindByName(const std::u16string& name) {
    auto& registry = Devices();
    std::lock_guard lock(registry.mutex);
    auto it = registry.byName.find(name);
    return it == registry.byName.end() ? nullptr : it->second;
}

// Closes what is still open, then Deinit, then unloads.
void TearDown(Device& device) {
    std::unique_lock lock(device.io);
    if (!device.alive) return;
    std::vector<std::shared_ptr<OpenContext>> opens;
    {
        std::lock_guard opensLock(device.opensMutex);
        opens.swap(device.opens);
    }
    for (auto& open : opens) {
        open->closed = true;
        device.entries().close(open->context);
    }
    device.entries().deinit(device.context);
    device.alive = false;
    device.driver.reset();
}

HANDLE OpenDevice(const std::shared_ptr<Device>& device, const OpenRequest& request) {
    std::shared_lock lock(device->io);
    if (!device->alive) {
        SetLastError(ERROR_FILE_NOT_FOUND);  // still initialising, or going away
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    DWORD_PTR context = device->entries().open(device->context, request.access, request.share);
    if (context == 0) {
        KeepDriverError(ERROR_OPEN_FAILED);
        return INVALID_HANDLE_VALUE;
    }
    auto open = std::make_shared<OpenContext>(OpenContext{context});
    {
        std::lock_guard opensLock(device->opensMutex);
        device->opens.push_back(open);
    }
    HANDLE handle = AddHandle(std::make_shared<DeviceFile>(device, open));
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        {
            std::lock_guard opensLock(device->opensMutex);
            std::erase(device->opens, open);
        }
        device->entries().close(context);
        SetLastError(error);
    }
    return handle;
}

// Device-shaped names are ours whether registered or not: an unregistered
// "LPT9:" must fail, not become a file of that name. "COMn:" names belong to
// the serial ports unless a driver registered them.
bool OpenDeviceName(const OpenRequest& request, HANDLE* result) {
    if (!IsDeviceName(request.name)) return false;
    std::u16string name = UpperCase(request.name);
    auto device = FindByName(name);
    if (!device) {
        if (name.starts_with(u"COM")) return false;
        SetLastError(ERROR_FILE_NOT_FOUND);
        *result = INVALID_HANDLE_VALUE;
        return true;
    }
    *result = OpenDevice(device, request);
    return true;
}

[[maybe_unused]] const bool g_openerAdded = (AddNameOpener(&OpenDeviceName), true);

HANDLE Register(LPCWSTR prefixText, DWORD index, LPCWSTR library, DWORD_PTR context) {
    std::u16string prefix = prefixText ? std::u16string(prefixText) : std::u16string();
    std::u16string name = prefix + static_cast<char16_t>(u'0' + (index % 10)) + u":";
    if (index > 9 || !IsDeviceName(name) || !library || !*library) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto device = std::make_shared<Device>();
    device->name = UpperCase(name);
    if (!ReserveName(device)) {
        SetLastError(ERROR_DEVICE_IN_USE);
        return nullptr;
    }
    device->driver = DriverLibrary::Load(library, prefix);
    if (!device->driver) {
        ReleaseName(device->name);  // keeps the last error Load set
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    device->context = device->entries().init(context);
    if (device->context == 0) {
        DWORD error = GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_GEN_FAILURE);
        device->driver.reset();
        ReleaseName(device->name);
        SetLastError(error);
        return nullptr;
    }
    {
        std::unique_lock lock(device->io);
        device->alive = true;
    }
    return Publish(device);
}

}  // namespace
}  // namespace platform::device

WINBASEAPI HANDLE WINAPI RegisterDevice(LPCWSTR lpszType, DWORD dwIndex, LPCWSTR lpszLib, DWORD_PTR dwInfo) {
    PLATFORM_TRACE("RegisterDevice(%s,%u,%s)", platform::ToUtf8(lpszType).c_str(), dwIndex,
                   platform::ToUtf8(lpszLib).c_str());
    return platform::device::Register(lpszType, dwIndex, lpszLib, dwInfo);
}

WINBASEAPI BOOL WINAPI DeregisterDevice(HANDLE hDevice) {
    PLATFORM_TRACE("DeregisterDevice");
    auto device = platform::device::Withdraw(hDevice);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    platform::device::TearDown(*device);
    platform::device::ReleaseName(device->name);
    return TRUE;
}
