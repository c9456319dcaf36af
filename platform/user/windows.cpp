// Window classes and windows. Nothing is drawn: a window is a procedure, a
// parent, an owning thread and a few words of data, which is all a client
// needs to create a dialog, post to it and have its messages dispatched.
#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/trace.h"
#include "user/window_state.h"
#include "win/base.h"
#include "win/errors.h"
#include "win/wcs.h"

namespace platform::user {
namespace {

struct WndClass {
    ATOM atom;
    std::u16string name;
    WNDPROC proc;
    HINSTANCE instance;
};

struct Window {
    WNDPROC proc;
    HWND parent;
    ATOM atom;
    HINSTANCE instance;
    LONG_PTR id;
    LONG_PTR userData = 0;
    std::weak_ptr<ThreadQueue> owner;
    bool destroying = false;
};

// Window handles are even numbers from 0x10000 on, well inside 32 bits.
constexpr ULONG_PTR kFirstHandle = 0x10000;
constexpr ULONG_PTR kLastHandle = 0x7FFFFFFE;
constexpr ATOM kFirstAtom = 0xC000;

struct Tables {
    std::mutex lock;
    std::vector<WndClass> classes;
    std::unordered_map<ULONG_PTR, Window> windows;
    ULONG_PTR nextHandle = kFirstHandle;
    ATOM nextAtom = kFirstAtom;
};

// Never destroyed: threads ending during process exit still consult it.
Tables& T() {
    static auto* tables = new Tables;
    return *tables;
}

ULONG_PTR Key(HWND hWnd) { return reinterpret_cast<ULONG_PTR>(hWnd); }
HWND Handle(ULONG_PTR key) { return reinterpret_cast<HWND>(key); }

// Caller holds the lock.
const WndClass* FindClassLocked(LPCWSTR name) {
    if (!name) return nullptr;
    for (const WndClass& c : T().classes) {
        if (IS_INTRESOURCE(name) ? c.atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name))
                                 : _wcsicmp(c.name.c_str(), name) == 0)
            return &c;
    }
    return nullptr;
}

// Caller holds the lock. 0 when every handle is taken.
ULONG_PTR NewHandleLocked() {
    Tables& t = T();
    for (ULONG_PTR tries = 0; tries < (kLastHandle - kFirstHandle) / 2 + 1; ++tries) {
        ULONG_PTR candidate = t.nextHandle;
        t.nextHandle = candidate >= kLastHandle ? kFirstHandle : candidate + 2;
        if (!t.windows.count(candidate)) return candidate;
    }
    return 0;
}

bool IsDescendantLocked(ULONG_PTR ancestor, ULONG_PTR key) {
    // Bounded by the table size so that a damaged chain cannot loop.
    for (size_t steps = 0; steps <= T().windows.size(); ++steps) {
        auto it = T().windows.find(key);
        if (it == T().windows.end() || !it->second.parent) return false;
        key = Key(it->second.parent);
        if (key == ancestor) return true;
    }
    return false;
}

}  // namespace

bool FindWindowRef(HWND hWnd, WindowRef* ref) {
    std::lock_guard lock(T().lock);
    auto it = T().windows.find(Key(hWnd));
    if (!hWnd || it == T().windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    ref->proc = it->second.proc;
    ref->owner = it->second.owner.lock();
    return true;
}

std::vector<HWND> WindowAndDescendants(HWND hWnd) {
    std::lock_guard lock(T().lock);
    std::vector<HWND> found;
    if (!T().windows.count(Key(hWnd))) return found;
    found.push_back(hWnd);
    for (const auto& [key, window] : T().windows)
        if (IsDescendantLocked(Key(hWnd), key)) found.push_back(Handle(key));
    return found;
}

void ForgetWindowsOf(const ThreadQueue* queue) {
    std::lock_guard lock(T().lock);
    std::erase_if(T().windows, [queue](const auto& entry) {
        auto owner = entry.second.owner.lock();
        return !owner || owner.get() == queue;
    });
}

}  // namespace platform::user

using namespace platform::user;

ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass) {
    if (!lpWndClass || !lpWndClass->lpfnWndProc || !lpWndClass->lpszClassName ||
        IS_INTRESOURCE(lpWndClass->lpszClassName) || !*lpWndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(T().lock);
    if (FindClassLocked(lpWndClass->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (T().nextAtom == 0) {  // wrapped past 0xFFFF
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ATOM atom = T().nextAtom++;
    T().classes.push_back({atom, lpWndClass->lpszClassName, lpWndClass->lpfnWndProc, lpWndClass->hInstance});
    PLATFORM_TRACE("RegisterClassW(0x%x)", atom);
    return atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE /*hInstance*/) {
    std::lock_guard lock(T().lock);
    const WndClass* c = FindClassLocked(lpClassName);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    ATOM atom = c->atom;
    for (const auto& [key, window] : T().windows) {
        if (window.atom == atom) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    std::erase_if(T().classes, [atom](const WndClass& k) { return k.atom == atom; });
    return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    if (!queue) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HWND hWnd;
    WNDPROC proc;
    {
        std::lock_guard lock(T().lock);
        const WndClass* c = FindClassLocked(lpClassName);
        if (!c) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (hWndParent && !T().windows.count(Key(hWndParent))) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        ULONG_PTR key = NewHandleLocked();
        if (!key) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        hWnd = Handle(key);
        proc = c->proc;
        T().windows.emplace(key, Window{proc, hWndParent, c->atom, hInstance,
                                        reinterpret_cast<LONG_PTR>(hMenu), 0, queue});
    }
    PLATFORM_TRACE("CreateWindowExW(0x%lx)", static_cast<unsigned long>(Key(hWnd)));

    CREATESTRUCTW cs{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                     static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
    LPARAM lp = reinterpret_cast<LPARAM>(&cs);
    if (!CallProc(proc, hWnd, WM_NCCREATE, 0, lp) || CallProc(proc, hWnd, WM_CREATE, 0, lp) == -1) {
        DestroyWindow(hWnd);
        return nullptr;
    }
    return hWnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    WindowRef ref;
    if (!FindWindowRef(hWnd, &ref)) return FALSE;
    if (ref.owner != CurrentQueue()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    {
        std::lock_guard lock(T().lock);
        Window& w = T().windows.at(Key(hWnd));
        if (w.destroying) return TRUE;  // a procedure destroying itself from WM_DESTROY
        w.destroying = true;
    }
    CallProc(ref.proc, hWnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard lock(T().lock);
        for (const auto& [key, window] : T().windows)
            if (window.parent == hWnd) children.push_back(Handle(key));
    }
    for (HWND child : children) DestroyWindow(child);
    CallProc(ref.proc, hWnd, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard lock(T().lock);
        T().windows.erase(Key(hWnd));
    }
    DropQueuedFor(ref.owner, hWnd);
    PLATFORM_TRACE("DestroyWindow(0x%lx)", static_cast<unsigned long>(Key(hWnd)));
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    std::lock_guard lock(T().lock);
    return hWnd && T().windows.count(Key(hWnd)) ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND hWnd) {
    std::lock_guard lock(T().lock);
    auto it = T().windows.find(Key(hWnd));
    if (it == T().windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return it->second.parent;
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
    std::lock_guard lock(T().lock);
    return hWndParent && IsDescendantLocked(Key(hWndParent), Key(hWnd)) ? TRUE : FALSE;
}

namespace {

// The field behind a GWLP_ index, or null (ERROR_INVALID_INDEX).
LONG_PTR* WindowWord(Window& w, int nIndex, WNDPROC** procField) {
    *procField = nullptr;
    switch (nIndex) {
    case GWLP_USERDATA: return &w.userData;
    case GWLP_ID: return &w.id;
    case GWLP_WNDPROC: *procField = &w.proc; return nullptr;
    default: return nullptr;
    }
}

constexpr DWORD kErrorInvalidIndex = 1413;

LONG_PTR AccessWindowWord(HWND hWnd, int nIndex, const LONG_PTR* newValue) {
    std::lock_guard lock(T().lock);
    auto it = T().windows.find(Key(hWnd));
    if (it == T().windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    Window& w = it->second;
    if (nIndex == GWLP_HINSTANCE) {
        LONG_PTR old = reinterpret_cast<LONG_PTR>(w.instance);
        if (newValue) w.instance = reinterpret_cast<HINSTANCE>(*newValue);
        return old;
    }
    WNDPROC* procField;
    LONG_PTR* field = WindowWord(w, nIndex, &procField);
    if (procField) {
        LONG_PTR old = reinterpret_cast<LONG_PTR>(*procField);
        if (newValue) *procField = reinterpret_cast<WNDPROC>(*newValue);
        return old;
    }
    if (!field) {
        SetLastError(kErrorInvalidIndex);
        return 0;
    }
    LONG_PTR old = *field;
    if (newValue) *field = *newValue;
    return old;
}

}  // namespace

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) { return AccessWindowWord(hWnd, nIndex, nullptr); }

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    return AccessWindowWord(hWnd, nIndex, &dwNewLong);
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    switch (Msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hWnd); return 0;
    default: return 0;
    }
}
