// StartLP: the bytes a started job sends, the profile sources, failures, the
// instance table and what happens to a job whose control goes away.
#include <atomic>
#include <chrono>
#include <thread>

#include "job_fixture.h"

namespace job_test {
namespace {

using Clock = std::chrono::steady_clock;

TEST_F(JobFixture, StartupRunComesAfterTheDelayThenInitAndFont) {
    WriteIni("StartupCharCount=300\nStartupChar=0x00\nStartupDelay=80\nShutdownCharCount=2\nShutdownChar=0x21\n"
             "PrintableLines=10\n");
    // The footer is counted before the pause; from then on the file must
    // stay empty for the whole delay.
    std::atomic<Clock::rep> measured{0}, firstByte{0};
    std::thread watcher([&] {
        for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            std::error_code ec;
            if (measured != 0 && std::filesystem::file_size(out_, ec) > 0 && !ec) {
                firstByte = Clock::now().time_since_epoch().count();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    sink_.onHeader = [&](LONG footer) {
        if (footer == 1) measured = Clock::now().time_since_epoch().count();
    };
    EXPECT_EQ(Start(), 0);
    watcher.join();
    ASSERT_NE(firstByte, 0);
    EXPECT_GE(Clock::duration(firstByte - measured), std::chrono::milliseconds(75));

    EXPECT_EQ(Read(out_), std::string(300, '\0') + Bytes("^@^N"));
    EXPECT_TRUE(StillPrinting(ip_));
    EXPECT_EQ(LastError(ip_), 0);
    EXPECT_EQ(ip_->Finish(), S_OK);
    EXPECT_EQ(Read(out_), std::string(300, '\0') + Bytes("^@^N!!"));
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{2, 0}}));
    EXPECT_EQ(PrinterDC(ip_), -1);
}

TEST_F(JobFixture, WholeJobWithPagesAndTextLeftWithoutALineEndOnAFullPage) {
    WriteIni("PrintableLines=4\nShutdownCharCount=1\nShutdownChar=0x2A\nFormFeedSeq=12\n");
    sink_.onHeader = [this](LONG footer) { Line(ip_, footer ? u"F" : u"H"); };
    ASSERT_EQ(Start(), 0);
    Line(ip_, u"a");
    Line(ip_, u"b");
    Write(ip_, u"tail");  // no line end, and the body is full
    ip_->Finish();
    // Pages of four lines with a one-line footer: H a b fill the body, so
    // Finish pads nothing, discards the unended text, and ends the page.
    EXPECT_EQ(Read(out_), Bytes("^@^N^NH\r\n^Na\r\n^Nb\r\n^NF\r\n^N\f*"));
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{2, 0}}));
}

TEST_F(JobFixture, DefaultsForLineEndAndFormFeed) {
    std::ofstream(ini_) << "[P]\nEntryName=E\nPortName=" << out_
                        << "\nStartupDelay=0\nShutdownDelay=0\nPrintableLines=2\n[PrinterPorts]\nE=X\n";
    ASSERT_EQ(Start(ip_, ini_, ""), 0);
    Line(ip_, u"x");
    ip_->Finish();
    EXPECT_EQ(Read(out_), "x\r\n\r\n\f\r\n");
}

TEST_F(JobFixture, DebugFileReplacesThePortName) {
    std::string port = Path("port.prn");
    WriteIni("PortName=" + port + "\n");
    ASSERT_EQ(Start(), 0);
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^@^N"));
    EXPECT_FALSE(std::filesystem::exists(port));
}

TEST_F(JobFixture, SecondStartFinishesTheFirstJobCompletely) {
    WriteIni("ShutdownCharCount=1\nShutdownChar=0x2A\n");
    ASSERT_EQ(Start(), 0);
    Line(ip_, u"one");
    std::string second = Path("second.prn");
    ASSERT_EQ(Start(ip_, ini_, second), 0);
    EXPECT_EQ(Read(out_), Bytes("^@^N^None\r\n^N\f\r\n*"));
    EXPECT_EQ(Read(second), Bytes("^@^N"));
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{2, 0}}));
    EXPECT_EQ(Object(ip_)->m_nInstanceSlot, 0);
    ip_->Finish();
}

TEST_F(JobFixture, RegistryProfileAndItsPathKeptWhenNull) {
    auto set = [](const char16_t* key, const char16_t* name, const char16_t* value) {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((std::char_traits<char16_t>::length(value) + 1) * 2));
        RegCloseKey(h);
    };
    set(u"Software\\Test\\P", u"EntryName", u"E");
    set(u"Software\\Test\\P", u"InitSeq", u"27,82");
    set(u"Software\\Test\\P", u"StartupDelay", u"0");
    set(u"Software\\Test\\P", u"ShutdownDelay", u"0");
    set(u"Software\\Test\\PrinterPorts", u"E", u"LPT1:");

    BSTR key = SysAllocString(u"Software\\Test");
    BSTR printer = SysAllocString(u"P");
    BSTR debug = SysAllocString(U16(out_).c_str());
    BSTR empty = SysAllocString(u"");
    LONG val = -1;
    ASSERT_EQ(ip_->StartLP(key, printer, debug, 0, empty, &val), S_OK);
    EXPECT_EQ(val, 0);
    EXPECT_EQ(Object(ip_)->m_bUseRegistry, 1);
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^R"));
    // No key path this time: the one given before is used again.
    ASSERT_EQ(ip_->StartLP(nullptr, printer, debug, 0, nullptr, &val), S_OK);
    EXPECT_EQ(val, 0);
    ip_->Finish();
    EXPECT_EQ(Read(out_), Bytes("^R"));
    for (BSTR b : {key, printer, debug, empty}) SysFreeString(b);
}

struct FailureCase {
    const char* what;
    const char* ini;  // null: no INI file at all
    const char* debugFile;
    LONG val;
    HRESULT code;
};

class StartFailures : public JobFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartFailures, ReportTheCodeTheEventAndLeaveTheControlIdle) {
    const FailureCase& c = GetParam();
    if (c.ini) std::ofstream(ini_) << c.ini;
    std::string debug = c.debugFile ? Path(c.debugFile) : out_;
    for (LONG returnState : {0, 1}) {
        sink_.notifications.clear();
        ip_->put_ErrorReturnState(returnState);
        HRESULT hr = E_FAIL;
        EXPECT_EQ(Start(ip_, ini_, debug, 0, u"P", &hr), c.val) << c.what;
        EXPECT_EQ(hr, returnState ? c.code : S_OK) << c.what;
        EXPECT_EQ(LastError(ip_), c.code) << c.what;
        LONG method = 0;
        ip_->get_ErrorMethodID(&method);
        EXPECT_EQ(method, 11);
        EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{1, c.val}})) << c.what;
        EXPECT_FALSE(StillPrinting(ip_));
        EXPECT_EQ(PrinterDC(ip_), -1);
        EXPECT_EQ(Object(ip_)->m_nInstanceSlot, -1);
        for (CPressel* p : g_apInstances) EXPECT_NE(p, Object(ip_));
    }
}

constexpr HRESULT kEntryMissing = static_cast<HRESULT>(0x80040D01);
constexpr HRESULT kNoPrinterDC = static_cast<HRESULT>(0x80040D04);

INSTANTIATE_TEST_SUITE_P(
    Cases, StartFailures,
    ::testing::Values(
        FailureCase{"no INI file", nullptr, nullptr, 8, kEntryMissing},
        FailureCase{"no EntryName", "[P]\nStartupDelay=0\n[PrinterPorts]\nE=LPT1:\n", nullptr, 8, kEntryMissing},
        FailureCase{"entry without port line", "[P]\nEntryName=E\n[PrinterPorts]\nOther=LPT1:\n", nullptr, 8,
                    kEntryMissing},
        FailureCase{"output cannot be opened", "[P]\nEntryName=E\nStartupDelay=0\n[PrinterPorts]\nE=LPT1:\n",
                    "no/such/dir/out.prn", 7, kNoPrinterDC}));

TEST_F(JobFixture, ThirtyThirdJobStopsAtOnceAndSaysSo) {
    WriteIni("");
    std::vector<IPressel*> others;
    for (int i = 0; i < kMaxInstances; ++i) {
        IPressel* ip = NewControl(&sink_);
        ASSERT_EQ(Start(ip, ini_, Path(("o" + std::to_string(i)).c_str())), 0);
        others.push_back(ip);
    }
    sink_.notifications.clear();
    std::string last = Path("last.prn");
    Sink& lastSink = otherSink_;
    IPressel* ip = NewControl(&lastSink);
    EXPECT_EQ(Start(ip, ini_, last), 0);
    EXPECT_FALSE(StillPrinting(ip));
    EXPECT_EQ(LastError(ip), 0);
    EXPECT_EQ(lastSink.notifications, (std::vector<Pair>{{1, 2}}));
    EXPECT_EQ(Read(last), "");
    ip->Finish();
    EXPECT_EQ(PrinterDC(ip), -1);

    // Once a slot is free again the same control starts normally.
    others[5]->Finish();
    EXPECT_EQ(Start(ip, ini_, last), 0);
    EXPECT_TRUE(StillPrinting(ip));
    EXPECT_EQ(Object(ip)->m_nInstanceSlot, 5);
    EXPECT_EQ(Read(last), Bytes("^@^N"));
    ip->Finish();
    for (IPressel* o : others) o->Finish();
}

TEST_F(JobFixture, ReleaseDuringAJobFinishesItAndForgetsTheObject) {
    WriteIni("ShutdownCharCount=1\nShutdownChar=0x2A\n");
    Sink sink;
    IPressel* ip = NewControl(&sink);
    ASSERT_EQ(Start(ip, ini_, out_), 0);
    Line(ip, u"x");
    CPressel* object = Object(ip);
    Control c = controls_.back();
    controls_.pop_back();
    c.cp->Release();  // the sink stays connected to hear the end of the job
    EXPECT_EQ(ip->Release(), 0u);
    EXPECT_EQ(Read(out_), Bytes("^@^N^Nx\r\n^N\f\r\n*"));
    EXPECT_EQ(sink.notifications, (std::vector<Pair>{{2, 0}}));
    for (CPressel* p : g_apInstances) EXPECT_NE(p, object);
    EXPECT_EQ(g_pCurrentInstance, nullptr);
}

}  // namespace
}  // namespace job_test
