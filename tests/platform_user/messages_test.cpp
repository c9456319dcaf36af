// Windows and message queues: what a client dialog and the abort procedure
// rely on, including queues reached from other threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "windows.h"

namespace {

// What the test window procedure saw, per window.
struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
};
thread_local std::vector<Seen> t_seen;

LRESULT CALLBACK RecordingProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_NCCREATE && msg != WM_CREATE) t_seen.push_back({hWnd, msg, wParam});
    if (msg == WM_USER + 7) return 77;
    if (msg == WM_CREATE && reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams == reinterpret_cast<void*>(1))
        return -1;  // refuse creation
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

class Messages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = u"PresselTestWindow";
        ASSERT_NE(RegisterClassW(&wc), 0);
    }
    void SetUp() override {
        t_seen.clear();
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {}
    }
    static HWND Make(HWND parent = nullptr, void* param = nullptr) {
        return CreateWindowExW(0, u"presseltestwindow", u"t", parent ? WS_CHILD : WS_POPUP, 0, 0, 10, 10, parent,
                               nullptr, nullptr, param);
    }
};

TEST_F(Messages, ClassesAreUniqueAndWindowsNeedOne) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = u"PRESSELTESTWINDOW";
    EXPECT_EQ(RegisterClassW(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_EQ(Make(nullptr, reinterpret_cast<void*>(1)), nullptr);  // WM_CREATE said -1
}

TEST_F(Messages, HandlesFitThirtyTwoBitsAndRoundTrip) {
    HWND h = Make();
    ASSERT_NE(h, nullptr);
    auto value = reinterpret_cast<ULONG_PTR>(h);
    EXPECT_LE(value, 0x7FFFFFFFu);
    HWND back = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(static_cast<LONG>(value)));
    EXPECT_TRUE(IsWindow(back));
    EXPECT_EQ(SetWindowLongPtrW(h, GWLP_USERDATA, 42), 0);
    EXPECT_EQ(GetWindowLongPtrW(h, GWLP_USERDATA), 42);
    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_FALSE(IsWindow(back));
}

TEST_F(Messages, PeekFiltersByWindowRangeAndRemoval) {
    HWND a = Make(), b = Make(), child = Make(a);
    ASSERT_TRUE(a && b && child);
    ASSERT_TRUE(PostMessageW(a, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageW(b, WM_USER + 2, 2, 0));
    ASSERT_TRUE(PostMessageW(child, WM_USER + 3, 3, 0));
    ASSERT_TRUE(PostMessageW(nullptr, WM_APP, 4, 0));
    struct Case {
        HWND hwnd;
        UINT min, max, remove;
        BOOL found;
        WPARAM wParam;
    } cases[] = {
        {b, 0, 0, PM_NOREMOVE, TRUE, 2},                     // that window only
        {a, WM_USER + 3, WM_USER + 3, PM_NOREMOVE, TRUE, 3},  // descendants count as the window
        {reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE, TRUE, 4},  // thread messages only
        {nullptr, WM_USER + 2, WM_USER + 3, PM_REMOVE, TRUE, 2},
        {b, 0, 0, PM_NOREMOVE, FALSE, 0},  // removed above
        {nullptr, 0, 0, PM_REMOVE, TRUE, 1},  // posting order
        {nullptr, WM_COMMAND, WM_COMMAND, PM_NOREMOVE, FALSE, 0},
    };
    for (const Case& c : cases) {
        MSG m{};
        EXPECT_EQ(PeekMessageW(&m, c.hwnd, c.min, c.max, c.remove), c.found) << c.wParam;
        if (c.found) {
            EXPECT_EQ(m.wParam, c.wParam);
        }
    }
    HWND gone = b;
    DestroyWindow(gone);
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, gone, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(a);
    EXPECT_FALSE(IsWindow(child));  // children go with their parent
}

TEST_F(Messages, DispatchCallsTheProcedureAndQuitComesLast) {
    HWND h = Make();
    PostMessageW(h, WM_USER + 7, 9, 0);
    PostQuitMessage(3);
    PostMessageW(h, WM_USER + 8, 0, 0);
    MSG m;
    ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(DispatchMessageW(&m), 77);
    ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
    EXPECT_EQ(m.message, WM_USER + 8);
    EXPECT_EQ(GetMessageW(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);
    ASSERT_EQ(t_seen.size(), 1u);
    EXPECT_EQ(t_seen[0].wParam, 9u);
    DestroyWindow(h);
    EXPECT_EQ(t_seen.back().msg, WM_NCDESTROY);
}

TEST_F(Messages, DialogTakesItsOwnMessagesAndMapsEscapeAndReturn) {
    HWND dlg = Make(), button = Make(dlg), other = Make();
    struct Case {
        HWND target;
        UINT msg;
        WPARAM wParam;
        BOOL handled;
        UINT seenMsg;  // what the procedure got (0: nothing)
        WPARAM seenWParam;
        HWND seenBy;
    } cases[] = {
        {dlg, WM_COMMAND, IDCANCEL, TRUE, WM_COMMAND, IDCANCEL, dlg},
        {button, WM_USER, 5, TRUE, WM_USER, 5, button},
        {button, WM_KEYDOWN, VK_ESCAPE, TRUE, WM_COMMAND, IDCANCEL, dlg},
        {dlg, WM_KEYDOWN, VK_RETURN, TRUE, WM_COMMAND, IDOK, dlg},
        {dlg, WM_CHAR, VK_ESCAPE, TRUE, 0, 0, nullptr},
        {other, WM_COMMAND, IDOK, FALSE, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        t_seen.clear();
        MSG m{};
        m.hwnd = c.target;
        m.message = c.msg;
        m.wParam = c.wParam;
        EXPECT_EQ(IsDialogMessageW(dlg, &m), c.handled) << c.msg;
        if (c.seenMsg) {
            ASSERT_EQ(t_seen.size(), 1u) << c.msg;
            EXPECT_EQ(t_seen[0].msg, c.seenMsg);
            EXPECT_EQ(t_seen[0].wParam, c.seenWParam);
            EXPECT_EQ(t_seen[0].hwnd, c.seenBy);
        } else {
            EXPECT_TRUE(t_seen.empty()) << c.msg;
        }
    }
    DestroyWindow(dlg);
    DestroyWindow(other);
}

TEST_F(Messages, TranslateTurnsKeysIntoCharacters) {
    HWND h = Make();
    MSG key{h, WM_KEYDOWN, 'Q', 0, 0, {}};
    EXPECT_TRUE(TranslateMessage(&key));
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, h, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_CHAR);
    EXPECT_EQ(m.wParam, static_cast<WPARAM>('q'));
    MSG notKey{h, WM_USER, 0, 0, 0, {}};
    EXPECT_FALSE(TranslateMessage(&notKey));
    DestroyWindow(h);
}

TEST_F(Messages, OtherThreadsPostAndSendToTheOwner) {
    HWND h = Make();
    std::atomic<LRESULT> sendResult{0};
    std::thread other([h, &sendResult] {
        EXPECT_TRUE(PostMessageW(h, WM_USER + 1, 11, 0));
        sendResult = SendMessageW(h, WM_USER + 7, 12, 0);  // waits for the owner's next look at its queue
        EXPECT_FALSE(DestroyWindow(h));  // not its window
        EXPECT_TRUE(PostMessageW(h, WM_USER + 2, 13, 0));
    });
    MSG m;
    std::vector<WPARAM> got;
    while (got.size() < 2 && GetMessageW(&m, nullptr, 0, 0) > 0) {
        DispatchMessageW(&m);
        got.push_back(m.wParam);
    }
    other.join();
    EXPECT_EQ(sendResult.load(), 77);
    EXPECT_EQ(got, (std::vector<WPARAM>{11, 13}));
    std::vector<WPARAM> ran;
    for (const Seen& s : t_seen) ran.push_back(s.wParam);
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<WPARAM>{11, 12, 13}));  // the sent one ran on this thread
    DestroyWindow(h);
}

TEST_F(Messages, WindowsEndWithTheirThread) {
    HWND h = nullptr;
    std::thread owner([&h] { h = Make(); });
    owner.join();
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessageW(h, WM_USER, 0, 0));
    EXPECT_EQ(SendMessageW(h, WM_USER + 7, 0, 0), 0);
}

}  // namespace
