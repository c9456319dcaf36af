// Finish, Cancel and UserAbort, and the abort procedure with a dialog whose
// messages it dispatches between the chunks of a line.
#include "job_fixture.h"
#include "win/user.h"

namespace job_test {
namespace {

// The dialog: a Cancel button press (WM_COMMAND IDCANCEL) cancels the job of
// the control kept in the window's user data.
// WM_USER + 5 posts itself again every time it is handled.
constexpr UINT kEcho = WM_USER + 5;
int g_echoes = 0;

LRESULT CALLBACK DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kEcho) {
        ++g_echoes;
        PostMessageW(hWnd, kEcho, 0, 0);
        return 0;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        reinterpret_cast<IPressel*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA))->Cancel();
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

class AbortFixture : public JobFixture {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DialogProc;
        wc.lpszClassName = u"JobTestDialog";
        RegisterClassW(&wc);
    }
    void SetUp() override {
        JobFixture::SetUp();
        dlg_ = CreateWindowExW(0, u"JobTestDialog", u"Printing", WS_POPUP, 0, 0, 100, 50, nullptr, nullptr, nullptr,
                               nullptr);
        ASSERT_NE(dlg_, nullptr);
        SetWindowLongPtrW(dlg_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(ip_));
        s_calls = 0;
        s_postAt = 0;
        s_dlg = dlg_;
    }
    void TearDown() override {
        DestroyWindow(dlg_);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {}
        JobFixture::TearDown();
    }
    LONG DialogHandle() const { return static_cast<LONG>(reinterpret_cast<ULONG_PTR>(dlg_)); }

    // Stands in front of the real abort procedure: posts the Cancel button's
    // message just before consultation s_postAt, so the real procedure
    // dispatches it at that chunk.
    static BOOL CountingAbortProc(LONG hPort, int reserved) {
        if (++s_calls == s_postAt) PostMessageW(s_dlg, WM_COMMAND, IDCANCEL, 0);
        return CPressel::AbortProc(hPort, reserved);
    }
    static inline int s_calls = 0;
    static inline int s_postAt = 0;
    static inline HWND s_dlg = nullptr;
    HWND dlg_ = nullptr;
};

TEST_F(AbortFixture, CancelFromTheDialogStopsALineBetweenChunks) {
    WriteIni("ShutdownCharCount=3\nShutdownChar=0x21\n");
    ASSERT_EQ(Start(DialogHandle()), 0);
    Object(ip_)->m_pfnAbortProc = CountingAbortProc;
    s_postAt = 2;  // the second chunk of the line
    std::u16string line(150, u'x');
    Write(ip_, line.c_str());
    ip_->NewLine();
    EXPECT_FALSE(StillPrinting(ip_));
    // The font sequence and 62 letters made the first chunk of 64 units.
    EXPECT_EQ(Read(out_), Bytes("^@^N^N") + std::string(62, 'x'));
    Line(ip_, u"more");
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N^N") + std::string(62, 'x'));  // no shut-down characters either
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{1, 10}}));
    EXPECT_EQ(PrinterDC(ip_), -1);
}

TEST_F(AbortFixture, EscapeInTheDialogActsAsItsCancelButton) {
    WriteIni("");
    ASSERT_EQ(Start(DialogHandle()), 0);
    PostMessageW(dlg_, WM_KEYDOWN, VK_ESCAPE, 0);
    Line(ip_, u"never");
    EXPECT_FALSE(StillPrinting(ip_));
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{1, 10}}));
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N"));
}

TEST_F(AbortFixture, AHandlerThatKeepsPostingCannotHoldTheJob) {
    WriteIni("");
    ASSERT_EQ(Start(DialogHandle()), 0);
    g_echoes = 0;
    PostMessageW(dlg_, kEcho, 0, 0);
    Line(ip_, u"a");
    Line(ip_, u"b");
    EXPECT_TRUE(StillPrinting(ip_));
    EXPECT_GT(g_echoes, 0);
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N^Na\r\n^Nb\r\n^N\f\r\n"));
}

TEST_F(AbortFixture, WithoutADialogNoMessageIsTouched) {
    WriteIni("");
    ASSERT_EQ(Start(0), 0);
    PostMessageW(dlg_, WM_COMMAND, IDCANCEL, 0);
    Line(ip_, u"kept");
    EXPECT_TRUE(StillPrinting(ip_));
    MSG m;
    EXPECT_TRUE(PeekMessageW(&m, dlg_, 0, 0, PM_NOREMOVE));
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N^Nkept\r\n^N\f\r\n"));
}

TEST_F(AbortFixture, QuitRequestSurvivesTheAbortProcedure) {
    WriteIni("");
    ASSERT_EQ(Start(DialogHandle()), 0);
    PostQuitMessage(4);
    Line(ip_, u"x");
    EXPECT_TRUE(StillPrinting(ip_));
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 4u);
    ip_->Finish();
}

TEST_F(AbortFixture, FinishFromTheDialogEndsTheJobWithoutUsingItAfterwards) {
    WriteIni("");
    ASSERT_EQ(Start(DialogHandle()), 0);
    LONG port = PrinterDC(ip_);
    EXPECT_EQ(CPressel::FindInstanceByPort(port), Object(ip_));
    PostMessageW(dlg_, WM_CLOSE, 0, 0);  // closes the dialog: the window goes, the job goes on
    Line(ip_, u"a");
    EXPECT_FALSE(IsWindow(dlg_));
    EXPECT_TRUE(StillPrinting(ip_));
    ip_->Finish();
    EXPECT_EQ(CPressel::FindInstanceByPort(port), nullptr);
    EXPECT_EQ(CPressel::AbortProc(port, 0), 0);  // nobody owns that port any more
}

using StopMethod = HRESULT (IPressel::*)();

class StopMethods : public JobFixture, public ::testing::WithParamInterface<StopMethod> {};

TEST_P(StopMethods, StopTheJobButLeaveThePortToFinish) {
    WriteIni("ShutdownCharCount=1\nShutdownChar=0x21\n");
    ASSERT_EQ(Start(), 0);
    Line(ip_, u"a");
    EXPECT_EQ((ip_->*GetParam())(), S_OK);
    EXPECT_FALSE(StillPrinting(ip_));
    EXPECT_NE(PrinterDC(ip_), -1);
    EXPECT_EQ(Object(ip_)->m_nInstanceSlot, 0);
    Line(ip_, u"b");
    ip_->FormFeed();
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N^Na\r\n"));
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{1, 10}}));
    EXPECT_EQ(PrinterDC(ip_), -1);
    EXPECT_EQ(Object(ip_)->m_nInstanceSlot, -1);
}

INSTANTIATE_TEST_SUITE_P(CancelAndUserAbort, StopMethods,
                         ::testing::Values(&IPressel::Cancel, &IPressel::UserAbort));

TEST_F(JobFixture, SecondFinishSendsNothing) {
    WriteIni("ShutdownCharCount=1\nShutdownChar=0x21\n");
    ASSERT_EQ(Start(), 0);
    ip_->Finish();
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N!"));
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{2, 0}}));
    EXPECT_EQ(LastError(ip_), 0);
}

TEST_F(JobFixture, RestartingOneJobLeavesAnotherRegistered) {
    WriteIni("");
    Sink& sinkB = otherSink_;
    IPressel* b = NewControl(&sinkB);
    ASSERT_EQ(Start(), 0);
    ASSERT_EQ(Start(b, ini_, Path("b.prn")), 0);
    EXPECT_EQ(Object(b)->m_nInstanceSlot, 1);
    ip_->Finish();
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(Object(ip_)->m_nInstanceSlot, 0);
    EXPECT_EQ(g_apInstances[1], Object(b));
    Line(b, u"b");
    EXPECT_TRUE(StillPrinting(b));
    b->Finish();
    ip_->Finish();
    EXPECT_EQ(Read(Path("b.prn")), Bytes("^@^N^Nb\r\n^N\f\r\n"));
}

}  // namespace
}  // namespace job_test
