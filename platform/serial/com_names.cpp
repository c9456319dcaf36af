#include "serial/com_names.h"

#include <string>

#include "core/handles.h"
#include "core/names.h"
#include "core/utf.h"
#include "serial/serial_port.h"
#include "win/base.h"
#include "win/registry.h"

namespace platform::serial {
namespace {

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != Upper(prefix[i])) return false;
    return true;
}

// The REG_SZ value, or nullopt when the key, the value or its type is missing.
std::optional<std::u16string> RegistryString(HKEY root, const char16_t* keyPath, const char16_t* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    WCHAR data[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = sizeof(data) - sizeof(WCHAR);  // room for a terminator we add
    LONG status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    std::u16string value(data, size / sizeof(WCHAR));
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return value;
}

bool OpenComPort(const OpenRequest& request, HANDLE* result) {
    auto number = ComPortNumber(request.name);
    if (!number) return false;
    *result = INVALID_HANDLE_VALUE;
    switch (request.disposition) {
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
        case OPEN_EXISTING:
        case TRUNCATE_EXISTING: break;  // a device is opened as it is
        case CREATE_NEW: SetLastError(ERROR_FILE_EXISTS); return true;
        default: SetLastError(ERROR_INVALID_PARAMETER); return true;
    }
    auto port = SerialPort::Open(ComDevicePath(*number), request.access);
    if (port) *result = AddHandle(std::move(port));
    return true;
}

[[maybe_unused]] const bool g_registered = (AddNameOpener(&OpenComPort), true);

}  // namespace

std::optional<int> ComPortNumber(std::u16string_view name) {
    if (StartsWithNoCase(name, u"\\\\.\\")) name.remove_prefix(4);
    if (!StartsWithNoCase(name, u"COM")) return std::nullopt;
    name.remove_prefix(3);
    if (!name.empty() && name.back() == u':') name.remove_suffix(1);
    if (name.empty() || name.size() > 3 || name.front() == u'0') return std::nullopt;
    int number = 0;
    for (char16_t c : name) {
        if (c < u'0' || c > u'9') return std::nullopt;
        number = number * 10 + (c - u'0');
    }
    if (number > 255) return std::nullopt;
    return number;
}

std::string ComDevicePath(int number) {
    std::u16string valueName = u"COM" + FromUtf8(std::to_string(number)) + u":";
    auto path = RegistryString(HKEY_LOCAL_MACHINE, u"System\\DosDevices", valueName.c_str());
    if (path && !path->empty()) return ToUtf8(*path);
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace platform::serial
