// The BMP suite through SHLoadDIBitmap: good files decode to the pixels an
// independent decoder (ImageMagick) reads, bad files are refused cleanly,
// questionable ones do what is most plausible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "win/base.h"
#include "win/gdi.h"

namespace {

const std::string kSuite = std::string(PRESSEL_TESTDATA_DIR) + "/bmpsuite/";
const char* const kConvert = "/usr/bin/convert-im6.q16";

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Pixels as ImageMagick decodes them: RGB bytes, top row first.
bool ReferencePixels(const std::string& path, size_t expectedBytes, std::vector<uint8_t>& rgb) {
    std::string command = std::string(kConvert) + " '" + path + "' -depth 8 rgb:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    rgb.assign(expectedBytes + 1, 0);
    size_t n = fread(rgb.data(), 1, rgb.size(), pipe);
    pclose(pipe);
    rgb.resize(n);
    return n == expectedBytes;
}

struct Decoded {
    LONG width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
};

bool Load(const std::string& path, Decoded& out) {
    HBITMAP bitmap = SHLoadDIBitmap(Wide(path).c_str());
    if (bitmap == nullptr) return false;
    DIBSECTION ds{};
    EXPECT_EQ(static_cast<int>(sizeof ds), GetObjectW(bitmap, sizeof ds, &ds));
    EXPECT_EQ(32, ds.dsBm.bmBitsPixel);
    out.width = ds.dsBm.bmWidth;
    out.height = ds.dsBm.bmHeight;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    const bool topDown = ds.dsBmih.biHeight < 0;
    for (LONG y = 0; y < out.height; ++y) {
        const auto* row = static_cast<const uint8_t*>(ds.dsBm.bmBits) +
                          static_cast<size_t>(topDown ? y : out.height - 1 - y) * ds.dsBm.bmWidthBytes;
        for (LONG x = 0; x < out.width; ++x)
            out.pixels[static_cast<size_t>(y) * out.width + x] =
                row[4 * x] | (row[4 * x + 1] << 8) | (static_cast<uint32_t>(row[4 * x + 2]) << 16);
    }
    EXPECT_TRUE(DeleteObject(bitmap));
    return true;
}

// Largest channel difference from the reference decode.
// reference: the file whose decode must match (a twin where the reference decoder errs).
int MaxDifference(const std::string& path, const Decoded& d) {
    std::vector<uint8_t> rgb;
    if (!ReferencePixels(path, d.pixels.size() * 3, rgb)) return 1000;
    int worst = 0;
    for (size_t i = 0; i < d.pixels.size(); ++i) {
        const int ours[3] = {static_cast<int>(d.pixels[i] >> 16) & 255, static_cast<int>(d.pixels[i] >> 8) & 255,
                             static_cast<int>(d.pixels[i]) & 255};
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(ours[c] - rgb[3 * i + c]));
    }
    return worst;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite + dir))
        if (entry.path().extension() == ".bmp") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class BmpSuite : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kSuite)) GTEST_SKIP() << "no BMP suite at " << kSuite;
        objectsBefore_ = GetGuiResources(nullptr, GR_GDIOBJECTS);
    }
    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_EQ(objectsBefore_, GetGuiResources(nullptr, GR_GDIOBJECTS));
        }
    }
    DWORD objectsBefore_ = 0;
};

TEST_F(BmpSuite, GoodFilesMatchAnIndependentDecoder) {
    if (!std::filesystem::exists(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
    for (const std::string& name : FilesIn("g")) {
        SCOPED_TRACE(name);
        Decoded d;
        ASSERT_TRUE(Load(kSuite + "g/" + name, d)) << "last error " << GetLastError();
        EXPECT_GT(d.width, 0);
        // Five- and six-bit channels are widened with rounding that decoders choose differently.
        const int tolerance = name.rfind("rgb16", 0) == 0 ? 8 : 0;
        EXPECT_LE(MaxDifference(kSuite + "g/" + name, d), tolerance);
    }
}

TEST_F(BmpSuite, BadFilesAreRefused) {
    for (const std::string& name : FilesIn("b")) {
        SCOPED_TRACE(name);
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(nullptr, SHLoadDIBitmap(Wide(kSuite + "b/" + name).c_str()));
        EXPECT_NE(0xDEADBEEFu, GetLastError());
        EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    }
}

// Questionable files: what the device's loader would most plausibly do.
TEST_F(BmpSuite, QuestionableFiles) {
    struct Case {
        const char* name;
        DWORD error;    // 0: loads
        const char* reference;  // file to compare with ("" itself, null: no comparison)
    };
    const Case cases[] = {
        {"pal1huffmsb.bmp", ERROR_NOT_SUPPORTED, nullptr},   // OS/2 Huffman
        {"pal1p1.bmp", 0, ""},                            // one palette entry
        {"pal2.bmp", 0, nullptr},
        {"pal2color.bmp", 0, nullptr},
        {"pal4rlecut.bmp", 0, nullptr},                       // skipped pixels take entry 0
        {"pal4rletrns.bmp", 0, nullptr},
        {"pal8offs.bmp", 0, ""},                          // gap before the pixels
        {"pal8os2-hs.bmp", 0, ""},
        {"pal8os2-sz.bmp", 0, ""},
        {"pal8os2sp.bmp", 0, ""},                         // short palette
        {"pal8os2v2-16.bmp", 0, ""},
        {"pal8os2v2-40sz.bmp", 0, ""},
        {"pal8os2v2-sz.bmp", 0, "g/pal8.bmp"},
        {"pal8os2v2.bmp", 0, "g/pal8.bmp"},
        {"pal8oversizepal.bmp", 0, "g/pal8.bmp"},
        {"pal8rlecut.bmp", 0, nullptr},
        {"pal8rletrns.bmp", 0, nullptr},
        {"rgb16-231.bmp", 0, nullptr},
        {"rgb16-3103.bmp", 0, ""},
        {"rgb16faketrns.bmp", 0, ""},
        {"rgb24jpeg.bmp", ERROR_NOT_SUPPORTED, nullptr},
        {"rgb24largepal.bmp", 0, ""},
        {"rgb24lprof.bmp", 0, ""},
        {"rgb24png.bmp", ERROR_NOT_SUPPORTED, nullptr},
        {"rgb24rle24.bmp", ERROR_NOT_SUPPORTED, nullptr},     // OS/2 RLE24
        {"rgb32-111110.bmp", 0, ""},
        {"rgb32-7187.bmp", 0, ""},
        {"rgb32-xbgr.bmp", 0, ""},
        {"rgb32fakealpha.bmp", 0, ""},
        {"rgb32h52.bmp", 0, ""},
        {"rgba16-1924.bmp", 0, nullptr},                      // alpha is not kept: colours only
        {"rgba16-4444.bmp", 0, nullptr},
        {"rgba16-5551.bmp", 0, nullptr},
        {"rgba32-1.bmp", 0, nullptr},
        {"rgba32-1010102.bmp", 0, nullptr},
        {"rgba32-2.bmp", 0, nullptr},
        {"rgba32-61754.bmp", 0, nullptr},
        {"rgba32-81284.bmp", 0, nullptr},
        {"rgba32abf.bmp", 0, nullptr},
        {"rgba32h56.bmp", 0, nullptr},
        {"rgba64.bmp", ERROR_NOT_SUPPORTED, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = kSuite + "q/" + c.name;
        SetLastError(0xDEADBEEF);
        Decoded d;
        const bool loaded = Load(path, d);
        if (c.error != 0) {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(c.error, GetLastError());
            continue;
        }
        ASSERT_TRUE(loaded) << "last error " << GetLastError();
        if (c.reference != nullptr && std::filesystem::exists(kConvert)) {
            const int tolerance = std::string(c.name).rfind("rgb16", 0) == 0 ? 40 : 2;
            EXPECT_LE(MaxDifference(*c.reference ? kSuite + c.reference : path, d), tolerance);
        }
    }
}

TEST_F(BmpSuite, RleSkippedPixelsTakePaletteEntryZero) {
    Decoded d;
    ASSERT_TRUE(Load(kSuite + "q/pal8rletrns.bmp", d));
    // The suite's image has a skipped area; every skipped pixel reads as entry 0.
    FILE* f = fopen((kSuite + "q/pal8rletrns.bmp").c_str(), "rb");
    ASSERT_NE(nullptr, f);
    uint8_t entry0[4];
    ASSERT_EQ(0, fseek(f, 54, SEEK_SET));
    ASSERT_EQ(4u, fread(entry0, 1, 4, f));
    fclose(f);
    const uint32_t colour0 = entry0[0] | (entry0[1] << 8) | (static_cast<uint32_t>(entry0[2]) << 16);
    size_t zeros = std::count(d.pixels.begin(), d.pixels.end(), colour0);
    EXPECT_GT(zeros, 100u);
}

}  // namespace
