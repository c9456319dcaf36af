#include "printer-app/page_plan.h"

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace printer_app {
namespace {

// Bounds that keep a page and its strips to a few megabytes.
constexpr int kMaxLineDots = 16384;
constexpr int kMaxCell = 1024;
constexpr int kNCode = 'n';

int Passes(int lines, const GraphicsGeometry& g) {
    return static_cast<int>(int64_t{lines} * g.charHeight / g.pins);
}

void PutLe(std::string* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

bool GeometryUsable(const GraphicsGeometry& g) {
    bool pinsOk = g.pins == 1 || (g.pins > 0 && g.pins % 8 == 0 && g.pins <= kMaxCell);
    return pinsOk && g.lineDots > 0 && g.lineDots % 8 == 0 && g.lineDots <= kMaxLineDots && g.charHeight > 0 &&
           g.charHeight <= kMaxCell && g.charWidth > 0 && g.charWidth <= kMaxCell && g.maxPasses >= 0;
}

int MaxPassesFor(const EscSeq& init, bool unicode) {
    int count = 0;
    for (int i = 0; i < std::min<int>(init.count, EscSeq::kMaxCodes); ++i)
        if (init.codes[i] == kNCode) ++count;
    if (count == 1) return unicode ? 0xFFFF : 0xFF;
    if (count == 2) return 0xFFFF;
    return 0;
}

int ColumnsFor(const GraphicsGeometry& g) { return (g.lineDots + g.charWidth - 1) / g.charWidth; }

std::vector<Strip> PlanStrips(int rows, const GraphicsGeometry& g) {
    std::vector<Strip> strips;
    if (rows <= 0 || !GeometryUsable(g)) return strips;
    // The most lines whose passes the count can still carry.
    int maxLines = g.maxPasses > 0 ? static_cast<int>((int64_t{g.maxPasses + 1} * g.pins - 1) / g.charHeight) : 0;
    if (g.maxPasses > 0 && Passes(maxLines, g) == 0) return strips;
    for (int row = 0; row < rows;) {
        int left = rows - row;
        int passesNeeded = (left + g.pins - 1) / g.pins;
        int lines = static_cast<int>((int64_t{passesNeeded} * g.pins + g.charHeight - 1) / g.charHeight);
        if (maxLines > 0) lines = std::min(lines, maxLines);
        int sent = Passes(lines, g) * g.pins;
        strips.push_back({row, lines, sent});
        row += sent;
    }
    return strips;
}

int InkedRows(const PageRaster& page) {
    for (int row = page.Rows(); row > 0; --row) {
        const char* p = page.bits.data() + static_cast<size_t>(row - 1) * static_cast<size_t>(page.bytesPerRow);
        if (std::any_of(p, p + page.bytesPerRow, [](char c) { return c != 0; })) return row;
    }
    return 0;
}

bool WriteStripBitmap(const std::string& path, const PageRaster& page, int firstRow, int rowCount, int widthDots) {
    if (rowCount <= 0 || widthDots <= 0) return false;
    const uint32_t stride = ((static_cast<uint32_t>(widthDots) + 31) / 32) * 4;
    const uint32_t imageBytes = stride * static_cast<uint32_t>(rowCount);
    const uint32_t offBits = 14 + 40 + 8;
    std::string out;
    out.reserve(offBits + imageBytes);
    out += "BM";
    PutLe(&out, offBits + imageBytes, 4);
    PutLe(&out, 0, 4);
    PutLe(&out, offBits, 4);
    PutLe(&out, 40, 4);
    PutLe(&out, static_cast<uint32_t>(widthDots), 4);
    PutLe(&out, static_cast<uint32_t>(rowCount), 4);  // bottom-up
    PutLe(&out, 1, 2);                                // planes
    PutLe(&out, 1, 2);                                // bits per pixel
    PutLe(&out, 0, 4);                                // BI_RGB
    PutLe(&out, imageBytes, 4);
    PutLe(&out, 0, 4);
    PutLe(&out, 0, 4);
    PutLe(&out, 2, 4);
    PutLe(&out, 2, 4);
    PutLe(&out, 0x00FFFFFF, 4);  // 0: white
    PutLe(&out, 0x00000000, 4);  // 1: black

    const int copyBytes = std::min(page.bytesPerRow, static_cast<int>(stride));
    const int pageRows = page.Rows();
    std::string row(stride, '\0');
    for (int r = rowCount - 1; r >= 0; --r) {
        std::fill(row.begin(), row.end(), '\0');
        int source = firstRow + r;
        if (source < pageRows) {
            const char* p = page.bits.data() + static_cast<size_t>(source) * static_cast<size_t>(page.bytesPerRow);
            std::copy(p, p + copyBytes, row.begin());
            // Dots past the line's end belong to no column of the strip.
            int keep = std::min(page.widthDots, widthDots);
            for (int x = keep; x < copyBytes * 8; ++x) row[static_cast<size_t>(x / 8)] &= static_cast<char>(~(0x80 >> (x % 8)));
        }
        out += row;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file.flush());
}

}  // namespace printer_app
