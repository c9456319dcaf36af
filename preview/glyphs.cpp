// FreeType behind GlyphSet. Every face is sized so that its advance fills
// the box's width and its ascender and descender its height; glyphs are
// hinted and rendered for monochrome output.
#include "preview/GlyphSet.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>

namespace pressel_preview {
namespace {

// The font's own hinting, for monochrome output.
constexpr FT_Int32 kLoadFlags = FT_LOAD_TARGET_MONO;

constexpr const char* kFaceFiles[] = {"DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf", "DejaVuSansMono-Oblique.ttf",
                                      "DejaVuSansMono-BoldOblique.ttf"};

// Rendered dots kept at most; the cache starts afresh beyond that.
constexpr size_t kCacheBudget = 32u << 20;

uint64_t Key(uint32_t c, GlyphStyle style, int w, int h) {
    return static_cast<uint64_t>(c & 0x1FFFFF) | static_cast<uint64_t>(style) << 21 |
           static_cast<uint64_t>(w & 0xFFFF) << 23 | static_cast<uint64_t>(h & 0xFFFF) << 39;
}

}  // namespace

struct GlyphSet::Faces {
    FT_Library library = nullptr;
    std::array<FT_Face, 4> face{};
    std::array<std::pair<int, int>, 4> size{};  // the box each face is sized for now

    ~Faces() {
        for (FT_Face f : face)
            if (f) FT_Done_Face(f);
        if (library) FT_Done_FreeType(library);
    }
};

#ifndef PRESSEL_FONT_DIR
#define PRESSEL_FONT_DIR "/usr/share/fonts/truetype/dejavu"
#endif
const char* DefaultFontDir() { return PRESSEL_FONT_DIR; }

GlyphSet::GlyphSet(std::unique_ptr<Faces> faces) : faces_(std::move(faces)) {}
GlyphSet::~GlyphSet() = default;

std::unique_ptr<GlyphSet> GlyphSet::Open(const std::string& dir, std::string* error) {
    auto faces = std::make_unique<Faces>();
    if (FT_Init_FreeType(&faces->library) != 0) {
        *error = "FreeType could not be initialised";
        return nullptr;
    }
    for (size_t i = 0; i < faces->face.size(); ++i) {
        std::string path = dir + "/" + kFaceFiles[i];
        if (FT_New_Face(faces->library, path.c_str(), 0, &faces->face[i]) != 0 || !FT_IS_SCALABLE(faces->face[i])) {
            *error = "the font " + path + " cannot be loaded (Debian packages fonts-dejavu-core and fonts-dejavu-extra)";
            return nullptr;
        }
    }
    return std::unique_ptr<GlyphSet>(new GlyphSet(std::move(faces)));
}

void GlyphSet::Size(GlyphStyle style, int boxWidth, int boxHeight) {
    FT_Face f = faces_->face[style];
    if (faces_->size[style] == std::pair{boxWidth, boxHeight}) return;
    long units = f->units_per_EM;
    long advance = std::max<long>(f->max_advance_width, 1), extent = std::max<long>(f->ascender - f->descender, 1);
    auto em = [units](long box, long part) { return static_cast<FT_UInt>(std::max(1L, (box * units + part / 2) / part)); };
    FT_Set_Pixel_Sizes(f, em(boxWidth, advance), em(boxHeight, extent));
    faces_->size[style] = {boxWidth, boxHeight};
}

BoxMetrics GlyphSet::Metrics(GlyphStyle style, int boxWidth, int boxHeight) {
    uint64_t key = Key(0, style, boxWidth, boxHeight);
    if (auto it = metrics_.find(key); it != metrics_.end()) return it->second;
    Size(style, boxWidth, boxHeight);
    FT_Face f = faces_->face[style];
    BoxMetrics m;
    m.baseline = static_cast<int>(std::min<long>((f->size->metrics.ascender + 32) >> 6, boxHeight));
    if (FT_Load_Char(f, 'x', kLoadFlags) == 0) m.xHeight = static_cast<int>((f->glyph->metrics.horiBearingY + 32) >> 6);
    return metrics_[key] = m;
}

const Glyph& GlyphSet::Get(char32_t c, GlyphStyle style, int boxWidth, int boxHeight) {
    uint64_t key = Key(c, style, boxWidth, boxHeight);
    if (auto it = glyphs_.find(key); it != glyphs_.end()) return it->second;
    int baseline = Metrics(style, boxWidth, boxHeight).baseline;
    Size(style, boxWidth, boxHeight);
    FT_Face f = faces_->face[style];
    if (cached_ > kCacheBudget) {
        glyphs_.clear();
        cached_ = 0;
    }
    Glyph& g = glyphs_[key];
    if (FT_Load_Char(f, c, kLoadFlags) != 0 || FT_Render_Glyph(f->glyph, FT_RENDER_MODE_MONO) != 0) return g;
    const FT_Bitmap& b = f->glyph->bitmap;
    if (b.pixel_mode != FT_PIXEL_MODE_MONO) return g;
    g.left = f->glyph->bitmap_left;
    g.top = baseline - f->glyph->bitmap_top;
    g.width = static_cast<int>(b.width);
    g.rows = static_cast<int>(b.rows);
    g.ink.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.rows));
    cached_ += g.ink.size();
    for (int y = 0; y < g.rows; ++y) {
        const unsigned char* row = b.buffer + static_cast<long>(y) * b.pitch;
        for (int x = 0; x < g.width; ++x) g.ink[static_cast<size_t>(y * g.width + x)] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
    return g;
}

}  // namespace pressel_preview
