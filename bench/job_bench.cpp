// A 10,000-line job through the control to a file port, with no start-up or
// shut-down delays, against writing the same line chunks with plain
// write(2). Reports the time per line of both and the heap allocations per
// line of the job (which should be zero):
//   build/bin/job_bench
// Allocations are counted by replacing malloc and friends in this program,
// so that those of the platform library count too.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "control/Pressel.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);

namespace {

std::atomic<long> g_allocations{0};

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

namespace {

constexpr int kLines = 10000;

struct Scratch {
    std::filesystem::path dir;
    std::string ini, out;
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pressel-jobbench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        setenv("PRESSEL_REGISTRY", (dir / "registry.reg").c_str(), 1);
        ini = (dir / "bench.ini").string();
        out = (dir / "out.prn").string();
        std::ofstream(ini) << "[Bench]\nEntryName=E\nInitSeq=27,64\nNormalFontSeq=27,87,0,18\n"
                              "PrintableLines=66\nStartupDelay=0\nShutdownDelay=0\n[PrinterPorts]\nE=LPT1:\n";
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Scratch& S() {
    static Scratch scratch;
    return scratch;
}

// The lines of the job, as a report would have them: 40 to 79 characters.
const std::vector<std::u16string>& Texts() {
    static const std::vector<std::u16string> texts = [] {
        std::vector<std::u16string> t;
        for (int i = 0; i < kLines; ++i) {
            std::string s = "Line " + std::to_string(i) + " of the benchmark job, ";
            s.append(static_cast<size_t>(40 + i % 40) - std::min<size_t>(s.size(), 40), '.');
            t.emplace_back(s.begin(), s.end());
        }
        return t;
    }();
    return texts;
}

// Argument 0: lines given to Write; 1: to WriteBytes.
void JobThroughControl(benchmark::State& state) {
    const bool viaWriteBytes = state.range(0) == 1;
    IPressel* ip = nullptr;
    if (FAILED(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip)))) std::abort();
    std::vector<BSTR> lines;
    for (const auto& t : Texts()) lines.push_back(SysAllocStringLen(t.data(), static_cast<UINT>(t.size())));
    std::u16string ini(S().ini.begin(), S().ini.end()), out(S().out.begin(), S().out.end());
    BSTR bsIni = SysAllocString(ini.c_str()), bsOut = SysAllocString(out.c_str());
    BSTR bsPrinter = SysAllocString(u"Bench");

    long allocations = 0;
    for (auto _ : state) {
        LONG started = -1;
        ip->StartLP(nullptr, bsPrinter, bsOut, 0, bsIni, &started);
        if (started != 0) {
            state.SkipWithError("the job did not start");
            break;
        }
        long before = g_allocations.load(std::memory_order_relaxed);
        for (BSTR line : lines) {
            if (viaWriteBytes)
                ip->WriteBytes(line, static_cast<LONG>(SysStringByteLen(line)));
            else
                ip->Write(line);
            ip->NewLine();
        }
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
        ip->Finish();
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["time_per_line"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kLines), benchmark::Counter::kIsRate |
                                                                                 benchmark::Counter::kInvert);
    state.counters["allocs_per_line"] =
        static_cast<double>(allocations) / static_cast<double>(std::max<int64_t>(state.iterations(), 1) * kLines);

    for (BSTR line : lines) SysFreeString(line);
    SysFreeString(bsIni);
    SysFreeString(bsOut);
    SysFreeString(bsPrinter);
    ip->Release();
}
BENCHMARK(JobThroughControl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes the job sends for each line (font state, text, line end),
// one write(2) per line, into a file opened and closed each time.
void PlainWrites(benchmark::State& state) {
    std::vector<std::string> chunks;
    for (const auto& t : Texts()) chunks.push_back(std::string("\x1bW\0\x12", 4) + std::string(t.begin(), t.end()) + "\r\n");
    for (auto _ : state) {
        int fd = open(S().out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (const std::string& c : chunks)
            if (write(fd, c.data(), c.size()) < 0) std::abort();
        close(fd);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.counters["time_per_line"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kLines), benchmark::Counter::kIsRate |
                                                                                 benchmark::Counter::kInvert);
}
BENCHMARK(PlainWrites)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
