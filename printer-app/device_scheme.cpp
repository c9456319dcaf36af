#include "printer-app/device_scheme.h"

#include <pappl/pappl.h>

#include <filesystem>
#include <string>

#include "printer-app/device_uri.h"
#include "tools/pressel/automation_client.h"
#include "win/base.h"
#include "win/registry.h"

namespace printer_app {
namespace {

// Lists the profile's own port, the serial ports the registry maps
// (HKLM\System\DosDevices "COMn:" values) and USB printer devices.
bool ListDevices(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*) {
    if (cb("The port the printer's profile names", kProfilePortUri, "", data)) return true;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"System\\DosDevices", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            WCHAR name[64], target[256];
            DWORD nameUnits = 64, type = 0, bytes = sizeof target - sizeof(WCHAR);
            if (RegEnumValueW(key, i, name, &nameUnits, nullptr, &type, reinterpret_cast<BYTE*>(target), &bytes) !=
                ERROR_SUCCESS)
                break;
            target[bytes / sizeof(WCHAR)] = 0;
            std::string port = pressel_tool::Narrow({name, nameUnits});
            std::string info = port + " (" + pressel_tool::Narrow(target) + ")";
            if (type == REG_SZ && port.rfind("COM", 0) == 0 && cb(info.c_str(), DeviceUriFor(port).c_str(), "", data)) {
                RegCloseKey(key);
                return true;
            }
        }
        RegCloseKey(key);
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev/usb", ec), end; !ec && it != end; it.increment(ec)) {
        std::string path = it->path().string();
        if (it->path().filename().string().rfind("lp", 0) == 0 &&
            cb(("USB printer " + path).c_str(), DeviceUriFor(path).c_str(), "", data))
            return true;
    }
    return false;
}

bool OpenDevice(pappl_device_t*, const char* uri, const char*) {
    DeviceTarget target;
    return uri && ParseDeviceUri(uri, &target);
}

void CloseDevice(pappl_device_t*) {}

ssize_t ReadDevice(pappl_device_t*, void*, size_t) { return -1; }

// Bytes never go to the printer this way: refuse rather than drop them.
ssize_t WriteDevice(pappl_device_t*, const void*, size_t) { return -1; }

pappl_preason_t DeviceStatus(pappl_device_t*) { return PAPPL_PREASON_NONE; }

}  // namespace

void AddDeviceScheme() {
    papplDeviceAddScheme(kDeviceScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, ListDevices, OpenDevice, CloseDevice, ReadDevice,
                         WriteDevice, DeviceStatus, nullptr);
}

}  // namespace printer_app
