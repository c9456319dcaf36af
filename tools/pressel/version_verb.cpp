// pressel version: the version information of a library file, read without
// loading it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/pressel/verbs.h"
#include "windows.h"

namespace pressel_tool {
namespace {

std::u16string Wide(const char* text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.pop_back();
    return out;
}

std::string Narrow(const WCHAR* text) {
    if (!text) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back();
    return out;
}

}  // namespace

const char kVersionUsage[] =
    "usage: pressel version FILE\n"
    "  Shows the version information of the library FILE (its file and product\n"
    "  versions and texts), read from the file without loading it.";

int RunVersion(int argc, char** argv) {
    if (argc != 2) return BadUsage(kVersionUsage);
    std::u16string file = Wide(argv[1]);
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), nullptr);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
        std::fprintf(stderr, "pressel version: %s has no version information (error %u)\n", argv[1],
                     GetLastError());
        return 1;
    }
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), u"\\", &value, &length) && length == sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        std::printf("File version: %u.%u.%u.%u\nProduct version: %u.%u.%u.%u\n", fixed->dwFileVersionMS >> 16,
                    fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF,
                    fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
                    fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
    }
    if (!VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &length) || length < 4) return 0;
    DWORD translation;
    std::memcpy(&translation, value, 4);
    char table[16];
    std::snprintf(table, sizeof table, "%04X%04X", translation & 0xFFFF, translation >> 16);
    static const char* const kKeys[] = {"FileDescription", "ProductName", "FileVersion", "ProductVersion",
                                        "CompanyName", "LegalCopyright", "Comments", "InternalName",
                                        "OriginalFilename"};
    for (const char* key : kKeys) {
        std::u16string path = Wide((std::string("\\StringFileInfo\\") + table + "\\" + key).c_str());
        if (VerQueryValueW(block.data(), path.c_str(), &value, &length))
            std::printf("%s: %s\n", key, Narrow(static_cast<const WCHAR*>(value)).c_str());
    }
    return 0;
}

}  // namespace pressel_tool
