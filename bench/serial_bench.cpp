// A job through the control to a serial port at 115200 baud, write-only and
// read-write (with the printer status protocol), over a pseudo-terminal whose
// peer takes the bytes no faster than the line carries them (11,520 bytes a
// second, 8N1). Reports the share of the line's capacity the job kept busy,
// from its first byte on the line to its last:
//   build/bin/serial_bench
// The peer also plays the printer of a read-write port: it answers the
// status request with a busy frame and the end of the job with "done", each
// once the line has carried the request to it. The pseudo-terminal holds
// about 68 KB the line has not carried yet, so only a job slower than the
// line on average leaves it idle; such a job does from its first line on.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "control/Pressel.h"
#include "event_sink.h"
#include "ktsb_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBytesPerSecond = 115200.0 / 10;  // start bit, 8 data bits, stop bit
constexpr int kLines = 1200;                         // about 74 KB: six and a half seconds on the line
constexpr const char16_t* kPortName = u"COM5:";

struct Scratch {
    bench::ScratchDir scratch{"pressel-serialbench"};
    std::string ini = (scratch.dir / "bench.ini").string();
    Scratch() {
        const char* keys = "StartupDelay=0\nShutdownDelay=0\nPrintableLines=0\nInitSeq=27,64\n";
        std::ofstream(ini) << "[WriteOnly]\nEntryName=W\n"
                           << keys << "[ReadWrite]\nEntryName=R\n"
                           << keys << "[PrinterPorts]\nW=COM5:,115200,N,8,1\nR=COM5:,115200,N,8,1,Y\n";
    }
};

Scratch& S() {
    static Scratch scratch;
    return scratch;
}

// The far end of the line: takes bytes from the master side at the line's
// rate, and counts the capacity lost while the job left the line idle.
class Line {
public:
    explicit Line(int master) : master_(master), thread_([this] { Run(); }) {}
    ~Line() {
        stop_ = true;
        thread_.join();
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Waits until nothing has arrived for a while after the job ended.
    void Drain() {
        ended_ = true;
        while (!drained_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    double bytes = 0;    // carried by the line
    double idle = 0;     // capacity, in bytes, lost between the first and the last byte
    double seconds = 0;  // from the first byte to the last

private:
    void Run() {
        std::vector<char> buf(4096);
        double credit = 0;      // bytes the line could have carried since the last read
        double idleSince = 0;   // capacity lost since the last byte, counted once another comes
        Clock::time_point first, last, tick = Clock::now();
        bool started = false;
        for (int quiet = 0; !stop_;) {
            const auto now = Clock::now();
            credit += std::chrono::duration<double>(now - tick).count() * kBytesPerSecond;
            tick = now;
            const size_t want = credit >= 1 ? std::min(buf.size(), static_cast<size_t>(credit)) : 0;
            const ssize_t n = want ? std::max<ssize_t>(read(master_, buf.data(), want), 0) : 0;
            if (n > 0) {
                if (!started) {
                    started = true;
                    first = now - std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(static_cast<double>(n) / kBytesPerSecond));
                } else {
                    idle += idleSince;
                }
                idleSince = 0;
                credit -= static_cast<double>(n);
                bytes += static_cast<double>(n);
                last = now;
                quiet = 0;
                Answer(buf.data(), static_cast<size_t>(n));
            }
            if (want > 0 && static_cast<size_t>(n) < want) {
                // The job left nothing more to carry: a line cannot save up
                // the time it idles.
                if (started) idleSince += credit - 1;
                credit = 1;
                if (n == 0 && ended_ && ++quiet > 200) break;  // 200 ms without a byte after the job
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (started) seconds = std::chrono::duration<double>(last - first).count();
        drained_ = true;
    }

    // The printer's side of the status protocol, on the bytes as they arrive.
    void Answer(const char* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            window_ += data[i];
            if (window_.size() > 6) window_.erase(0, 1);
            auto endsWith = [this](const std::string& request) {
                return window_.size() >= request.size() &&
                       window_.compare(window_.size() - request.size(), request.size(), request) == 0;
            };
            std::string frame;
            if (endsWith("\x1b" "e")) {
                done_ = true;
                frame = "{ST!S:C}";
            } else if (endsWith("\x1b{ST?}")) {
                frame = done_ ? "{ST!S:C}" : "{ST!S:B}";
            }
            if (!frame.empty() && write(master_, frame.data(), frame.size()) < 0) std::abort();
        }
    }

    int master_;
    std::atomic<bool> stop_{false}, ended_{false}, drained_{false};
    std::string window_;  // the last bytes received, to spot the requests
    bool done_ = false;
    std::thread thread_;
};

// Records the NotifyMessage pairs of the job.
class NotifySink final : public test_support::EventSinkBase {
public:
    std::vector<std::pair<LONG, LONG>> notes;

protected:
    void OnEvent(DISPID id, DISPPARAMS* dp) override {
        if (id == 2 && dp && dp->cArgs == 2) notes.emplace_back(dp->rgvarg[1].lVal, dp->rgvarg[0].lVal);
    }
};

std::vector<BSTR> JobLines() {
    std::vector<BSTR> lines;
    for (int i = 0; i < kLines; ++i) {
        std::u16string text = bench::ReportLine(i, "serial benchmark job");
        lines.push_back(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    }
    return lines;
}

// Argument 0: write-only port; 1: read-write port with printer status.
void SerialJob(benchmark::State& state) {
    const bool readWrite = state.range(0) == 1;
    ktsb_test::PtyLine pty;
    if (!pty.Open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    S();
    if (!ktsb_test::MapComPort(kPortName, pty.slaveName)) std::abort();

    IPressel* ip = nullptr;
    if (FAILED(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip)))) std::abort();
    NotifySink sink;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    if (FAILED(test_support::ConnectSink(ip, &sink, &cp, &cookie))) std::abort();
    std::vector<BSTR> lines = JobLines();
    std::u16string ini(S().ini.begin(), S().ini.end());
    BSTR bsIni = SysAllocString(ini.c_str()), bsNone = SysAllocString(u"");
    BSTR bsPrinter = SysAllocString(readWrite ? u"ReadWrite" : u"WriteOnly");

    double bytes = 0, idle = 0;
    bool normal = true;
    for (auto _ : state) {
        sink.notes.clear();
        Line line(pty.master);
        LONG started = -1;
        ip->StartLP(nullptr, bsPrinter, bsNone, 0, bsIni, &started);
        if (started != 0) {
            state.SkipWithError("the job did not start");
            break;
        }
        for (BSTR text : lines) {
            ip->Write(text);
            ip->NewLine();
        }
        ip->Finish();
        line.Drain();
        normal = normal && sink.notes == std::vector<std::pair<LONG, LONG>>{{2, 0}};
        state.SetIterationTime(line.seconds);
        bytes += line.bytes, idle += line.idle;
    }
    state.counters["line_busy_pct"] = bytes > 0 ? 100 * bytes / (bytes + idle) : 0;
    state.counters["bytes"] = bytes / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["ended_normally"] = normal ? 1 : 0;

    for (BSTR text : lines) SysFreeString(text);
    SysFreeString(bsIni);
    SysFreeString(bsNone);
    SysFreeString(bsPrinter);
    cp->Unadvise(cookie);
    cp->Release();
    ip->Release();
}
BENCHMARK(SerialJob)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
