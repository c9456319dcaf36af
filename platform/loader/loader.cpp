// Module loading over dlopen.
//
// Module handles are the dlopen handles themselves (dlopen counts the
// references), but only handles this layer handed out are accepted back:
// dlclose or dlsym on anything else would crash instead of failing.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/trace.h"
#include "core/utf.h"
#include "loader/libname.h"
#include "win/base.h"

namespace platform {
namespace {

struct ModuleTable {
    std::mutex mutex;
    std::unordered_map<void*, unsigned> loads;  // handle -> our LoadLibraryW count
};

ModuleTable& Modules() {
    static auto* table = new ModuleTable;  // never destroyed: modules may be freed at exit
    return *table;
}

void Remember(void* handle) {
    auto& table = Modules();
    std::lock_guard lock(table.mutex);
    ++table.loads[handle];
}

bool Known(void* handle) {
    auto& table = Modules();
    std::lock_guard lock(table.mutex);
    return table.loads.count(handle) != 0;
}

// Drops one of our references; false when the handle is not ours.
bool Forget(void* handle) {
    auto& table = Modules();
    std::lock_guard lock(table.mutex);
    auto it = table.loads.find(handle);
    if (it == table.loads.end()) return false;
    if (--it->second == 0) table.loads.erase(it);
    return true;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where a bare name is looked for after dlopen's own search: beside the
// executable, as the device does; then beside this library and in the
// executable's ../lib, the layout of the build tree and of an installation.
// (dlopen's own search is made on behalf of its caller, which a sanitizer's
// interceptor replaces, so the run path of our library cannot be relied on.)
std::vector<std::string> FallbackDirectories() {
    std::vector<std::string> dirs;
    auto add = [&dirs](const std::string& dir) {
        if (!dir.empty() && std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
    };
    std::string exeDir = DirectoryOf(ExecutablePath());
    add(exeDir);
    Dl_info info;
    if (::dladdr(reinterpret_cast<void*>(&ExecutablePath), &info) && info.dli_fname) add(DirectoryOf(info.dli_fname));
    if (!exeDir.empty()) add(exeDir + "../lib/");
    return dirs;
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void* TryLoad(const std::string& name, bool* foundButBad) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && name.find('/') != std::string::npos && FileExists(name)) *foundButBad = true;
    return handle;
}

// Stores the path with Win32's truncation rules; returns the Win32 result.
DWORD CopyModulePath(const std::string& path, LPWSTR out, DWORD size) {
    if (size == 0 || !out) {
        SetLastError(size == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string wide = FromUtf8(path);
    if (wide.size() < size) {
        wide.copy(out, wide.size());
        out[wide.size()] = 0;
        return static_cast<DWORD>(wide.size());
    }
    wide.copy(out, size - 1);
    out[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // namespace
}  // namespace platform

WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    std::string given = platform::ToUtf8(lpLibFileName);
    PLATFORM_TRACE("LoadLibraryW(%s)", given.c_str());
    if (!lpLibFileName || given.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name = platform::SharedObjectName(given);
    bool foundButBad = false;
    void* handle = platform::TryLoad(name, &foundButBad);
    if (!handle && name.find('/') == std::string::npos) {
        for (const std::string& dir : platform::FallbackDirectories()) {
            handle = platform::TryLoad(dir + name, &foundButBad);
            if (handle) break;
        }
    }
    if (!handle) {
        SetLastError(foundButBad ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    platform::Remember(handle);
    return reinterpret_cast<HMODULE>(handle);
}

WINBASEAPI FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
    void* handle = hModule;
    if (!handle) {
        static void* const self = ::dlopen(nullptr, RTLD_NOW);  // the executable, never unloaded
        handle = self;
    } else if (!platform::Known(handle)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Values below 0x10000 are ordinals, which shared objects do not have.
    if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(lpProcName ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* symbol = ::dlsym(handle, platform::ToUtf8(lpProcName).c_str());
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    void* handle = hLibModule;
    if (!handle || !platform::Forget(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ::dlclose(handle);
    return TRUE;
}

WINBASEAPI DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!hModule) {
        path = platform::ExecutablePath();
    } else {
        link_map* map = nullptr;
        if (!platform::Known(hModule) || ::dlinfo(hModule, RTLD_DI_LINKMAP, &map) != 0 || !map) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = map->l_name && *map->l_name ? map->l_name : platform::ExecutablePath();
        // A library loaded by a relative path is reported by its full path.
        if (path[0] != '/') {
            char full[PATH_MAX];
            if (::realpath(path.c_str(), full)) path = full;
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return platform::CopyModulePath(path, lpFilename, nSize);
}
