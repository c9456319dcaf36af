// Many jobs at once, and CUPS as a client: the app as a desktop's print
// queue sees it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include "app_server.h"

namespace app_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kQuickTill =
    "[Till]\nPrintableLines=0\nEntryName=Till\nInitSeq=27,64\nCrLfSeq=13,10\nFormFeedSeq=27,100,3\n"
    "StartupDelay=0\nShutdownDelay=0\n[PrinterPorts]\nTill=COM9:\n";

TEST(AppLoad, HundredJobsFromSeveralClientsOnFourPrintersArriveOnceAndInOrder) {
    AppServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    server.AddUserProfile("till.ini", kQuickTill);
    constexpr int kPrinters = 4, kClients = 5, kJobsEach = 20;
    std::vector<std::unique_ptr<PtyPrinter>> ports;
    for (int p = 0; p < kPrinters; ++p) {
        ports.push_back(std::make_unique<PtyPrinter>(20000));
        std::string com = "COM" + std::to_string(p + 1) + ":";
        AppServer::MapComPort(com, ports.back()->SlavePath());
        ASSERT_TRUE(server.AddPrinter("P" + std::to_string(p), "user.till.till", "pressel:" + com + ",115200,N,8,1"));
    }

    // Each job names itself; its printer is chosen by the client in turn.
    std::mutex lock;
    std::map<int, std::vector<std::pair<int, std::string>>> sent;  // printer: (job-id, marker)
    std::atomic<int> failed{0}, busiest{0};
    std::atomic<bool> running{true};
    std::thread watcher([&] {
        while (running) {
            busiest = std::max(busiest.load(), static_cast<int>(WorkersOf(server.Pid()).size()));
            usleep(20000);
        }
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int n = 0; n < kJobsEach; ++n) {
                int p = (c + n) % kPrinters;
                std::string marker = "JOB " + std::to_string(c) + "-" + std::to_string(n);
                fs::path doc = server.Dir() / ("c" + std::to_string(c) + "-" + std::to_string(n) + ".txt");
                WriteFile(doc, marker + "\n" + std::string(300, 'x') + "\n");
                int id = server.Submit("P" + std::to_string(p), doc.string(), "text/plain");
                std::lock_guard hold(lock);
                if (id <= 0) ++failed;
                else sent[p].emplace_back(id, marker);
            }
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(failed.load(), 0);
    for (auto& [p, jobs] : sent)
        for (auto& [id, marker] : jobs)
            EXPECT_EQ(server.WaitJobDone("P" + std::to_string(p), id, 120), "completed")
                << marker << ": " << server.JobAttribute("P" + std::to_string(p), id, "job-state-message");
    running = false;
    watcher.join();
    EXPECT_GE(busiest.load(), 2) << "jobs on different printers ran one after another";

    // Every job once; on each printer, every client's jobs in the order it sent them.
    const std::regex job("JOB ([0-9]+)-([0-9]+)");
    std::set<std::string> seen;
    for (auto& [p, jobs] : sent) {
        std::string stream = ports[static_cast<size_t>(p)]->Received();
        std::map<int, int> last;  // client: its last job on this printer
        for (std::sregex_iterator it(stream.begin(), stream.end(), job), end; it != end; ++it) {
            EXPECT_TRUE(seen.insert(it->str()).second) << it->str() << " printed twice";
            int c = std::stoi((*it)[1]), n = std::stoi((*it)[2]);
            EXPECT_TRUE(!last.count(c) || last[c] < n)
                << "P" << p << ": " << it->str() << " after JOB " << c << "-" << last[c];
            last[c] = n;
        }
        EXPECT_EQ(jobs.size(), 25u);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kClients * kJobsEach));
    if (::testing::Test::HasFailure()) ADD_FAILURE() << server.Log();
}

// A Print-Job of a text document sent in parts as it comes, as a client
// streaming a document does.
class StreamedJob {
public:
    StreamedJob(const AppServer& server, const std::string& printer) : m_resource("/ipp/print/" + printer) {
        m_http = httpConnect2("localhost", server.Port(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
        m_request = ippNewRequest(IPP_OP_PRINT_JOB);
        ippAddString(m_request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     server.PrinterUri(printer).c_str());
        ippAddString(m_request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
        ippAddString(m_request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "text/plain");
        m_started = m_http && cupsSendRequest(m_http, m_request, m_resource.c_str(), CUPS_LENGTH_VARIABLE) ==
                                  HTTP_STATUS_CONTINUE;
    }
    ~StreamedJob() {
        ippDelete(m_request);
        httpClose(m_http);
    }
    bool Started() const { return m_started; }
    // Sends a part of the document at once.
    bool Send(const char* data, size_t size) {
        bool sent = cupsWriteRequestData(m_http, data, size) == HTTP_STATUS_CONTINUE;
        httpFlushWrite(m_http);
        return sent;
    }
    // Sends the document's last chunk, without waiting for the answer.
    void End() {
        httpWrite2(m_http, "", 0);
        httpFlushWrite(m_http);
    }
    // The job's id from the answer, or 0.
    int JobId() {
        ipp_t* response = cupsGetResponse(m_http, m_resource.c_str());
        int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        ippDelete(response);
        return id;
    }

private:
    std::string m_resource;
    http_t* m_http = nullptr;
    ipp_t* m_request = nullptr;
    bool m_started = false;
};

// A job whose document is still coming when the printer's job ends: it
// prints once, after that job, and completes.
TEST(AppLoad, ADocumentStillComingWhenAJobEndsPrintsOnce) {
    AppServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    server.AddUserProfile("till.ini", kQuickTill);
    PtyPrinter port(100000);
    AppServer::MapComPort("COM1:", port.SlavePath());
    ASSERT_TRUE(server.AddPrinter("Till", "user.till.till", "pressel:COM1:,115200,N,8,1"));
    // Longer than the port buffers hold: the job lasts until the printer has read most of it.
    std::string first = "FIRST\n";
    for (int i = 0; i < 1500; ++i) first += std::string(70, 'a') + "\n";
    WriteFile(server.Dir() / "first.txt", first);
    int firstJob = server.Submit("Till", (server.Dir() / "first.txt").string(), "text/plain");
    ASSERT_GT(firstJob, 0);

    // The second document is sent in two parts; the first job ends between them.
    StreamedJob streamed(server, "Till");
    ASSERT_TRUE(streamed.Started());
    const std::string second = "SECOND\n" + std::string(200, 'b') + "\n";
    ASSERT_TRUE(streamed.Send(second.data(), 100));
    EXPECT_EQ(server.WaitJobDone("Till", firstJob), "completed");
    usleep(300000);
    ASSERT_TRUE(streamed.Send(second.data() + 100, second.size() - 100));
    int secondJob = streamed.JobId();
    ASSERT_GT(secondJob, 0) << cupsLastErrorString();

    EXPECT_EQ(server.WaitJobDone("Till", secondJob, 20), "completed") << server.Log();
    ASSERT_TRUE(port.WaitFor(first.size() + second.size(), 20));
    std::string got = port.Received();
    size_t at = got.find("SECOND");
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(got.find("SECOND", at + 1), std::string::npos) << "the second job printed twice";
    EXPECT_LT(got.find("FIRST"), at);
}

// Documents that come in at the same instant to an idle printer: each
// prints once, and none beside another.
TEST(AppLoad, DocumentsComingInTogetherPrintOnceEach) {
    AppServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    server.AddUserProfile("till.ini", kQuickTill);
    PtyPrinter port(20000);
    AppServer::MapComPort("COM1:", port.SlavePath());
    ASSERT_TRUE(server.AddPrinter("Till", "user.till.till", "pressel:COM1:,115200,N,8,1"));
    constexpr int kRounds = 25, kTogether = 4;
    std::vector<int> ids;
    for (int r = 0; r < kRounds; ++r) {
        // Every document is sent but for its last chunk; then all end at once.
        std::vector<std::unique_ptr<StreamedJob>> jobs;
        for (int c = 0; c < kTogether; ++c) {
            jobs.push_back(std::make_unique<StreamedJob>(server, "Till"));
            ASSERT_TRUE(jobs.back()->Started());
            const std::string doc = "JOB " + std::to_string(r) + "-" + std::to_string(c) + "\n";
            ASSERT_TRUE(jobs.back()->Send(doc.data(), doc.size()));
        }
        for (auto& job : jobs) job->End();
        for (auto& job : jobs) ids.push_back(job->JobId());
        for (int id : ids) EXPECT_EQ(server.WaitJobDone("Till", id, 30), "completed") << "job " << id;
        ids.clear();
    }
    ASSERT_TRUE(port.WaitFor(static_cast<size_t>(kRounds * kTogether) * 8, 10));
    const std::string stream = port.Received();
    std::map<std::string, int> printed;
    const std::regex job("JOB [0-9]+-[0-9]+");
    for (std::sregex_iterator it(stream.begin(), stream.end(), job), end; it != end; ++it) ++printed[it->str()];
    for (const auto& [marker, times] : printed) EXPECT_EQ(times, 1) << marker;
    EXPECT_EQ(printed.size(), static_cast<size_t>(kRounds * kTogether));
    if (::testing::Test::HasFailure()) ADD_FAILURE() << server.Log();
}

// A private CUPS scheduler with its own directories, or nothing when this
// machine has none.
class Cups {
public:
    explicit Cups(const fs::path& dir) : m_dir(dir) {
        if (access("/usr/sbin/cupsd", X_OK) != 0) return;
        for (const char* sub : {"etc", "cache", "state", "spool", "tmp", "log"}) fs::create_directories(dir / sub);
        // The scheduler's helpers run as its own user: they must reach the
        // test's directory and the scheduler's own.
        chmod(dir.parent_path().c_str(), 0755);
        chmod(dir.c_str(), 0755);
        for (const auto& e : fs::directory_iterator(dir)) chmod(e.path().c_str(), 0755);
        chmod((dir / "tmp").c_str(), 01777);  // the filters' own files
        m_port = FreeLoopbackPort();
        WriteFile(dir / "etc" / "cupsd.conf",
                  "Listen 127.0.0.1:" + std::to_string(m_port) +
                      "\nWebInterface No\nDefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n"
                      "</Location>\n<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow all\n  </Limit>\n"
                      "</Policy>\n");
        const std::string d = dir.string();
        WriteFile(dir / "etc" / "cups-files.conf",
                  "ServerRoot " + d + "/etc\nCacheDir " + d + "/cache\nStateDir " + d + "/state\nRequestRoot " + d +
                      "/spool\nTempDir " + d + "/tmp\nAccessLog " + d + "/log/access_log\nErrorLog " + d +
                      "/log/error_log\nPageLog " + d + "/log/page_log\nSandboxing Relaxed\n");
        m_pid = fork();
        if (m_pid == 0) {
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", (d + "/etc/cupsd.conf").c_str(), "-s",
                  (d + "/etc/cups-files.conf").c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100 && !Answers(); ++i) usleep(50000);
    }
    ~Cups() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Answers() const { return m_pid > 0 && Run({"/usr/bin/lpstat", "-h", Host(), "-r"}).status == 0; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Waits until the scheduler has no job left: changing a queue requeues
    // the job it is sending, which would then print twice.
    bool WaitIdle() const {
        for (int i = 0; i < 300; ++i) {
            ProcessResult jobs = Run({"/usr/bin/lpstat", "-h", Host(), "-o"});
            if (jobs.status == 0 && jobs.output.empty()) return true;
            usleep(100000);
        }
        return false;
    }
    // The PPD the scheduler made for a queue, as any client fetches it.
    std::string Ppd(const std::string& queue) const {
        const fs::path file = m_dir / (queue + ".ppd");
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        http_t* http = httpConnect2("127.0.0.1", m_port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
        bool ok = http && fd >= 0 && cupsGetFd(http, ("/printers/" + queue + ".ppd").c_str(), fd) == HTTP_STATUS_OK;
        httpClose(http);
        if (fd >= 0) close(fd);
        return ok ? ReadFile(file) : "";
    }
    // Whether CUPS's filters that turn PDF into raster for the queue are here.
    static bool HasPdfFilters() {
        auto has = [](const char* filter) {
            return access((std::string("/usr/lib/cups/filter/") + filter).c_str(), X_OK) == 0;
        };
        return has("pdftopdf") && has("rastertopwg") && (has("gstoraster") || has("pdftoraster"));
    }
    static ProcessResult Run(const std::vector<std::string>& argv) { return RunProcess(argv, 30); }

private:
    fs::path m_dir;
    int m_port = 0;
    pid_t m_pid = -1;
};

// A one-page PDF with a black bar of 180 x 40 points at its top, as a
// desktop program sends a page.
std::string BarPdf() {
    const std::string content = "0 g 10 250 180 40 re f";
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    std::string pdf = "%PDF-1.4\n", xref;
    for (size_t i = 0; i < std::size(objects); ++i) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t at = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n" + xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" +
           std::to_string(at) + "\n%%EOF\n";
    return pdf;
}

TEST(AppCups, ADriverlessQueuePrintsThroughTheApp) {
    AppServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    Cups cups(server.Dir() / "cups");
    if (!cups.Answers()) GTEST_SKIP() << "no CUPS scheduler can run here";
    fs::path out = server.Dir() / "receipt.prn";
    ASSERT_TRUE(server.AddPrinter("Receipt", "receipt-80mm.epson-tm-t88v", "pressel:" + out.string()));

    ProcessResult add = Cups::Run({"/usr/sbin/lpadmin", "-h", cups.Host(), "-p", "Pressel", "-E", "-v",
                                   server.PrinterUri("Receipt"), "-m", "everywhere"});
    ASSERT_EQ(add.status, 0) << add.output;
    WriteFile(server.Dir() / "raw.bin", "\x1b@through CUPS\x1d" "V\x42");
    ProcessResult lp = Cups::Run({"/usr/bin/lp", "-h", cups.Host(), "-d", "Pressel", "-o", "raw",
                                  (server.Dir() / "raw.bin").string()});
    ASSERT_EQ(lp.status, 0) << lp.output;
    for (int i = 0; i < 200 && ReadFile(out).empty(); ++i) usleep(50000);
    usleep(300000);
    EXPECT_EQ(ReadFile(out), "\x1b@through CUPS\x1d" "V\x42");

    // A picture goes through CUPS as it is, and prints in graphics mode.
    WriteFile(server.Dir() / "logo.png", Png(512, 30, 180, [](int, int y) { return y < 12; }));
    fs::remove(out);
    lp = Cups::Run({"/usr/bin/lp", "-h", cups.Host(), "-d", "Pressel", (server.Dir() / "logo.png").string()});
    ASSERT_EQ(lp.status, 0) << lp.output;
    for (int i = 0; i < 200 && ReadFile(out).empty(); ++i) usleep(50000);
    usleep(300000);
    // 12 picture rows at 180 dpi are 4 rows at 60: one band, its top four dots.
    std::string got = ReadFile(out);
    const std::string band = std::string("\x1b*\x01\x00\x02", 5) + std::string(512, '\xF0') + "\n";
    EXPECT_NE(got.find(band, 11), std::string::npos) << SameBytes(got.substr(11, band.size()), band).message();

    // Text passes through a queue whose PPD lets it, as the README shows,
    // and prints in the printer's character mode.
    ASSERT_TRUE(cups.WaitIdle());
    std::string ppd = cups.Ppd("Pressel");
    ASSERT_NE(ppd.find("*cupsFilter2:"), std::string::npos) << ppd.substr(0, 200);
    WriteFile(server.Dir() / "text.ppd", ppd + "*cupsFilter2: \"text/plain text/plain 0 -\"\n");
    add = Cups::Run(
        {"/usr/sbin/lpadmin", "-h", cups.Host(), "-p", "Pressel", "-P", (server.Dir() / "text.ppd").string()});
    ASSERT_EQ(add.status, 0) << add.output;
    WriteFile(server.Dir() / "note.txt", "Two lines\nthrough CUPS\n");
    fs::remove(out);
    lp = Cups::Run({"/usr/bin/lp", "-h", cups.Host(), "-d", "Pressel", (server.Dir() / "note.txt").string()});
    ASSERT_EQ(lp.status, 0) << lp.output;
    const std::string font("\x1d!\0\x1bM\0", 6);
    ASSERT_TRUE(cups.WaitIdle());  // its backend waits for the app's job to end
    EXPECT_TRUE(SameBytes(ReadFile(out), "\x1b@" + font + font + "Two lines\n" + font + "through CUPS\n" + font +
                                            std::string("\x1dVB\0", 4)));
    // CUPS passes on only the options it knows: a header comes from the
    // printer's own default, as the README says.
    ProcessResult modify = server.Command({"modify", "-d", "Receipt", "-o", "pressel-header-default='Till {page}'"});
    ASSERT_EQ(modify.status, 0) << modify.output;
    fs::remove(out);
    lp = Cups::Run({"/usr/bin/lp", "-h", cups.Host(), "-d", "Pressel", (server.Dir() / "note.txt").string()});
    ASSERT_EQ(lp.status, 0) << lp.output;
    ASSERT_TRUE(cups.WaitIdle());
    EXPECT_TRUE(SameBytes(ReadFile(out), "\x1b@" + font + font + "Till 1\n" + font + "Two lines\n" + font +
                                            "through CUPS\n" + font + std::string("\x1dVB\0", 4)));

    // A desktop program's PDF, which CUPS's filters turn into a raster
    // page: the bar prints in graphics mode, a solid run of dot columns.
    if (!Cups::HasPdfFilters()) GTEST_SKIP() << "CUPS's PDF filters are not installed";
    WriteFile(server.Dir() / "bar.pdf", BarPdf());
    fs::remove(out);
    lp = Cups::Run({"/usr/bin/lp", "-h", cups.Host(), "-d", "Pressel", (server.Dir() / "bar.pdf").string()});
    ASSERT_EQ(lp.status, 0) << lp.output;
    ASSERT_TRUE(cups.WaitIdle());
    got = ReadFile(out);
    ASSERT_EQ(got.compare(0, 2, "\x1b@"), 0) << got.substr(0, 40);
    EXPECT_NE(got.find("\x1b*\x01"), std::string::npos);
    EXPECT_NE(got.find(std::string(400, '\xFF')), std::string::npos) << "no solid run of the bar's dots";
}

}  // namespace
}  // namespace app_test
