// Whole jobs on a read-write serial port, through StartLP ... Finish: the
// start sequence, the status gate before each line, and the wait for the
// printer at the end.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "port_fixture.h"

namespace {

using namespace port_test;
using Notes = std::vector<std::pair<LONG, LONG>>;

class ReadWriteJob : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UseScratchRegistry(); }

    void SetUp() override {
        char dir[] = "/tmp/pressel-port-job-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        ini_ = dir_ + "/printer.ini";
        std::ofstream(ini_) << "[P]\nEntryName=E\nInitSeq=27,64\nStartupDelay=0\nShutdownDelay=0\n"
                               "PrintableLines=0\n[PrinterPorts]\nE=COM7:,9600,N,8,1,Y\n";
        ctl->m_bPrinting = 0;
        // The printer answers the end of the job with "done".
        peer_ = std::thread([this] {
            for (;;) {
                bool stopping = stop_;
                std::string got = printer.Receive(20);
                if (stopping && got.empty()) break;
                received_ += got;
                if (got.find("\x1b" "e") != std::string::npos) printer.Send("{ST!S:C}");
            }
        });
    }
    void TearDown() override {
        stop_ = true;
        if (peer_.joinable()) peer_.join();
        std::filesystem::remove_all(dir_);
    }

    LONG Start() {
        BSTR printer = SysAllocString(u"P");
        BSTR debug = SysAllocString(u"");
        BSTR ini = SysAllocString(Wide(ini_).c_str());
        LONG val = -1;
        ctl->StartLP(nullptr, printer, debug, 0, ini, &val);
        SysFreeString(printer);
        SysFreeString(debug);
        SysFreeString(ini);
        return val;
    }
    void Line(const char16_t* text) {
        BSTR b = SysAllocString(text);
        ctl->Write(b);
        SysFreeString(b);
        ctl->NewLine();
    }
    void PrinterSays(const std::string& frame) {
        printer.Send(frame);
        WaitForInput(ctl.Handle(), static_cast<DWORD>(frame.size()));
    }
    std::string Finish() {
        ctl->Finish();
        stop_ = true;
        if (peer_.joinable()) peer_.join();
        return received_;
    }

    PtyPrinter printer;
    Control ctl;
    std::string dir_, ini_;
    std::thread peer_;
    std::atomic<bool> stop_{false};
    std::string received_;
};

TEST_F(ReadWriteJob, ConditionReportedAndJobEndsWhenThePrinterIsDone) {
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(ctl->m_bReadWrite, 1);
    Line(u"one");
    PrinterSays("{ST!P:N}");
    Line(u"two");
    std::string sent = Finish();
    EXPECT_EQ(ctl.sink.notes, (Notes{{1080, 223}, {2, 0}}));
    EXPECT_EQ(sent.rfind("\x1b@", 0), 0u) << sent;
    size_t start = sent.find("\x1bs7"), one = sent.find("one"), two = sent.find("two");
    EXPECT_LT(start, one);
    EXPECT_LT(one, two);
    EXPECT_NE(two, std::string::npos);
    EXPECT_EQ(sent.substr(sent.size() - 2), "\x1b" "e");
    EXPECT_EQ(ctl->m_hPort, -1);
}

TEST_F(ReadWriteJob, FatalConditionStopsTheJobWithoutEndOfJob) {
    ASSERT_EQ(Start(), 0);
    Line(u"one");
    PrinterSays("{ST!H:T}");
    Line(u"two");
    Line(u"three");
    std::string sent = Finish();
    EXPECT_EQ(ctl.sink.notes, (Notes{{1080, 228}, {1, 2}}));
    EXPECT_NE(sent.find("one"), std::string::npos);
    EXPECT_EQ(sent.find("two"), std::string::npos);
    EXPECT_EQ(sent.find("\x1b" "e"), std::string::npos);
}

}  // namespace
