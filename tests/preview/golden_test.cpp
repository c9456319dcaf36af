// Every bundled profile earns its place: one sample job per printer of every
// INI file in examples/profiles runs through the control, and its preview
// must explain every byte and match the golden pictures in
// tests/preview/golden pixel for pixel (decoded, not as file bytes).
//
// To make or remake the goldens, run this test with PRESSEL_UPDATE_GOLDEN=1
// and look at every picture it wrote before committing it:
//     PRESSEL_UPDATE_GOLDEN=1 build/bin/preview_golden_test
// Pictures of the same name under docs/previews (the README's) are checked
// and remade with them.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "preview/PngFile.h"
#include "preview_support.h"
#include "profile/ProfileCatalog.h"
#include "tests/control/job_fixture.h"

namespace preview_test {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = PRESSEL_SOURCE_DIR;

struct Printer {
    fs::path ini;
    std::string name;
    std::string golden;  // the pictures' name: the file's, and the printer's when the file has several
};

void PrintTo(const Printer& p, std::ostream* os) { *os << p.golden; }

std::vector<Printer> BundledPrinters() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kSource / "examples" / "profiles"))
        if (entry.path().extension() == ".ini") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<Printer> printers;
    for (const fs::path& file : files) {
        std::vector<std::string> names = pressel_catalog::PrintersInIniFile(file);
        for (const std::string& name : names) {
            std::string golden = file.stem().string();
            if (names.size() > 1) {
                golden += '-';
                for (char c : name) golden += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '-';
            }
            printers.push_back({file, name, golden});
        }
    }
    return printers;
}

// Graphics the control can print with.
bool HasGeometry(const PrinterSettings& s) {
    return s.m_lGraphNumPins > 0 && s.m_lGraphXDots > 0 && s.m_lGraphCharHeight > 0 && s.m_lGraphCharWidth > 0;
}

// One case per printer, so that the cases run side by side under ctest.
class PreviewGolden : public job_test::JobFixture, public ::testing::WithParamInterface<Printer> {
protected:
    void Line(LONG type, LONG style, LONG effect, const char16_t* text) {
        ip_->FontSelect(type, style, effect);
        Write(ip_, text);
        ip_->NewLine();
    }

    // All three fonts, every emphasis the printer has, non-ASCII text, the
    // logo about square on paper, a form feed (a cut on a roll) and more
    // after it; Finish feeds the last form.
    void SampleJob(const PrinterSettings& s, const DotDensity& density) {
        Line(1, 0, 0, u"Pressel");
        Line(0, 0, 0, u"Sample job, normal font");
        Line(2, 0, 0, u"Compressed: 0123456789 ABCDEF");
        if (s.m_seqBoldOn.count) Line(0, 1, 0, u"Bold");
        if (s.m_seqItalicOn.count) Line(0, 2, 0, u"Italic");
        if (s.m_seqUnderlineOn.count) Line(0, 0, 2, u"Underlined");
        if (s.m_seqStrikeOutOn.count) Line(0, 0, 1, u"Struck out");
        Line(0, 0, 0, u"Gr\u00fc\u00dfe: 12,50 \u20ac");
        if (HasGeometry(s)) {
            const LONG lines = 4;
            double across = density.lAcross > 0 && density.lDown > 0 ? double(density.lAcross) / density.lDown : 1.0;
            auto columns = static_cast<LONG>(std::lround(lines * s.m_lGraphCharHeight * across / s.m_lGraphCharWidth));
            BSTR logo = SysAllocString(job_test::U16((kSource / "examples" / "logo.bmp").string()).c_str());
            ip_->Bitmap(2, lines, std::max<LONG>(columns, 1), logo);
            SysFreeString(logo);
            EXPECT_EQ(LastError(ip_), 0);
        }
        Line(0, 0, 0, u"After the logo");
        ip_->FormFeed();
        Line(0, 0, 0, u"After the form feed");
        ip_->Finish();
    }

    // Compares one picture with its golden, or, updating, makes it the golden.
    void Check(const fs::path& expected, const fs::path& actual, bool update) {
        if (update) {
            fs::create_directories(expected.parent_path());
            fs::copy_file(actual, expected, fs::copy_options::overwrite_existing);
            std::printf("wrote %s\n", expected.string().c_str());
            return;
        }
        Picture want, got;
        ASSERT_TRUE(ReadPng(expected.string(), &want)) << expected << " is missing: make it with PRESSEL_UPDATE_GOLDEN=1 build/bin/preview_golden_test and look at it";
        ASSERT_TRUE(ReadPng(actual.string(), &got));
        if (want == got) return;
        fs::path kept = fs::path(PRESSEL_BIN_DIR).parent_path() / "preview-actual" / expected.filename();
        fs::create_directories(kept.parent_path());
        fs::copy_file(actual, kept, fs::copy_options::overwrite_existing);
        size_t differ = 0;
        for (size_t i = 0; i < std::min(want.rgb.size(), got.rgb.size()); i += 3)
            differ += !std::equal(want.rgb.begin() + i, want.rgb.begin() + i + 3, got.rgb.begin() + i);
        ADD_FAILURE() << expected << ": " << got.width << "x" << got.height << " against " << want.width << "x"
                      << want.height << ", " << differ << " pixels differ; the preview is in " << kept;
    }
};

TEST(PreviewGoldens, CoverEveryBundledProfile) { EXPECT_GE(BundledPrinters().size(), 12u); }

TEST_P(PreviewGolden, MatchesItsGoldenPictures) {
    const char* env = std::getenv("PRESSEL_UPDATE_GOLDEN");
    const bool update = env && std::string(env) == "1";
    const fs::path goldens = kSource / "tests" / "preview" / "golden", docs = kSource / "docs" / "previews";
    const Printer& p = GetParam();
    {
        SCOPED_TRACE(p.ini.filename().string() + " [" + p.name + "]");
        std::u16string ini = job_test::U16(p.ini.string()), name = job_test::U16(p.name);
        ProfileSource source;
        source.m_bstrIniName = ini.c_str();
        PrinterSettings settings;
        std::u16string description, portName;
        ASSERT_TRUE(LoadPrinterProfile(source, name.c_str(), &settings, &description, &portName));
        DotDensity density = LoadDotDensity(source, name.c_str());

        ASSERT_EQ(Start(ip_, p.ini.string(), out_, 0, name.c_str()), 0);
        SampleJob(settings, density);
        std::string stream = Read(out_);

        Rendered r = Render(settings, stream, density);
        EXPECT_FALSE(r.info.stop) << DescribeStop(r.info.stop.value_or(Stop{}));
        EXPECT_EQ(r.info.unexplained, 0u) << "the profile does not explain its own job (first at byte offset "
                                          << r.info.firstUnexplained << ")";
        if (r.info.layout.roll) EXPECT_EQ(r.pages.size(), 1u);
        else EXPECT_GE(r.pages.size(), 2u) << "the form feed starts a page";
        for (size_t k = 0; k < r.pages.size(); ++k) {
            std::string file = p.golden + (k ? "-" + std::to_string(k + 1) : "") + ".png";
            fs::path actual = dir_ / file;
            std::string error;
            ASSERT_TRUE(WritePng(r.pages[k], actual.string(), r.info.layout.pixelsPerInch, &error)) << error;
            Check(goldens / file, actual, update);
            if (fs::exists(docs / file)) Check(docs / file, actual, update);
        }
        EXPECT_FALSE(fs::exists(goldens / (p.golden + "-" + std::to_string(r.pages.size() + 1) + ".png")))
            << "a golden page more than the preview has";
    }
}

INSTANTIATE_TEST_SUITE_P(Bundled, PreviewGolden, ::testing::ValuesIn(BundledPrinters()), [](const auto& info) {
    std::string name;
    for (char c : info.param.golden) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

}  // namespace
}  // namespace preview_test
