// The printer application against the pressel tool doing the same work:
//   build/bin/printer_app_bench
// - a 60-line text job and a 576 x 2000 PNG: the time from the Print-Job
//   request to the last byte in the printer's file, against the time the
//   pressel tool takes to print the same text (pressel print) or the same
//   picture as a BMP (pressel bitmap) from its start to its exit;
// - jobs per second with four printers busy, each given four text jobs at
//   once, against four pressel print processes side by side printing four
//   jobs each.
// The difference is the server's own cost: IPP, spooling, the document
// filter and the worker it starts for each job. same_bytes is 1 when the
// app's printer got the bytes the tool wrote.
#include <benchmark/benchmark.h>

#include <cups/cups.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/printer_app/app_server.h"

extern char** environ;

namespace {

using namespace app_test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kBusyPrinters = 4;
constexpr int kJobsPerPrinter = 4;
constexpr int kWidth = 576, kHeight = 2000;

// A text printer and a 576-dot raster printer with a two-byte row count,
// so that the picture goes as one bitmap from the app and the tool alike.
constexpr const char kProfile[] =
    "[Bench Text]\nEntryName=T\nInitSeq=27,64\nNormalFontSeq=27,80\nCrLfSeq=13,10\nFormFeedSeq=12\n"
    "PrintableLines=66\nStartupDelay=0\nShutdownDelay=0\n"
    "[Bench Image]\nEntryName=I\nPrintableLines=0\nInitSeq=27,64\nNormalFontSeq=29,33,0\nFormFeedSeq=27,100,4\n"
    "CrLfSeq=10\nStartupDelay=0\nShutdownDelay=0\nGraphNumPins=1\nGraphXDots=576\nGraphCharWidth=12\n"
    "GraphCharHeight=25\nGraphModeInitSeq=29,118,48,0,72,0,n,n\nGraphXDpi=203\nGraphYDpi=203\n"
    "[PrinterPorts]\nT=LPT1:\nI=LPT2:\n";

bool Black(int x, int y) { return y == kHeight - 1 || (x / 8 + y / 3) % 5 == 0; }

struct Bench {
    AppServer server;
    fs::path ini, text, png, bmp;

    Bench() {
        server.AddUserProfile("bench.ini", kProfile);
        ini = server.Dir() / "data" / "pressel" / "profiles" / "bench.ini";
        std::string lines;
        for (int i = 0; i < 60; ++i) {
            std::string line = "Line " + std::to_string(i) + " of the benchmark job, ";
            line.append(static_cast<size_t>(40 + (i * 7) % 40) - std::min<size_t>(line.size(), 40), '.');
            lines += line + "\n";
        }
        text = server.Dir() / "job.txt";
        png = server.Dir() / "job.png";
        bmp = server.Dir() / "job.bmp";
        WriteFile(text, lines);
        WriteFile(png, Png(kWidth, kHeight, 203, Black));
        WriteFile(bmp, Bmp(kWidth, kHeight, Black));
        server.AddPrinter("Text", "user.bench.bench-text", "pressel:" + Output("Text").string());
        server.AddPrinter("Image", "user.bench.bench-image", "pressel:" + Output("Image").string());
        for (int i = 0; i < kBusyPrinters; ++i)
            server.AddPrinter(Busy(i), "user.bench.bench-text", "pressel:" + Output(Busy(i)).string());
    }
    static std::string Busy(int i) { return "Busy" + std::to_string(i); }
    fs::path Output(const std::string& printer) const { return server.Dir() / (printer + ".prn"); }
};

Bench& B() {
    static Bench bench;
    return bench;
}

// An IPP client on one connection to the server.
class Client {
public:
    Client()
        : m_http(httpConnect2("localhost", B().server.Port(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000,
                              nullptr)) {}
    ~Client() { httpClose(m_http); }

    // Print-Job; the job-id, 0 when it failed.
    int Submit(const std::string& printer, const fs::path& file, const char* format) {
        ipp_t* request = Request(IPP_OP_PRINT_JOB, printer);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
        ipp_t* response = cupsDoFileRequest(m_http, request, Resource(printer).c_str(), file.c_str());
        int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        ippDelete(response);
        return id;
    }

    // Waits for a job to end; true when it completed.
    bool WaitDone(const std::string& printer, int job) {
        for (int i = 0; i < 30000; ++i) {
            ipp_t* request = Request(IPP_OP_GET_JOB_ATTRIBUTES, printer);
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
            ipp_t* response = cupsDoRequest(m_http, request, Resource(printer).c_str());
            int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
            ippDelete(response);
            if (state >= IPP_JSTATE_CANCELED) {
                if (state != IPP_JSTATE_COMPLETED)
                    std::fprintf(stderr, "job %d of %s ended in state %d\n", job, printer.c_str(), state);
                return state == IPP_JSTATE_COMPLETED;
            }
            usleep(2000);
        }
        return false;
    }

private:
    static std::string Resource(const std::string& printer) { return "/ipp/print/" + printer; }
    ipp_t* Request(ipp_op_t op, const std::string& printer) const {
        ipp_t* request = ippNewRequest(op);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     B().server.PrinterUri(printer).c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
        return request;
    }

    http_t* m_http;
};

off_t SizeOf(const fs::path& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 ? st.st_size : -1;
}

// Runs the pressel tool to its exit; false when it failed.
bool RunPressel(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(PRESSEL_BIN_DIR) + "/pressel");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> PrintArgs(const fs::path& out) {
    return {"print", "--ini", B().ini.string(), "Bench Text", "--output", out.string(), "--quiet", B().text.string()};
}

std::vector<std::string> BitmapArgs(const fs::path& out) {
    return {"bitmap", "--ini", B().ini.string(), "Bench Image", "--output", out.string(), "--height",
            std::to_string(kHeight / 25), "--width", std::to_string(kWidth / 12), "--quiet", B().bmp.string()};
}

// Submission to the last byte at the printer, one job at a time. The
// byte count to wait for is that of a first job, waited for to its end.
void AppJob(benchmark::State& state, const std::string& printer, const fs::path& doc, const char* format,
            const std::vector<std::string>& peerArgs) {
    Client client;
    const fs::path out = B().Output(printer);
    if (!client.WaitDone(printer, client.Submit(printer, doc, format))) {
        state.SkipWithError("the first job did not complete");
        return;
    }
    const off_t size = SizeOf(out);
    for (auto _ : state) {
        fs::remove(out);
        auto start = Clock::now();
        int job = client.Submit(printer, doc, format);
        while (job > 0 && SizeOf(out) < size) usleep(100);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (job <= 0 || !client.WaitDone(printer, job)) {
            state.SkipWithError("a job did not complete");
            return;
        }
    }
    fs::path peer = B().server.Dir() / "peer.prn";
    RunPressel(peerArgs);
    state.counters["bytes"] = static_cast<double>(size);
    state.counters["same_bytes"] = ReadFile(out) == ReadFile(peer) ? 1 : 0;
}

void PeerJob(benchmark::State& state, const std::vector<std::string>& args) {
    B();
    for (auto _ : state)
        if (!RunPressel(args)) {
            state.SkipWithError("pressel failed");
            return;
        }
}

void AppText(benchmark::State& state) {
    AppJob(state, "Text", B().text, "text/plain", PrintArgs(B().server.Dir() / "peer.prn"));
}
void PresselPrint(benchmark::State& state) { PeerJob(state, PrintArgs(B().server.Dir() / "peer.prn")); }
void AppPng(benchmark::State& state) {
    AppJob(state, "Image", B().png, "image/png", BitmapArgs(B().server.Dir() / "peer.prn"));
}
void PresselBitmap(benchmark::State& state) { PeerJob(state, BitmapArgs(B().server.Dir() / "peer.prn")); }

// Four printers, each given its jobs at once by a client of its own; the
// time until the last job of every printer is done.
void AppBusyPrinters(benchmark::State& state) {
    B();
    for (auto _ : state) {
        std::vector<std::thread> clients;
        std::atomic<bool> failed{false};
        for (int p = 0; p < kBusyPrinters; ++p)
            clients.emplace_back([p, &failed] {
                Client client;
                int last = 0;
                for (int j = 0; j < kJobsPerPrinter; ++j) last = client.Submit(Bench::Busy(p), B().text, "text/plain");
                if (last <= 0 || !client.WaitDone(Bench::Busy(p), last)) failed = true;
            });
        for (std::thread& t : clients) t.join();
        if (failed) {
            state.SkipWithError("a job did not complete");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kBusyPrinters * kJobsPerPrinter);
}

void PresselBusyPrinters(benchmark::State& state) {
    B();
    for (auto _ : state) {
        std::vector<std::thread> printers;
        std::atomic<bool> failed{false};
        for (int p = 0; p < kBusyPrinters; ++p)
            printers.emplace_back([p, &failed] {
                for (int j = 0; j < kJobsPerPrinter; ++j)
                    if (!RunPressel(PrintArgs(B().server.Dir() / ("peer-" + std::to_string(p) + ".prn"))))
                        failed = true;
            });
        for (std::thread& t : printers) t.join();
        if (failed) {
            state.SkipWithError("pressel failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kBusyPrinters * kJobsPerPrinter);
}

BENCHMARK(AppText)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(PresselPrint)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AppPng)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(PresselBitmap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(AppBusyPrinters)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PresselBusyPrinters)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
