// Private to the platform layer: what windows.cpp (classes, windows) and
// messages.cpp (per-thread queues) tell each other.
//
// Locking: the window table and each queue have their own mutex, and no code
// holds both at once; window procedures are always called with no lock held,
// because they re-enter the layer.
#pragma once

#include <memory>
#include <vector>

#include "win/user.h"

namespace platform::user {

class ThreadQueue;

// The calling thread's queue, made on first use; it lives until the thread
// ends (its windows go with it).
std::shared_ptr<ThreadQueue> CurrentQueue();

// A window's procedure and owning queue, looked up by handle.
struct WindowRef {
    WNDPROC proc = nullptr;
    std::shared_ptr<ThreadQueue> owner;  // null when the owner thread has ended
};
// False (ERROR_INVALID_WINDOW_HANDLE set) when hWnd names no window.
bool FindWindowRef(HWND hWnd, WindowRef* ref);

// hWnd and every window below it.
std::vector<HWND> WindowAndDescendants(HWND hWnd);

// Called by a queue whose thread is ending: its windows are forgotten
// without messages (no procedure may run on a finished thread).
void ForgetWindowsOf(const ThreadQueue* queue);

// Drops the posted messages still queued for hWnd.
void DropQueuedFor(const std::shared_ptr<ThreadQueue>& queue, HWND hWnd);

// Calls proc on the calling thread, which must own the window.
inline LRESULT CallProc(WNDPROC proc, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hWnd, msg, wParam, lParam) : 0;
}

}  // namespace platform::user
