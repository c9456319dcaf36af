// What the preview tests share: profiles written as key lists, streams
// rendered into pictures in memory, and PNG files decoded to pixels.
#pragma once

#include <png.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "preview/Preview.h"
#include "profile/Profile.h"
#include "test_support.h"
#include "win/wcs.h"

namespace preview_test {

using namespace pressel_preview;

// A profile with every key at its default, then the keys given
// ("BoldOnSeq" = "27,69"), read as a job reads them.
inline PrinterSettings Settings(const std::map<std::string, std::string>& keys) {
    PrinterSettings s;
    for (int i = 0; i < kProfileKeyCount; ++i) {
        const ProfileKey& k = kProfileKeys[i];
        std::string name(k.name, k.name + std::char_traits<char16_t>::length(k.name));
        auto given = keys.find(name);
        std::u16string value = given != keys.end() ? test_support::Wide(given->second) : u"";
        if (k.kind == ProfileKeyKind::Integer)
            s.*k.intField = given != keys.end() ? static_cast<LONG>(wcstol(value.c_str(), nullptr, 10)) : k.intDefault;
        else if (k.kind == ProfileKeyKind::Sequence)
            ParseSeq(given != keys.end() ? value.c_str() : k.seqDefault, &(s.*k.seqField));
    }
    return s;
}

struct Rendered {
    std::vector<Image> pages;
    Preview info;
};

inline GlyphSet& Glyphs() {
    static std::unique_ptr<GlyphSet> glyphs = [] {
        std::string error;
        auto g = GlyphSet::Open(DefaultFontDir(), &error);
        EXPECT_TRUE(g) << error;
        return g;
    }();
    return *glyphs;
}

inline Rendered Render(const PrinterSettings& s, std::string_view stream, DotDensity density = {}) {
    Rendered r;
    std::string error;
    auto keep = [&r](const Image& page) {
        r.pages.push_back(page);
        return true;
    };
    EXPECT_TRUE(RenderPreview(s, density, stream, Glyphs(), keep, &r.info, &error)) << error;
    return r;
}

// Pixels of ink in [x0, x1) x [y0, y1).
inline long Count(const Image& image, Ink ink, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = image.width;
    if (y1 < 0) y1 = image.height;
    long n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += image.At(x, y) == ink;
    return n;
}

// A decoded PNG file as 8-bit RGB.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    bool operator==(const Picture&) const = default;
};

inline bool ReadPng(const std::string& path, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

}  // namespace preview_test
