// The status protocol on a read-write serial port, with the master side of
// a pseudo-terminal playing the printer: the gate before every write and the
// wait for the printer at the end of the job.
#include <atomic>
#include <thread>

#include "port_fixture.h"
#include "pressel/trace.h"

namespace {

using namespace port_test;

CPressel* g_abortOwner = nullptr;
int g_abortCalls = 0;
BOOL TestAbortProc(LONG, int) {
    ++g_abortCalls;
    return g_abortOwner ? g_abortOwner->m_bPrinting : 0;
}

const std::string kEndOfJob = "\x1b" "e";
const std::string kRequest = "\x1b{ST?}";

class StatusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UseScratchRegistry(); }

    void SetUp() override {
        ASSERT_NE(ctl->OpenPort(u"COM7:,9600,N,8,1,Y", u""), -1);
        ASSERT_EQ(ctl->m_bReadWrite, 1);
        ctl->m_pfnAbortProc = TestAbortProc;
        g_abortOwner = ctl.pressel;
        g_abortCalls = 0;
        printer.Receive(50);  // the line toggling may leave nothing, but be sure
    }
    void TearDown() override {
        StopPeer();
        g_abortOwner = nullptr;
        ctl->m_bReadWrite = 0;
        ctl->ClosePort(ctl->m_hPort);
        ctl->m_hPort = -1;
    }

    // Sends `bytes` and waits until the port has them queued.
    void PrinterSays(const std::string& bytes) {
        printer.Send(bytes);
        WaitForInput(ctl.Handle(), static_cast<DWORD>(bytes.size()));
    }

    // A peer thread that answers each end-of-job or status request with the
    // next of `answers` (an empty answer is silence), and records what it got.
    void StartPeer(std::vector<std::string> answers) {
        peer_ = std::thread([this, answers = std::move(answers)] {
            size_t next = 0;
            std::string pending;
            // After the stop, one last quiet read picks up what is still in flight.
            for (;;) {
                bool stopping = stop_;
                std::string got = printer.Receive(20);
                if (stopping && got.empty()) break;
                received_ += got;
                pending += got;
                for (;;) {
                    size_t e = pending.find(kEndOfJob), q = pending.find(kRequest);
                    size_t at = std::min(e, q);
                    if (at == std::string::npos) break;
                    pending.erase(0, at + (at == e ? kEndOfJob.size() : kRequest.size()));
                    if (next < answers.size() && !answers[next].empty()) printer.Send(answers[next]);
                    ++next;
                }
            }
        });
    }
    void StopPeer() {
        stop_ = true;
        if (peer_.joinable()) peer_.join();
    }

    PtyPrinter printer;
    Control ctl;
    std::thread peer_;
    std::atomic<bool> stop_{false};
    std::string received_;  // read only after StopPeer
};

TEST_F(StatusTest, QuietPrinterCostsOneClearCommErrorPerWrite) {
    pressel_trace::Enable(true);
    EXPECT_TRUE(ctl->WritePort(ctl->m_hPort, "hello", 5));
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "ClearCommError"), 1);
    EXPECT_EQ(printer.Receive(), "hello");
    EXPECT_TRUE(ctl.sink.notes.empty());
}

TEST_F(StatusTest, ConditionIsReportedOncePerGate) {
    PrinterSays("{ST!B:V}{ST!B:V;P:X}");
    EXPECT_TRUE(ctl->WritePort(ctl->m_hPort, "one", 3));
    EXPECT_EQ(ctl.sink.notes, (std::vector<std::pair<LONG, LONG>>{{1080, 224}}));
    PrinterSays("{ST!B:V}");
    EXPECT_TRUE(ctl->WritePort(ctl->m_hPort, "two", 3));
    PrinterSays("{ST!P:N}{ST!B:V}");
    EXPECT_TRUE(ctl->WritePort(ctl->m_hPort, "three", 5));
    EXPECT_EQ(ctl.sink.notes, (std::vector<std::pair<LONG, LONG>>{{1080, 224}, {1080, 224}, {1080, 223}, {1080, 224}}));
    EXPECT_EQ(printer.Receive(), "onetwothree");
}

TEST_F(StatusTest, FatalConditionStopsBeforeAnyByte) {
    PrinterSays("{ST!H:T}");
    EXPECT_FALSE(ctl->WritePort(ctl->m_hPort, "lost", 4));
    EXPECT_EQ(ctl.sink.notes, (std::vector<std::pair<LONG, LONG>>{{1080, 228}}));
    EXPECT_EQ(printer.Receive(), "");
}

TEST_F(StatusTest, HandlerThatCancelsStopsTheWrite) {
    ctl.sink.onNotify = [this](std::pair<LONG, LONG>) { ctl->m_bPrinting = 0; };
    PrinterSays("{ST!P:N}");
    EXPECT_FALSE(ctl->WritePort(ctl->m_hPort, "lost", 4));
    EXPECT_EQ(ctl.sink.notes.size(), 1u);
    EXPECT_EQ(printer.Receive(), "");
}

TEST_F(StatusTest, MalformedFrameFailsTheWrite) {
    PrinterSays("{ST!B:V;}");
    EXPECT_FALSE(ctl->WritePort(ctl->m_hPort, "lost", 4));
    EXPECT_TRUE(ctl.sink.notes.empty());
    EXPECT_EQ(printer.Receive(), "");
}

TEST_F(StatusTest, StartSequenceAndStatusRequest) {
    EXPECT_TRUE(ctl->SendRwStartSeq(ctl->m_hPort));
    EXPECT_EQ(printer.Receive(), "\x1bs7");
    StartPeer({"{ST!S:C}"});
    LONG state = -1, code = -1;
    EXPECT_TRUE(ctl->QueryPrinterStatus(ctl->m_hPort, &state, &code));
    EXPECT_EQ(state, 2);
    EXPECT_EQ(code, 0);
    StopPeer();
    EXPECT_EQ(received_, kRequest);
}

struct WaitCase {
    const char* name;
    std::vector<std::string> answers;  // to the end of job, then to each request
    BOOL result;
    std::string sent;
    std::vector<std::pair<LONG, LONG>> notes;
};

TEST_F(StatusTest, WaitPrinterDone) {
    const WaitCase cases[] = {
        {"done at once", {"{ST!S:C}"}, 1, kEndOfJob, {}},
        {"idle then done", {"{ST!S:I}{ST!S:C}"}, 1, kEndOfJob, {}},
        {"idle twice", {"{ST!S:I}{ST!S:I}"}, 0, kEndOfJob, {}},
        {"condition once then done", {"{ST!B:V}{ST!B:V}{ST!S:C}"}, 1, kEndOfJob, {{1080, 224}}},
        {"fatal", {"{ST!J:J}"}, 0, kEndOfJob, {{1080, 222}}},
        {"answers the request", {"", "{ST!S:C}"}, 1, kEndOfJob + kRequest, {}},
        {"malformed", {"{ST!S:;}"}, 0, kEndOfJob, {}},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.name);
        stop_ = false;
        received_.clear();
        ctl.sink.notes.clear();
        ctl->m_bReadWrite = 1;
        ctl->m_bPrinting = 1;
        COMMTIMEOUTS before{};
        ASSERT_TRUE(GetCommTimeouts(ctl.Handle(), &before));
        StartPeer(c.answers);
        EXPECT_EQ(ctl->WaitPrinterDone(ctl->m_hPort), c.result);
        StopPeer();
        EXPECT_EQ(received_, c.sent);
        EXPECT_EQ(ctl.sink.notes, c.notes);
        EXPECT_EQ(ctl->m_bReadWrite, 0);
        COMMTIMEOUTS after{};
        ASSERT_TRUE(GetCommTimeouts(ctl.Handle(), &after));
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        tcflush(printer.slave, TCIOFLUSH);
    }
}

TEST_F(StatusTest, WaitForSilentPrinterAsksTwiceThenFails) {
    StartPeer({});
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ctl->WaitPrinterDone(ctl->m_hPort));
    StopPeer();
    EXPECT_EQ(received_, kEndOfJob + kRequest + kRequest);
    // Each silent read waited the 2000 ms of the end-of-job wait.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5500));
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(ctl.Handle(), &t));
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
}

TEST_F(StatusTest, WaitEndsWhenTheAbortProcedureStops) {
    StartPeer({"{ST!S:I}"});
    ctl.sink.onNotify = nullptr;
    g_abortOwner = nullptr;  // the abort procedure answers 0
    EXPECT_TRUE(ctl->WaitPrinterDone(ctl->m_hPort));
    EXPECT_EQ(ctl->m_bPrinting, 0);
    EXPECT_EQ(g_abortCalls, 1);
    // With no job running nothing is sent at all.
    EXPECT_TRUE(ctl->WaitPrinterDone(ctl->m_hPort));
    StopPeer();
    EXPECT_EQ(received_, kEndOfJob);
}

TEST_F(StatusTest, CloseWaitsForThePrinter) {
    StartPeer({"{ST!S:C}"});
    EXPECT_TRUE(ctl->ClosePort(ctl->m_hPort));
    ctl->m_hPort = -1;
    StopPeer();
    EXPECT_EQ(received_, kEndOfJob);
    EXPECT_EQ(ctl->m_bFilePort, 0);
}

}  // namespace
