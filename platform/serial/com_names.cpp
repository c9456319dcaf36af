#include "serial/com_names.h"

#include <algorithm>
#include <string>
#include <vector>

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

// Reads a REG_SZ value of any length. ERROR_FILE_NOT_FOUND when the key or
// the value is missing; ERROR_BAD_PATHNAME when it is there but no string.
LONG RegistryString(HKEY root, const char16_t* keyPath, const char16_t* valueName, std::u16string* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    std::vector<WCHAR> data(size / sizeof(WCHAR) + 1, u'\0');
    if (status == ERROR_SUCCESS && type == REG_SZ)
        status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_SZ) return ERROR_BAD_PATHNAME;
    value->assign(data.data(), std::min<size_t>(size / sizeof(WCHAR), data.size() - 1));
    while (!value->empty() && value->back() == u'\0') value->pop_back();
    return ERROR_SUCCESS;
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
    auto path = ComDevicePath(*number);
    if (!path) return true;
    auto port = SerialPort::Open(*path, request.access);
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

std::optional<std::string> ComDevicePath(int number) {
    std::u16string valueName = u"COM" + FromUtf8(std::to_string(number)) + u":";
    std::u16string path;
    LONG status = RegistryString(HKEY_LOCAL_MACHINE, u"System\\DosDevices", valueName.c_str(), &path);
    if (status == ERROR_FILE_NOT_FOUND) return "/dev/ttyS" + std::to_string(number - 1);
    // A value that is there but unusable must not send the job to another port.
    if (status == ERROR_SUCCESS && path.empty()) status = ERROR_BAD_PATHNAME;
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return std::nullopt;
    }
    return ToUtf8(path);
}

}  // namespace platform::serial
