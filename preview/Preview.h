// What a printer would print from a stream, read through its profile: the
// pages as pictures, where a cut-off stream stopped, and how many bytes the
// profile does not explain.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preview/GlyphSet.h"
#include "preview/PageModel.h"
#include "preview/StreamSplitter.h"
#include "profile/Profile.h"

namespace pressel_preview {

// The character cell and line of a profile without graphics geometry: a
// 12 x 24 dot cell and a line of 80 such columns.
inline constexpr int kDefaultCellWidth = 12;
inline constexpr int kDefaultCellHeight = 24;
inline constexpr int kDefaultColumns = 80;

// How the paper is laid out, in printer dots and in pixels.
struct Layout {
    int cellWidth = 0, cellHeight = 0;  // dots across, dot rows down
    int lineDots = 0;                   // dots across one line
    int passRows = 0;                   // dot rows of one graphics pass (GraphNumPins)
    int pageLines = 0;                  // lines per page; 0 on a roll
    bool roll = false;                  // no pages: a form feed is a cut
    Scale across, down;                 // dots to pixels: square dots unless both densities are given
    int pixelsPerInch = 0;              // of the picture, when the densities are given
    long maxHeight = 0;                 // pixel rows of one picture at most
};

// The layout of the profile; false and a reason when its geometry is too
// large to draw.
bool MakeLayout(const PrinterSettings& settings, const DotDensity& density, Layout* layout, std::string* error);

// Width in dots of one character of each font type (normal, double wide,
// compressed: 3/5 of normal, 17 characters where 10 were).
int CharWidth(const Layout& layout, int fontType);

struct Preview {
    Layout layout;
    int pages = 0;             // handed to the sink: one per page; a roll is one (a long one continues on more)
    std::optional<Stop> stop;  // the stream was cut off there
    size_t unexplained = 0;    // bytes or units drawn as markers
    size_t firstUnexplained = 0;
};

// Renders the stream page by page into sink. False with a reason when the
// layout cannot be drawn; false with an empty reason when the sink refused
// a page.
bool RenderPreview(const PrinterSettings& settings, const DotDensity& density, std::string_view stream, GlyphSet& glyphs,
                   const PageSink& sink, Preview* preview, std::string* error);

}  // namespace pressel_preview
