// Per-thread message queues: posting, sending, peeking, waiting and
// dispatching. Each thread's queue is reachable from other threads (they
// post and send to its windows) and ends with the thread.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/trace.h"
#include "user/window_state.h"
#include "win/base.h"
#include "win/errors.h"

namespace platform::user {

// A message sent from another thread, waiting for the owner to run it.
struct SentMessage {
    MSG msg{};
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<ThreadQueue> sender;
};

class ThreadQueue {
public:
    std::mutex lock;
    std::condition_variable wake;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool quitPosted = false;
    WPARAM quitCode = 0;
    bool ended = false;
    // Bumped on every arrival, so that a waiter can tell something came.
    unsigned long arrivals = 0;

    bool Post(const MSG& msg) {
        {
            std::lock_guard hold(lock);
            if (ended) return false;
            posted.push_back(msg);
            ++arrivals;
        }
        wake.notify_all();
        return true;
    }

    // The thread is ending: senders still waiting get 0.
    void End() {
        std::deque<std::shared_ptr<SentMessage>> orphans;
        {
            std::lock_guard hold(lock);
            ended = true;
            posted.clear();
            orphans.swap(sent);
        }
        for (auto& s : orphans) Reply(*s, 0);
    }

    static void Reply(SentMessage& s, LRESULT result) {
        {
            std::lock_guard hold(s.sender->lock);
            s.result = result;
            s.done = true;
            ++s.sender->arrivals;
        }
        s.sender->wake.notify_all();
    }
};

namespace {

struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        ForgetWindowsOf(queue.get());
        queue->End();
    }
};

thread_local QueueHolder t_holder;

MSG MakeMsg(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = hWnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

// Runs every message other threads have sent to this thread's windows.
void RunIncomingSends(ThreadQueue& queue) {
    for (;;) {
        std::shared_ptr<SentMessage> s;
        {
            std::lock_guard hold(queue.lock);
            if (queue.sent.empty()) return;
            s = queue.sent.front();
            queue.sent.pop_front();
        }
        WindowRef ref;
        LRESULT result = 0;
        if (FindWindowRef(s->msg.hwnd, &ref) && ref.owner.get() == &queue)
            result = CallProc(ref.proc, s->msg.hwnd, s->msg.message, s->msg.wParam, s->msg.lParam);
        ThreadQueue::Reply(*s, result);
    }
}

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

struct Filter {
    HWND hWnd;
    std::vector<HWND> windows;  // hWnd and its descendants, when hWnd is a window
    UINT min;
    UINT max;

    bool Takes(const MSG& msg) const {
        if (min || max) {
            if (msg.message < min || msg.message > max) return false;
        }
        if (!hWnd) return true;
        if (hWnd == kThreadMessagesOnly) return msg.hwnd == nullptr;
        return std::find(windows.begin(), windows.end(), msg.hwnd) != windows.end();
    }
};

// False with ERROR_INVALID_WINDOW_HANDLE for a window that does not exist.
bool MakeFilter(HWND hWnd, UINT min, UINT max, Filter* filter) {
    filter->hWnd = hWnd;
    filter->min = min;
    filter->max = max;
    if (hWnd && hWnd != kThreadMessagesOnly) {
        filter->windows = WindowAndDescendants(hWnd);
        if (filter->windows.empty()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
    }
    return true;
}

// One look at the queue. *seen receives the arrival count it looked at.
bool TakeMessage(ThreadQueue& queue, const Filter& filter, UINT remove, MSG* out, unsigned long* seen) {
    RunIncomingSends(queue);
    std::lock_guard hold(queue.lock);
    *seen = queue.arrivals;
    auto it = std::find_if(queue.posted.begin(), queue.posted.end(),
                           [&filter](const MSG& m) { return filter.Takes(m); });
    if (it != queue.posted.end()) {
        *out = *it;
        if (remove & PM_REMOVE) queue.posted.erase(it);
        return true;
    }
    // WM_QUIT whatever the filter, but only once the posted messages are gone.
    if (queue.quitPosted) {
        *out = MakeMsg(nullptr, WM_QUIT, queue.quitCode, 0);
        if (remove & PM_REMOVE) queue.quitPosted = false;
        return true;
    }
    return false;
}

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
    if (!t_holder.queue) t_holder.queue = std::make_shared<ThreadQueue>();
    return t_holder.queue;
}

void DropQueuedFor(const std::shared_ptr<ThreadQueue>& queue, HWND hWnd) {
    if (!queue) return;
    std::lock_guard hold(queue->lock);
    std::erase_if(queue->posted, [hWnd](const MSG& m) { return m.hwnd == hWnd; });
}

}  // namespace platform::user

using namespace platform::user;

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> target;
    if (!hWnd) {
        target = CurrentQueue();
    } else {
        WindowRef ref;
        if (!FindWindowRef(hWnd, &ref)) return FALSE;
        target = ref.owner;
    }
    if (!target || !target->Post(MakeMsg(hWnd, Msg, wParam, lParam))) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);  // its thread has ended
        return FALSE;
    }
    PLATFORM_TRACE("PostMessageW(0x%x)", Msg);
    return TRUE;
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    WindowRef ref;
    if (!FindWindowRef(hWnd, &ref)) return 0;
    std::shared_ptr<ThreadQueue> self = CurrentQueue();
    if (ref.owner == self) return CallProc(ref.proc, hWnd, Msg, wParam, lParam);
    if (!ref.owner || !self) return 0;

    auto s = std::make_shared<SentMessage>();
    s->msg = MakeMsg(hWnd, Msg, wParam, lParam);
    s->sender = self;
    {
        std::lock_guard hold(ref.owner->lock);
        if (ref.owner->ended) return 0;
        ref.owner->sent.push_back(s);
        ++ref.owner->arrivals;
    }
    ref.owner->wake.notify_all();
    // While waiting, run what others send to us: two threads sending to each
    // other must not wait for ever.
    for (;;) {
        RunIncomingSends(*self);
        std::unique_lock hold(self->lock);
        if (s->done) return s->result;
        unsigned long seen = self->arrivals;
        self->wake.wait(hold, [&] { return s->done || self->arrivals != seen || !self->sent.empty(); });
        if (s->done) return s->result;
    }
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Filter filter;
    if (!MakeFilter(hWnd, wMsgFilterMin, wMsgFilterMax, &filter)) return FALSE;
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    unsigned long seen;
    return queue && TakeMessage(*queue, filter, wRemoveMsg, lpMsg, &seen) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    Filter filter;
    if (!MakeFilter(hWnd, wMsgFilterMin, wMsgFilterMax, &filter)) return -1;
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    if (!queue) return -1;
    for (;;) {
        unsigned long seen;
        if (TakeMessage(*queue, filter, PM_REMOVE, lpMsg, &seen)) return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        std::unique_lock hold(queue->lock);
        queue->wake.wait(hold, [&] { return queue->arrivals != seen; });
    }
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    if (!lpMsg) return FALSE;
    constexpr UINT kKeyUp = 0x0101, kSysKeyUp = 0x0105, kSysChar = 0x0106;
    switch (lpMsg->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: break;
    case kKeyUp:
    case kSysKeyUp: return TRUE;
    default: return FALSE;
    }
    WPARAM vk = lpMsg->wParam;
    WCHAR ch = 0;
    if ((vk >= '0' && vk <= '9') || vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK ||
        vk == VK_TAB)
        ch = static_cast<WCHAR>(vk);
    else if (vk >= 'A' && vk <= 'Z')
        ch = static_cast<WCHAR>(vk - 'A' + 'a');
    if (ch) PostMessageW(lpMsg->hwnd, lpMsg->message == WM_KEYDOWN ? WM_CHAR : kSysChar, ch, lpMsg->lParam);
    return TRUE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd) return 0;  // thread messages have no procedure
    WindowRef ref;
    if (!FindWindowRef(lpMsg->hwnd, &ref)) return 0;
    if (ref.owner != CurrentQueue()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    PLATFORM_TRACE("DispatchMessageW(0x%x)", lpMsg->message);
    return CallProc(ref.proc, lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
    if (!lpMsg || !hDlg || !IsWindow(hDlg)) return FALSE;
    if (lpMsg->hwnd != hDlg && !IsChild(hDlg, lpMsg->hwnd)) return FALSE;
    // The dialog's keyboard interface: Escape cancels, Return is the default
    // button; their character messages are consumed with them.
    if (lpMsg->message == WM_KEYDOWN && (lpMsg->wParam == VK_ESCAPE || lpMsg->wParam == VK_RETURN)) {
        SendMessageW(hDlg, WM_COMMAND, lpMsg->wParam == VK_ESCAPE ? IDCANCEL : IDOK, 0);
        return TRUE;
    }
    if (lpMsg->message == WM_CHAR && (lpMsg->wParam == VK_ESCAPE || lpMsg->wParam == VK_RETURN)) return TRUE;
    DispatchMessageW(lpMsg);
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    if (!queue) return;
    {
        std::lock_guard hold(queue->lock);
        queue->quitPosted = true;
        queue->quitCode = static_cast<WPARAM>(static_cast<LONG_PTR>(nExitCode));
        ++queue->arrivals;
    }
    queue->wake.notify_all();
}
