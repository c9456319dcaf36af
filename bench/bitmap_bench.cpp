// Converting a 576 x 2000 24-bit bitmap (a full-width receipt on a 576-dot
// head) into both printable layouts, and ImageMagick doing the equivalent
// (threshold, sample, PBM) for comparison. Compare real times:
//   build/bin/bitmap_bench --benchmark_filter='Convert|ImageMagick'
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bitmap/PrintableBitmap.h"

namespace {

constexpr int kWidth = 576, kHeight = 2000;
const char* const kConvert = "/usr/bin/convert-im6.q16";

// Writes the test picture once: grey gradients, black bars and a noise field,
// so that every branch of the colour reduction is taken.
const std::string& Picture() {
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / ("pressel-bench-" + std::to_string(getpid()) +
                                                                   ".bmp")).string();
        const uint32_t stride = (kWidth * 3 + 3) & ~3u, size = 54 + stride * kHeight;
        std::vector<uint8_t> f(size, 0);
        auto put = [&](size_t at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        f[0] = 'B', f[1] = 'M';
        put(2, size, 4), put(10, 54, 4), put(14, 40, 4), put(18, kWidth, 4), put(22, kHeight, 4);
        put(26, 1, 2), put(28, 24, 2);
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = f.data() + 54 + static_cast<size_t>(y) * stride;
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1103515245 + 12345;
                uint8_t v = (y / 100) % 3 == 0 ? static_cast<uint8_t>(x * 255 / kWidth)
                            : (y / 100) % 3 == 1 ? ((x / 24 + y / 24) % 2 ? 0 : 255)
                                                 : static_cast<uint8_t>(noise >> 24);
                row[3 * x] = v, row[3 * x + 1] = static_cast<uint8_t>(255 - v), row[3 * x + 2] = v;
            }
        }
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
        std::atexit([] { std::filesystem::remove(Picture()); });
        return p;
    }();
    return path;
}

void Convert(benchmark::State& state, LONG layout) {
    const std::u16string name(Picture().begin(), Picture().end());
    for (auto _ : state) {
        LONG size = 0;
        BYTE* array = GetPrintableBitmap(kHeight, kWidth, kWidth, name.c_str(), layout, 0, 0, &size);
        if (!array) {
            state.SkipWithError("conversion failed");
            return;
        }
        benchmark::DoNotOptimize(array[size - 1]);
        FreePrintableBitmap(array);
    }
}

void BM_ConvertRasterRows(benchmark::State& state) { Convert(state, kLayoutRasterRows); }
void BM_ConvertBands(benchmark::State& state) { Convert(state, 1); }

void BM_ImageMagick(benchmark::State& state) {
    if (!std::filesystem::exists(kConvert)) {
        state.SkipWithError("ImageMagick is not installed");
        return;
    }
    const std::string out = Picture() + ".pbm";
    const std::string command = std::string(kConvert) + " '" + Picture() + "' -threshold 50% -sample " +
                                std::to_string(kWidth) + "x" + std::to_string(kHeight) + "! 'pbm:" + out + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ImageMagick failed");
            return;
        }
    }
    std::filesystem::remove(out);
}

}  // namespace

BENCHMARK(BM_ConvertRasterRows)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertBands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageMagick)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
