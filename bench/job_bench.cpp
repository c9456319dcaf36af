// A 10,000-line job through the control to a file port, with no start-up or
// shut-down delays, against its floor: the very chunks the job writes (same
// count, sizes and bytes, recorded from a run of the job), written with plain
// write(2) into the same file. Reports the time per line of both, their ratio
// measured side by side, and the heap allocations per line of the job (which
// should be zero):
//   build/bin/job_bench
// Instruction counts, steadier than time on a busy machine (two jobs: the
// warm-up and one measured; '*ReplayChunks*' with PlainWrites for the floor):
//   valgrind --tool=callgrind --toggle-collect='*RunJob*' build/bin/job_bench
//       --benchmark_filter=JobThroughControl/0 --benchmark_min_time=0     (one line)
// Allocations are counted by replacing malloc and friends in this program,
// so that those of the platform library count too; write(2) is replaced the
// same way to record the job's chunks.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "control/Pressel.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);

namespace {

std::atomic<long> g_allocations{0};

// While set, what write(2) sends to this file is kept, chunk by chunk.
std::atomic<bool> g_recording{false};
ino_t g_recordedFile = 0;
std::vector<std::string>* g_recorded = nullptr;

}  // namespace

// Every allocation of the process, operator new included (it calls malloc).
extern "C" void* malloc(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t n, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
extern "C" int posix_memalign(void** out, size_t align, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    *out = __libc_memalign(align, size);
    return *out ? 0 : ENOMEM;
}
extern "C" void* aligned_alloc(size_t align, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(align, size);
}

// Every write(2) of the process, the job's and the floor's alike (exported,
// so that the platform library's calls come here too).
extern "C" __attribute__((visibility("default"))) ssize_t write(int fd, const void* buf, size_t count) {
    if (g_recording.load(std::memory_order_relaxed)) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_ino == g_recordedFile)
            g_recorded->emplace_back(static_cast<const char*>(buf), count);
    }
    return syscall(SYS_write, fd, buf, count);
}

namespace {

constexpr int kLines = 10000;

struct Scratch {
    bench::ScratchDir scratch{"pressel-jobbench"};
    std::string ini = (scratch.dir / "bench.ini").string();
    std::string out = (scratch.dir / "out.prn").string();
    Scratch() {
        std::ofstream(ini) << "[Bench]\nEntryName=E\nInitSeq=27,64\nNormalFontSeq=27,87,0,18\n"
                              "PrintableLines=66\nStartupDelay=0\nShutdownDelay=0\n[PrinterPorts]\nE=LPT1:\n";
    }
};

Scratch& S() {
    static Scratch scratch;
    return scratch;
}

const std::vector<std::u16string>& Texts() {
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> t;
        for (int i = 0; i < kLines; ++i) t.push_back(bench::ReportLine(i, "benchmark job"));
        return t;
    }();
    return texts;
}

double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

benchmark::Counter PerLine(double total, benchmark::State& state) {
    return benchmark::Counter(total / static_cast<double>(std::max<int64_t>(state.iterations(), 1) * kLines));
}

// A control and the job's lines as BSTRs, for as long as a benchmark runs.
class Job {
public:
    explicit Job(bool viaWriteBytes) : viaWriteBytes_(viaWriteBytes) {
        if (FAILED(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip_)))) std::abort();
        for (const auto& t : Texts()) lines_.push_back(SysAllocStringLen(t.data(), static_cast<UINT>(t.size())));
        std::u16string ini(S().ini.begin(), S().ini.end()), out(S().out.begin(), S().out.end());
        bsIni_ = SysAllocString(ini.c_str());
        bsOut_ = SysAllocString(out.c_str());
        bsPrinter_ = SysAllocString(u"Bench");
    }
    ~Job() {
        for (BSTR line : lines_) SysFreeString(line);
        SysFreeString(bsIni_);
        SysFreeString(bsOut_);
        SysFreeString(bsPrinter_);
        ip_->Release();
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // One whole job; adds the allocations made while its lines were written.
    // Not inlined, so that callgrind can count it alone.
    __attribute__((noinline)) bool RunJob(long* allocations) {
        LONG started = -1;
        ip_->StartLP(nullptr, bsPrinter_, bsOut_, 0, bsIni_, &started);
        if (started != 0) return false;
        long before = g_allocations.load(std::memory_order_relaxed);
        for (BSTR line : lines_) {
            if (viaWriteBytes_)
                ip_->WriteBytes(line, static_cast<LONG>(SysStringByteLen(line)));
            else
                ip_->Write(line);
            ip_->NewLine();
        }
        *allocations += g_allocations.load(std::memory_order_relaxed) - before;
        ip_->Finish();
        return true;
    }

private:
    bool viaWriteBytes_;
    IPressel* ip_ = nullptr;
    std::vector<BSTR> lines_;
    BSTR bsIni_ = nullptr, bsOut_ = nullptr, bsPrinter_ = nullptr;
};

// The chunks one job writes to its file, recorded once; and the file's bytes,
// against which the recording is checked.
const std::vector<std::string>& JobChunks() {
    static const std::vector<std::string> chunks = [] {
        std::vector<std::string> recorded;
        Job job(false);
        long ignored = 0;
        // The file must exist so that the recording can tell it by its inode.
        std::ofstream(S().out).put('\0');
        struct stat st {};
        if (stat(S().out.c_str(), &st) != 0) std::abort();
        g_recordedFile = st.st_ino;
        g_recorded = &recorded;
        g_recording = true;
        bool ok = job.RunJob(&ignored);
        g_recording = false;
        std::ifstream in(S().out, std::ios::binary);
        std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string joined;
        for (const auto& c : recorded) joined += c;
        if (!ok || joined != file || recorded.size() < kLines) {
            std::fprintf(stderr, "the job's chunks could not be recorded\n");
            std::abort();
        }
        return recorded;
    }();
    return chunks;
}

// The floor: the job's chunks with plain write(2), into the same file,
// opened and closed as the job does. Not inlined, for callgrind.
__attribute__((noinline)) void ReplayChunks(const std::vector<std::string>& chunks) {
    int fd = open(S().out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    for (const std::string& c : chunks)
        if (write(fd, c.data(), c.size()) != static_cast<ssize_t>(c.size())) std::abort();
    close(fd);
}

// Argument 0: lines given to Write; 1: to WriteBytes.
void JobThroughControl(benchmark::State& state) {
    Job job(state.range(0) == 1);
    long allocations = 0, warmUp = 0;
    // Converters and tables are made on first use, once per process.
    if (!job.RunJob(&warmUp)) state.SkipWithError("the job did not start");
    for (auto _ : state) {
        if (!job.RunJob(&allocations)) {
            state.SkipWithError("the job did not start");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["time_per_line"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kLines), benchmark::Counter::kIsRate |
                                                                                 benchmark::Counter::kInvert);
    state.counters["allocs_per_line"] = PerLine(static_cast<double>(allocations), state);
    // All the warm-up's lines together; in the first job of the process they
    // include what is made once (converters, tables).
    state.counters["warm_up_allocs"] = static_cast<double>(warmUp);
}
BENCHMARK(JobThroughControl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void PlainWrites(benchmark::State& state) {
    const auto& chunks = JobChunks();
    for (auto _ : state) ReplayChunks(chunks);
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["time_per_line"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kLines), benchmark::Counter::kIsRate |
                                                                                 benchmark::Counter::kInvert);
    state.counters["writes_per_line"] = static_cast<double>(chunks.size()) / kLines;
}
BENCHMARK(PlainWrites)->Unit(benchmark::kMillisecond)->UseRealTime();

// The job and its floor in turns, so that both see the same load of the
// machine: the ratio of the job's time to the floor's, in wall time and in
// the thread's processor time (user and system; not disturbed by other
// programs taking the processor).
void JobOverFloor(benchmark::State& state) {
    const auto& chunks = JobChunks();
    Job job(false);
    long allocations = 0;
    job.RunJob(&allocations);
    allocations = 0;
    double jobWall = 0, floorWall = 0, jobCpu = 0, floorCpu = 0;
    for (auto _ : state) {
        double w0 = WallSeconds(), c0 = ThreadSeconds();
        if (!job.RunJob(&allocations)) {
            state.SkipWithError("the job did not start");
            break;
        }
        double w1 = WallSeconds(), c1 = ThreadSeconds();
        ReplayChunks(chunks);
        double w2 = WallSeconds(), c2 = ThreadSeconds();
        jobWall += w1 - w0, jobCpu += c1 - c0;
        floorWall += w2 - w1, floorCpu += c2 - c1;
    }
    state.counters["job_us_per_line"] = PerLine(jobWall * 1e6, state);
    state.counters["floor_us_per_line"] = PerLine(floorWall * 1e6, state);
    state.counters["ratio_wall"] = floorWall > 0 ? jobWall / floorWall : 0;
    state.counters["ratio_cpu"] = floorCpu > 0 ? jobCpu / floorCpu : 0;
    state.counters["allocs_per_line"] = PerLine(static_cast<double>(allocations), state);
    state.counters["writes_per_line"] = static_cast<double>(chunks.size()) / kLines;
}
BENCHMARK(JobOverFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
