// MessageBoxW without a screen: the box goes to standard error, or to the
// test hook when one is set.
#include <cstdio>
#include <mutex>
#include <string>

#include "core/trace.h"
#include "core/utf.h"
#include "pressel/hooks.h"
#include "win/user.h"
#include "win/wcs.h"

namespace {

std::mutex g_hookMutex;

pressel_hooks::MessageBoxHook& Hook() {
    static auto* hook = new pressel_hooks::MessageBoxHook;  // never destroyed: boxes may come at exit
    return *hook;
}

std::u16string Text(LPCWSTR text) { return text ? std::u16string(text) : std::u16string(); }

}  // namespace

namespace pressel_hooks {

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(g_hookMutex);
    std::swap(Hook(), hook);
    return hook;
}

}  // namespace pressel_hooks

WINBASEAPI int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    PLATFORM_TRACE("MessageBoxW(0x%X)", uType);
    std::u16string text = Text(lpText);
    // Windows captions a box without one "Error".
    std::u16string caption = lpCaption ? std::u16string(lpCaption) : std::u16string(u"Error");
    pressel_hooks::MessageBoxHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = Hook();
    }
    if (hook) return hook(hWnd, std::move(text), std::move(caption), uType);
    std::string line = "[" + platform::ToUtf8(caption) + "] " + platform::ToUtf8(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return IDOK;
}
