// How the picture of one page goes to the printer through the control's
// Bitmap: the page's blank tail is cut off, the rest is cut into strips of
// whole text lines, each strip is written as a 1-bit bitmap file of exactly
// its printed size (so that Bitmap scales nothing) and printed by one call.
// Bitmap sends the dot rows of whole passes only, so each strip starts at
// the first row the previous one did not send. A strip holds no more passes
// than the count in the profile's GraphModeInitSeq can carry: a single "n"
// is one byte (255 passes) unless the profile is Unicode, two are a 16-bit
// count.
#pragma once

#include <string>
#include <vector>

#include "profile/EscSeq.h"

namespace printer_app {

struct GraphicsGeometry {
    int pins = 0;        // GraphNumPins: dot rows per pass
    int lineDots = 0;    // GraphXDots: dots across a line
    int charHeight = 0;  // GraphCharHeight: dot rows per text line
    int charWidth = 0;   // GraphCharWidth: dots per character column
    int maxPasses = 0;   // passes one Bitmap can count; 0 for no limit
};

// The geometry Bitmap prints with (pins 1 or a multiple of 8, a line of a
// multiple of 8 dots, cells above 0), within sizes a page can be held in.
bool GeometryUsable(const GraphicsGeometry& g);

// The pass count the init sequence can carry (see above); 0 for no limit.
int MaxPassesFor(const EscSeq& init, bool unicode);

// Character columns that cover the whole line.
int ColumnsFor(const GraphicsGeometry& g);

struct Strip {
    int firstRow = 0;  // first page row of the strip
    int lines = 0;     // Bitmap's height in text lines
    int rowsSent = 0;  // rows Bitmap sends: its whole passes
};

// The strips that send the first `rows` rows of a page, every row once.
// Empty when rows is 0, or when the geometry cannot send a single pass.
std::vector<Strip> PlanStrips(int rows, const GraphicsGeometry& g);

// A page as PAPPL hands it over: rows of bytesPerRow bytes, the most
// significant bit the leftmost dot, a 1 bit a dot.
struct PageRaster {
    int widthDots = 0;
    int bytesPerRow = 0;
    std::string bits;
    int Rows() const { return bytesPerRow > 0 ? static_cast<int>(bits.size() / static_cast<size_t>(bytesPerRow)) : 0; }
};

// Rows up to and including the last one with a dot; 0 for a blank page.
int InkedRows(const PageRaster& page);

// Writes page rows [firstRow, firstRow + rowCount) as a 1-bit bitmap file
// widthDots wide (white 0, black 1); dots beyond the page are white.
bool WriteStripBitmap(const std::string& path, const PageRaster& page, int firstRow, int rowCount, int widthDots);

}  // namespace printer_app
