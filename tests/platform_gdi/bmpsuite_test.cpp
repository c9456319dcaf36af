// The BMP suite through SHLoadDIBitmap: good files decode to the pixels an
// independent decoder (ImageMagick) reads, bad files are refused cleanly,
// questionable ones do what is most plausible.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_test_files.h"

namespace {

using namespace bmp_test;

const std::string kSuite = std::string(PRESSEL_TESTDATA_DIR) + "/bmpsuite/";

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
        ASSERT_TRUE(LoadFile(kSuite + "g/" + name, d)) << "last error " << GetLastError();
        EXPECT_GT(d.width, 0);
        // Five- and six-bit channels are widened with rounding that decoders choose differently.
        const int tolerance = name.rfind("rgb16", 0) == 0 ? 8 : 0;
        EXPECT_LE(MaxDifference(kSuite + "g/" + name, d), tolerance);
    }
}

TEST_F(BmpSuite, BadFilesAreRefused) {
    for (const std::string& name : FilesIn("b")) {
        SCOPED_TRACE(name);
        const std::string path = kSuite + "b/" + name;
        SetLastError(0xDEADBEEF);
        EXPECT_EQ(nullptr, SHLoadDIBitmap(std::u16string(path.begin(), path.end()).c_str()));
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
        {"pal4rlecut.bmp", 0, ""},                        // ends early: the rest takes entry 0
        {"pal4rletrns.bmp", 0, ""},                       // skipped by deltas: entry 0
        {"pal8offs.bmp", 0, ""},                          // gap before the pixels
        {"pal8os2-hs.bmp", 0, ""},
        {"pal8os2-sz.bmp", 0, ""},
        {"pal8os2sp.bmp", 0, ""},                         // short palette
        {"pal8os2v2-16.bmp", 0, ""},
        {"pal8os2v2-40sz.bmp", 0, ""},
        {"pal8os2v2-sz.bmp", 0, "g/pal8.bmp"},
        {"pal8os2v2.bmp", 0, "g/pal8.bmp"},
        {"pal8oversizepal.bmp", 0, "g/pal8.bmp"},
        {"pal8rlecut.bmp", 0, ""},                        // ends early: the rest takes entry 0
        {"pal8rletrns.bmp", 0, ""},                       // skipped by deltas: entry 0
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
        const bool loaded = LoadFile(path, d);
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
    ASSERT_TRUE(LoadFile(kSuite + "q/pal8rletrns.bmp", d));
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
