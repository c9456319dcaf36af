// Loading and unloading the port library "farsend.dll".
#include "port/Port.h"
#include "port/PortState.h"
#include "win/base.h"
#include "win/wcs.h"

namespace port {
namespace {

constexpr DWORD kMaxPath = 260;
const WCHAR kLibraryName[] = u"farsend.dll";

// The library beside the running executable. Paths here use '/', but a
// name written with '\' is honoured too: whichever separator comes last
// ends the directory.
HMODULE LoadFromExecutableDirectory() {
    WCHAR path[kMaxPath + sizeof kLibraryName / sizeof(WCHAR)] = {};
    if (GetModuleFileNameW(nullptr, path, kMaxPath) == 0) return nullptr;
    WCHAR* slash = wcsrchr(path, u'/');
    WCHAR* backslash = wcsrchr(path, u'\\');
    if (backslash && (!slash || backslash > slash)) slash = backslash;
    if (slash) {
        slash[1] = 0;
    } else {
        path[0] = u'/';
        path[1] = 0;
    }
    wcscat(path, kLibraryName);
    return LoadLibraryW(path);
}

template <class Fn>
Fn Lookup(HMODULE module, const WCHAR* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name)));
}

}  // namespace

void LoadPortDriver() {
    if (g_portLib.hModule) return;
    HMODULE module = LoadLibraryW(kLibraryName);
    if (!module) module = LoadFromExecutableDirectory();
    if (!module) {
        InstallSubstitutes();
        return;
    }
    auto pfnOpen = Lookup<PFN_PRINTEROPEN>(module, u"PrinterOpen");
    auto pfnClose = Lookup<PFN_PRINTERCLOSE>(module, u"PrinterClose");
    auto pfnSend = Lookup<PFN_PRINTERSEND>(module, u"PrinterSend");
    if (!pfnOpen || !pfnClose || !pfnSend) {
        FreeLibrary(module);
        InstallSubstitutes();
        return;
    }
    g_portLib.hModule = module;
    g_portLib.pfnOpen = pfnOpen;
    g_portLib.pfnSend = pfnSend;
    g_portLib.pfnClose = pfnClose;
}

void UnloadPortDriver() {
    if (!g_portLib.hModule || g_portLib.lUsers > 0) return;
    HMODULE module = g_portLib.hModule;
    InstallSubstitutes();
    FreeLibrary(module);
}

void AddPortDriverUser() { ++g_portLib.lUsers; }

void ReleasePortDriverUser() {
    if (g_portLib.lUsers > 0) --g_portLib.lUsers;
}

}  // namespace port
