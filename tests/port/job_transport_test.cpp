// One job, end to end, over every kind of channel: a file, a read-write
// serial port whose printer talks the status protocol, and the port library
// to a listener on the loopback interface. The printer must receive the same
// bytes each time; only the read-write protocol adds its own sequences.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <future>
#include <thread>

#include "../control/job_fixture.h"
#include "port_fixture.h"

namespace job_test {
namespace {

using Notes = std::vector<Pair>;

// Four lines a page with a one-line header and footer, so that the four
// lines of the job fill two pages; fonts and emphasis as ESC and a letter.
const char kProfile[] =
    "PrintableLines=4\nStartupChar=0x2A\nStartupCharCount=2\nShutdownChar=0x23\nShutdownCharCount=1\n"
    "DoubleWideFontSeq=27,87\nBoldOnSeq=27,66\nBoldOffSeq=27,98\nFormFeedSeq=12\n";

// What the printer receives, protocol aside: start-up characters, init and
// normal font; page 1 with "alpha" and "wide" in double width. The "bold"
// line, written after the font change, finds the page full: the footer goes
// out in the plain font (bold off, normal), the body's font returns for the
// form feed, the header of page 2 is plain again, and the carried line keeps
// the double width it began with before its own switches. Then "omega",
// the last footer, the form feed and the shut-down character.
const std::string kStart = Bytes("**^@^N");
const std::string kBody = Bytes(
    "^NH1\r\n^Nalpha\r\n^N^Wwide\r\n"
    "^b^NF1\r\n^N^B\f^b^NH2\r\n^W^N^Bbold\r\n"
    "^b^N^Bomega\r\n^b^NF2\r\n^N^B\f#");
const std::string kRwStart = Bytes("^s7");
const std::string kEndOfJob = Bytes("^e");
const std::string kStatusRequest = Bytes("^{ST?}");

// The serial printer's side of the read-write protocol: it collects what the
// host sends and answers the end-of-job request with `doneFrame` (nothing
// when empty).
class SerialPrinter {
public:
    explicit SerialPrinter(std::string doneFrame) : done_(std::move(doneFrame)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~SerialPrinter() { Stop(); }

    // Everything the host sent, once the host has gone quiet.
    std::string Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return received_;
    }

    port_test::PtyPrinter pty;

private:
    void Run() {
        size_t scanned = 0;
        for (;;) {
            bool stopping = stop_;
            std::string got = pty.Receive(20);
            if (stopping && got.empty()) break;
            received_ += got;
            // The end-of-job request may arrive split over two reads.
            for (;;) {
                size_t esc = received_.find('\x1b', scanned);
                if (esc == std::string::npos || esc + 1 >= received_.size()) break;
                if (received_.compare(esc, kEndOfJob.size(), kEndOfJob) == 0 && !done_.empty()) pty.Send(done_);
                scanned = esc + 1;
            }
        }
    }

    std::string done_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::string received_;
};

// A printer behind the port library: accepts one connection on the loopback
// interface and collects its bytes until the host closes it, or hangs up
// itself once it has `hangUpAfter` bytes.
class NetworkPrinter {
public:
    explicit NetworkPrinter(size_t hangUpAfter = std::string::npos) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(listen(fd_, 1), 0);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        bytes_ = std::async(std::launch::async, [this, hangUpAfter] { return Serve(hangUpAfter); });
    }
    ~NetworkPrinter() {
        if (bytes_.valid()) bytes_.wait();
        close(fd_);
    }

    std::string Description() const { return "TCP:127.0.0.1:" + std::to_string(port_); }

    // The connection's bytes once it has closed.
    std::string Received() {
        EXPECT_EQ(bytes_.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return bytes_.get();
    }

private:
    std::string Serve(size_t hangUpAfter) {
        pollfd lp{fd_, POLLIN, 0};
        if (poll(&lp, 1, 15000) <= 0) return {};
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return {};
        std::string got;
        char buf[4096];
        while (got.size() < hangUpAfter) {
            pollfd pfd{c, POLLIN, 0};
            if (poll(&pfd, 1, 15000) <= 0) break;
            ssize_t n = read(c, buf, std::min(sizeof buf, hangUpAfter - got.size()));
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        close(c);
        return got;
    }

    int fd_ = -1;
    unsigned short port_ = 0;
    std::future<std::string> bytes_;
};

class JobTransport : public JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        sink_.onHeader = [this](LONG footer) {
            std::string text = (footer ? "F" : "H") + std::to_string(PageNo());
            Line(ip_, U16(text).c_str());
        };
    }

    LONG PageNo() const {
        LONG l = 0;
        ip_->get_PageNo(&l);
        return l;
    }

    // The job, started on the printer "P" whose port the profile names; the
    // test may act after the first line ("alpha") has been sent.
    void RunJob(const std::string& port, const std::string& debugFile = "",
                const std::function<void()>& afterFirstLine = nullptr) {
        WriteIni(kProfile, "E=" + port + "\n");
        ASSERT_EQ(Start(ip_, ini_, debugFile), 0);
        Line(ip_, u"alpha");
        if (afterFirstLine) afterFirstLine();
        ip_->FontSelect(1, 0, 0);
        Line(ip_, u"wide");
        ip_->FontSelect(0, 1, 0);
        Line(ip_, u"bold");
        Line(ip_, u"omega");
        ip_->Finish();
    }

    HANDLE PortHandle() { return port::ToHandle(Object(ip_)->m_hPort); }

    // The printer sends a frame; wait until the host can see all of it.
    void PrinterSays(SerialPrinter& printer, const std::string& frame) {
        printer.pty.Send(frame);
        port_test::WaitForInput(PortHandle(), static_cast<DWORD>(frame.size()));
    }
};

TEST_F(JobTransport, FilePortReceivesTheJob) {
    RunJob("LPT1:", out_);
    EXPECT_EQ(Read(out_), kStart + kBody);
    EXPECT_EQ(sink_.notifications, (Notes{{2, 0}}));
}

TEST_F(JobTransport, ReadWriteSerialPortAddsOnlyItsProtocol) {
    SerialPrinter printer("{ST!S:C}");
    RunJob("COM7:,9600,N,8,1,Y");
    EXPECT_EQ(printer.Stop(), kStart + kRwStart + kBody + kEndOfJob);
    EXPECT_EQ(sink_.notifications, (Notes{{2, 0}}));
    EXPECT_EQ(PrinterDC(ip_), -1);
}

TEST_F(JobTransport, PortLibraryDeliversTheSameBytes) {
    NetworkPrinter printer;
    RunJob(printer.Description());
    EXPECT_EQ(printer.Received(), kStart + kBody);
    EXPECT_EQ(sink_.notifications, (Notes{{2, 0}}));
}

// A condition that passes: reported once while it lasts, the output waits
// for it, and the job ends normally with every byte delivered.
TEST_F(JobTransport, NonFatalConditionIsReportedOnceAndTheJobCompletes) {
    SerialPrinter printer("{ST!S:C}");
    RunJob("COM7:,9600,N,8,1,Y", "", [&] { PrinterSays(printer, "{ST!P:N}"); });
    EXPECT_EQ(printer.Stop(), kStart + kRwStart + kBody + kEndOfJob);
    EXPECT_EQ(sink_.notifications, (Notes{{1080, 223}, {2, 0}}));
}

// A fatal condition stops the job before the next line: nothing of it, no
// footer, no shut-down character and no end-of-job request follow.
TEST_F(JobTransport, FatalConditionStopsTheJobAndSendsNothingMore) {
    SerialPrinter printer("{ST!S:C}");
    bool printingAfterCondition = true;
    WriteIni(kProfile, "E=COM7:,9600,N,8,1,Y\n");
    ASSERT_EQ(Start(ip_, ini_, ""), 0);
    Line(ip_, u"alpha");
    PrinterSays(printer, "{ST!H:T}");
    Line(ip_, u"wide");
    printingAfterCondition = StillPrinting(ip_);
    Line(ip_, u"omega");
    ip_->Finish();
    EXPECT_FALSE(printingAfterCondition);
    EXPECT_EQ(printer.Stop(), kStart + kRwStart + Bytes("^NH1\r\n^Nalpha\r\n"));
    EXPECT_EQ(sink_.notifications, (Notes{{1080, 228}, {1, 2}}));
    EXPECT_EQ(PrinterDC(ip_), -1);
}

// A printer that never reports completion: after the end-of-job request the
// host asks for the status twice, then the close fails and the job does not
// count as ended normally. (Each unanswered read waits its full timeout.)
TEST_F(JobTransport, SilentPrinterFailsTheCloseWithoutJobEnd) {
    SerialPrinter printer("");
    RunJob("COM7:,9600,N,8,1,Y");
    EXPECT_EQ(printer.Stop(), kStart + kRwStart + kBody + kEndOfJob + kStatusRequest + kStatusRequest);
    EXPECT_EQ(sink_.notifications, (Notes{{1, 9}}));
    EXPECT_FALSE(StillPrinting(ip_));
    EXPECT_EQ(PrinterDC(ip_), -1);
}

// The printer hangs up between lines and the next line is longer than one
// chunk: its first chunk still goes out (the host learns of the hang-up from
// the answer to it), a later one fails. The job stops with one failure
// notice; neither later lines nor Finish add another.
TEST_F(JobTransport, ConnectionLostMidLineStopsTheJobOnce) {
    const std::string firstLine = Bytes("^NH1\r\n^Nalpha\r\n");
    NetworkPrinter printer(kStart.size() + firstLine.size());
    WriteIni(kProfile, "E=" + printer.Description() + "\n");
    ASSERT_EQ(Start(ip_, ini_, ""), 0);
    Line(ip_, u"alpha");
    EXPECT_EQ(printer.Received(), kStart + firstLine);
    std::u16string longLine(1000, u'x');
    Line(ip_, longLine.c_str());
    EXPECT_FALSE(StillPrinting(ip_));
    Line(ip_, u"after");
    ip_->Finish();
    EXPECT_EQ(sink_.notifications, (Notes{{1, 2}}));
}

}  // namespace
}  // namespace job_test
