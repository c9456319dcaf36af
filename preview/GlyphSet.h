// Characters of a monospace font rendered in dots (FreeType's monochrome
// mode, no grey levels), each stretched to fill a character box of the
// requested size, so that the same text always gives the same pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace pressel_preview {

enum GlyphStyle { kRegular = 0, kBold = 1, kItalic = 2, kBoldItalic = 3 };

struct Glyph {
    int left = 0, top = 0;  // of the bitmap, from the box's top left corner
    int width = 0, rows = 0;
    std::vector<uint8_t> ink;  // width * rows, 1 where the glyph has a dot
};

// Where lines go inside a box, in pixels from its top.
struct BoxMetrics {
    int baseline = 0;
    int xHeight = 0;  // height of the lower-case letters above the baseline
};

class GlyphSet {
public:
    // Opens the four faces of the monospace family in dir; null and a
    // reason when one cannot be loaded.
    static std::unique_ptr<GlyphSet> Open(const std::string& dir, std::string* error);
    ~GlyphSet();
    GlyphSet(const GlyphSet&) = delete;
    GlyphSet& operator=(const GlyphSet&) = delete;

    // The glyph of c (the font's missing-glyph box when it has none), valid
    // until the next call.
    const Glyph& Get(char32_t c, GlyphStyle style, int boxWidth, int boxHeight);
    BoxMetrics Metrics(GlyphStyle style, int boxWidth, int boxHeight);

private:
    struct Faces;
    explicit GlyphSet(std::unique_ptr<Faces> faces);
    void Size(GlyphStyle style, int boxWidth, int boxHeight);

    std::unique_ptr<Faces> faces_;
    std::unordered_map<uint64_t, Glyph> glyphs_;
    size_t cached_ = 0;
    std::unordered_map<uint64_t, BoxMetrics> metrics_;
};

// The directory of the font the build found (fonts-dejavu-core).
const char* DefaultFontDir();

}  // namespace pressel_preview
