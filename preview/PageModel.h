// The paper of a preview: pages of palette pixels that grow downwards as
// they are drawn on and fed, up to a bound, and the scale from printer dots
// to pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace pressel_preview {

// Palette indices of a preview picture.
enum Ink : uint8_t {
    kPaper = 0,   // white
    kDot = 1,     // black: what the printer prints
    kMarker = 2,  // red: bytes the profile does not explain, and where a cut stream stops
    kNote = 3,    // blue: cut lines on a roll
};

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // width * height, rows from the top
    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// Dots to pixels along one axis: dot d starts at pixel d * num / den.
struct Scale {
    long num = 1, den = 1;
    long Px(long dots) const { return dots * num / den; }
    long Dots(long px) const { return (px * den + num - 1) / num; }  // fewest dots that cover px pixels
};

// Receives each finished page; false stops the preview (the page could not
// be kept).
using PageSink = std::function<bool(const Image& page)>;

class PageModel {
public:
    // minHeight: the height of every page (0 on a roll, which is as long as
    // what was fed); maxHeight: the most rows one picture may have.
    PageModel(int width, long minHeight, long maxHeight, PageSink sink);

    int Width() const { return width_; }
    long MaxHeight() const { return maxHeight_; }

    // Paints the pixel rectangle [x0, x1) x [y0, y1), clipped to the page.
    void Fill(long x0, long y0, long x1, long y1, Ink ink);
    // The paper has been fed to row y of the current page.
    void Feed(long y);
    // Nothing drawn and no paper fed on the current page yet.
    bool Blank() const { return !touched_; }
    // Hands the current page to the sink; drawing goes on at the top of a
    // new one. False when the sink refused it.
    bool NewPage();
    // Hands over the last page, unless it is blank and not the only one.
    bool Finish();
    int Pages() const { return pages_; }

private:
    void Grow(long rows);

    int width_;
    long minHeight_, maxHeight_;
    PageSink sink_;
    int pages_ = 0;
    Image page_;
    long rows_ = 0, fed_ = 0;
    bool touched_ = false;
};

}  // namespace pressel_preview
