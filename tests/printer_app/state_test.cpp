// Printers on pseudo-terminals: conditions the printer reports show in
// printer-state-reasons while they last, Cancel-Job stops a long job at a
// chunk, and a worker that crashes or hangs fails only its own job.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "app_server.h"

namespace app_test {
namespace {

namespace fs = std::filesystem;

std::string TillProfile(const std::string& port) {
    return "[Till]\nPrintableLines=0\nEntryName=Till\nInitSeq=27,64\nCrLfSeq=13,10\nFormFeedSeq=27,100,3\n"
           "StartupDelay=0\nShutdownDelay=0\n[PrinterPorts]\nTill=" + port + "\n";
}

// Lines enough for a job of about `bytes` bytes.
std::string LongText(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "Line " + std::to_string(100000 + i) + " of a long receipt text....\n";
    return text;
}

bool WaitUntil(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (done()) return true;
        usleep(50000);
    }
    return false;
}

class AppStates : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Running()) << server_.Log(); }

    int Submit(const std::string& printer, const std::string& text) {
        fs::path doc = server_.Dir() / ("doc-" + std::to_string(++docs_) + ".txt");
        WriteFile(doc, text);
        return server_.Submit(printer, doc.string(), "text/plain");
    }

    std::string Reasons(const std::string& printer) { return server_.PrinterAttribute(printer, "printer-state-reasons"); }

    AppServer server_{{"worker-timeout=3"}};
    int docs_ = 0;
};

TEST_F(AppStates, AFatalConditionAbortsTheJobAndShowsUntilThePrinterIsFine) {
    PtyPrinter printer;
    AppServer::MapComPort("COM5:", printer.SlavePath());
    server_.AddUserProfile("till.ini", TillProfile("COM5:,115200,N,8,1,Y"));
    ASSERT_TRUE(server_.AddPrinter("Till", "user.till.till", ""));
    EXPECT_EQ(Reasons("Till"), "none");

    printer.SetCondition("J:J");
    int job = Submit("Till", "first\nsecond\n");
    EXPECT_EQ(server_.WaitJobDone("Till", job), "aborted") << server_.Log();
    EXPECT_EQ(server_.JobAttribute("Till", job, "job-state-message"), "The printer reports paper jam; the job stopped.");
    EXPECT_NE(Reasons("Till").find("media-jam"), std::string::npos) << Reasons("Till");
    // The jam stays on the printer's state until it prints again.
    usleep(1500000);
    EXPECT_NE(Reasons("Till").find("media-jam"), std::string::npos);

    printer.SetCondition("");
    job = Submit("Till", "after the jam\n");
    EXPECT_EQ(server_.WaitJobDone("Till", job), "completed") << server_.Log();
    EXPECT_EQ(Reasons("Till"), "none");
    std::string got = printer.Received();
    // The read-write port's own sequences surround the job: ESC s 7 after
    // the start, ESC e at the end.
    EXPECT_NE(got.find("\x1b@\x1bs7after the jam\r\n\x1b" "d\x03\x1b" "e"), std::string::npos);
}

TEST_F(AppStates, AConditionThatPassesIsClearedWhileTheJobGoesOn) {
    PtyPrinter printer(20000);
    AppServer::MapComPort("COM6:", printer.SlavePath());
    server_.AddUserProfile("till.ini", TillProfile("COM6:,115200,N,8,1,Y"));
    ASSERT_TRUE(server_.AddPrinter("Till", "user.till.till", ""));

    printer.SetCondition("P:N");
    int job = Submit("Till", LongText(3000));
    ASSERT_GT(job, 0);
    EXPECT_TRUE(WaitUntil([&] { return Reasons("Till").find("media-low") != std::string::npos; }, 10)) << server_.Log();
    printer.SetCondition("");
    EXPECT_TRUE(WaitUntil([&] { return Reasons("Till").find("media-low") == std::string::npos; }, 10));
    EXPECT_EQ(server_.JobAttribute("Till", job, "job-state"), "processing");
    EXPECT_EQ(server_.WaitJobDone("Till", job), "completed") << server_.Log();
}

TEST_F(AppStates, CancelStopsALongJobAtTheNextChunk) {
    server_.AddUserProfile("till.ini", TillProfile("COM7:,115200,N,8,1"));
    // What the whole job sends, from the same printer on a file.
    fs::path file = server_.Dir() / "whole.prn";
    ASSERT_TRUE(server_.AddPrinter("Whole", "user.till.till", "pressel:" + file.string()));
    const std::string text = LongText(4000);
    int whole = Submit("Whole", text);
    ASSERT_EQ(server_.WaitJobDone("Whole", whole), "completed");
    const std::string full = ReadFile(file);

    PtyPrinter printer(40000);
    AppServer::MapComPort("COM7:", printer.SlavePath());
    ASSERT_TRUE(server_.AddPrinter("Till", "user.till.till", ""));
    int job = Submit("Till", text);
    ASSERT_TRUE(printer.WaitFor(30000));
    auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(server_.Command({"cancel", "-d", "Till", "-j", std::to_string(job)}).status, 0);
    EXPECT_EQ(server_.WaitJobDone("Till", job), "canceled");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
    // Whatever was under way drains; then nothing more comes.
    usleep(1200000);
    std::string got = printer.Received();
    usleep(300000);
    EXPECT_EQ(printer.Received(), got);
    ASSERT_LT(got.size(), full.size() / 2);
    EXPECT_EQ(got, full.substr(0, got.size()));
    // The job stopped between two of the control's chunks, here whole lines.
    EXPECT_EQ(got.substr(got.size() - 2), "\r\n");

    // The printer is free for the next job.
    int next = Submit("Till", "next\n");
    EXPECT_EQ(server_.WaitJobDone("Till", next), "completed");
}

TEST_F(AppStates, ACrashedOrHungWorkerFailsOnlyItsOwnJob) {
    server_.AddUserProfile("till.ini", TillProfile("COM8:,115200,N,8,1"));
    PtyPrinter slow(20000);
    AppServer::MapComPort("COM8:", slow.SlavePath());
    ASSERT_TRUE(server_.AddPrinter("Slow", "user.till.till", ""));
    fs::path other = server_.Dir() / "other.prn";
    ASSERT_TRUE(server_.AddPrinter("Other", "user.till.till", "pressel:" + other.string()));

    int job = Submit("Slow", LongText(3000));
    ASSERT_TRUE(slow.WaitFor(4000));
    std::vector<pid_t> workers = WorkersOf(server_.Pid());
    ASSERT_EQ(workers.size(), 1u);
    kill(workers[0], SIGKILL);
    EXPECT_EQ(server_.WaitJobDone("Slow", job), "aborted");
    EXPECT_EQ(server_.JobAttribute("Slow", job, "job-state-message"),
              "The print worker stopped unexpectedly (signal 9).");

    // A device that takes nothing: the worker hangs in a write, the
    // watchdog stops it.
    fs::path fifo = server_.Dir() / "nobody-reads";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(server_.AddPrinter("Stuck", "user.till.till", "pressel:" + fifo.string()));
    int stuck = Submit("Stuck", LongText(4000));
    int meanwhile = Submit("Other", "printed meanwhile\n");
    EXPECT_EQ(server_.WaitJobDone("Other", meanwhile), "completed");
    EXPECT_EQ(server_.WaitJobDone("Stuck", stuck, 20), "aborted");
    EXPECT_EQ(server_.JobAttribute("Stuck", stuck, "job-state-message"),
              "The printer stopped responding: the job made no progress for 3 seconds.");
    EXPECT_EQ(ReadFile(other), "\x1b@printed meanwhile\r\n\x1b" "d\x03");
    close(reader);

    int again = Submit("Slow", "still fine\n");
    EXPECT_EQ(server_.WaitJobDone("Slow", again), "completed") << server_.Log();
    EXPECT_TRUE(WorkersOf(server_.Pid()).empty());
}

}  // namespace
}  // namespace app_test
