// The paper a profile describes, and the bounds that keep a preview's
// pictures of a size that can be drawn and written.
#include <algorithm>
#include <numeric>

#include "preview/Preview.h"

namespace pressel_preview {
namespace {

constexpr long kMaxCellPixels = 512;   // either way, so that glyphs stay of a size to render
constexpr long kMaxWidth = 16384;      // pixels (and dots) across
constexpr long kMaxRatio = 16;         // of the two dot densities
constexpr long kMaxPixels = 64L << 20;  // in one picture
constexpr long kMaxHeight = 32768;

}  // namespace

int CharWidth(const Layout& layout, int fontType) {
    switch (fontType) {
    case 1: return 2 * layout.cellWidth;
    case 2: return std::max(1, (layout.cellWidth * 3 + 2) / 5);
    default: return layout.cellWidth;
    }
}

bool MakeLayout(const PrinterSettings& s, const DotDensity& density, Layout* layout, std::string* error) {
    Layout l;
    l.cellWidth = s.m_lGraphCharWidth > 0 ? static_cast<int>(s.m_lGraphCharWidth) : kDefaultCellWidth;
    l.cellHeight = s.m_lGraphCharHeight > 0 ? static_cast<int>(s.m_lGraphCharHeight) : kDefaultCellHeight;
    long line = s.m_lGraphXDots > 0 ? s.m_lGraphXDots : static_cast<long>(kDefaultColumns) * l.cellWidth;
    l.lineDots = static_cast<int>(std::min(line, kMaxWidth + 1));
    l.passRows = static_cast<int>(std::max<LONG>(s.m_lGraphNumPins, 0));
    l.roll = s.m_lPrintableLines == 0;
    l.pageLines = static_cast<int>(std::max<LONG>(s.m_lPrintableLines, 0));

    // Dots keep their real proportions when both densities are known: the
    // denser direction draws a dot a pixel, the other one stretches.
    if (density.lAcross > 0 && density.lDown > 0) {
        long x = density.lAcross, y = density.lDown, g = std::gcd(x, y);
        if (std::max(x, y) > kMaxRatio * std::min(x, y)) {
            *error = "the dot densities GraphXDpi and GraphYDpi differ by more than " + std::to_string(kMaxRatio) +
                     " times, too much to preview";
            return false;
        }
        if (x >= y) l.down = {x / g, y / g};
        else l.across = {y / g, x / g};
        l.pixelsPerInch = static_cast<int>(std::max(x, y));
    }
    long width = l.across.Px(l.lineDots);
    if (width > kMaxWidth) {
        *error = "the printer line is wider than " + std::to_string(kMaxWidth) + " pixels, too wide to preview";
        return false;
    }
    if (l.across.Px(l.cellWidth) > kMaxCellPixels || l.down.Px(l.cellHeight) > kMaxCellPixels) {
        *error = "the character cell (GraphCharWidth x GraphCharHeight) is larger than " +
                 std::to_string(kMaxCellPixels) + " pixels, too large to preview";
        return false;
    }
    l.maxHeight = std::min(kMaxHeight, kMaxPixels / std::max(width, 1L));
    long lineHeight = l.down.Px(std::max(l.cellHeight, l.passRows));
    if (l.maxHeight < 4 * lineHeight) {
        *error = "the character cell or graphics pass is too tall for the preview's pictures";
        return false;
    }
    *layout = l;
    return true;
}

}  // namespace pressel_preview
