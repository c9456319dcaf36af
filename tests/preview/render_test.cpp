// Drawing a split stream: graphics dots at their pixels (also with dots
// that are not square), markers for unexplained bytes, what a cut stream
// still shows, pages and cuts, and the fonts and emphasis as they look.
#include "preview/Markers.h"
#include "preview_support.h"

namespace preview_test {
namespace {

using test_support::Esc;

// 10 x 20 dot cells on a 200-dot line, graphics in bands of 8 or raster rows.
std::map<std::string, std::string> Profile(std::map<std::string, std::string> extra = {}) {
    std::map<std::string, std::string> base = {
        {"InitSeq", "27,64"},          {"NormalFontSeq", "27,78"},   {"DoubleWideFontSeq", "27,87"},
        {"CompressFontSeq", "15"},     {"BoldOnSeq", "27,69"},       {"BoldOffSeq", "27,70"},
        {"ItalicOnSeq", "27,52"},      {"ItalicOffSeq", "27,53"},    {"UnderlineOnSeq", "27,45,1"},
        {"UnderlineOffSeq", "27,45,0"}, {"StrikeOutOnSeq", "27,83"}, {"StrikeOutOffSeq", "27,84"},
        {"CrLfSeq", "13,10"},          {"FormFeedSeq", "12"},        {"PrintableLines", "0"},
        {"GraphNumPins", "8"},         {"GraphXDots", "200"},        {"GraphCharHeight", "20"},
        {"GraphCharWidth", "10"},      {"GraphPrefixSeq", "27,42"},  {"GraphPostfixSeq", "13,10"},
    };
    for (auto& [k, v] : extra) base[k] = v;
    return base;
}

// Every pixel of the page, as kDot or not, in a grid of blocks.
std::string DotsOf(const Image& page) {
    std::string s;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x) s += page.At(x, y) == kDot ? '#' : '.';
    return s;
}

TEST(PreviewRender, GraphicsDotsLandOnTheirPixels) {
    // Two passes of distinct bytes; dots keep their density's proportions
    // (180 x 60: a dot is 1 pixel wide and 3 high) or are square.
    std::string band, raster;
    for (int j = 0; j < 200; ++j) band += static_cast<char>(j * 37 + 11);
    for (int j = 0; j < 25; ++j) raster += static_cast<char>(j * 53 + 7);
    struct Case {
        const char* pins;
        std::string pass;
        DotDensity density;
    } cases[] = {{"8", band, {}}, {"8", band, {180, 60}}, {"1", raster, {}}, {"1", raster, {60, 180}}};
    for (const Case& c : cases) {
        PrinterSettings s = Settings(Profile({{"GraphNumPins", c.pins}}));
        Rendered r = Render(s, Esc("^*") + c.pass + Esc("\r\n^*") + c.pass + "\r\n", c.density);
        ASSERT_EQ(r.pages.size(), 1u);
        const Image& page = r.pages[0];
        const Layout& l = r.info.layout;
        int rows = c.pins[0] == '8' ? 8 : 1;
        for (int pass = 0; pass < 2; ++pass)
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < 200; ++x) {
                    auto byte = static_cast<unsigned char>(rows == 8 ? c.pass[static_cast<size_t>(x)] : c.pass[static_cast<size_t>(x / 8)]);
                    bool dot = byte & (0x80 >> (rows == 8 ? y : x % 8));
                    long row = pass * rows + y;
                    for (long py = l.down.Px(row); py < l.down.Px(row + 1); ++py)
                        for (long px = l.across.Px(x); px < l.across.Px(x + 1); ++px)
                            ASSERT_EQ(page.At(static_cast<int>(px), static_cast<int>(py)) == kDot, dot)
                                << "pins " << c.pins << ", dot " << x << "," << row << ", density " << c.density.lAcross;
                }
        EXPECT_EQ(page.width, l.across.Px(200));
        EXPECT_EQ(Count(page, kDot, 0, static_cast<int>(l.down.Px(2 * rows))), 0) << "nothing below the passes";
    }
}

TEST(PreviewRender, UnexplainedBytesShowAsMarkersWithTheirValue) {
    PrinterSettings s = Settings(Profile());
    Rendered plain = Render(s, "AB\r\n"), bell = Render(s, "A\x07" "B\r\n"), tab = Render(s, "A\tB\r\n");
    EXPECT_EQ(Count(plain.pages[0], kMarker), 0);
    EXPECT_GT(Count(bell.pages[0], kMarker), 0);
    EXPECT_EQ(bell.info.unexplained, 1u);
    EXPECT_EQ(bell.info.firstUnexplained, 1u);
    // The two markers differ by their digits; the text after them moves on
    // by the marker's cell.
    auto markerPixels = [](const Image& page) {
        std::string s;
        for (int y = 0; y < 20; ++y)
            for (int x = 10; x < 20; ++x) s += page.At(x, y) == kMarker ? 'M' : '.';
        return s;
    };
    EXPECT_NE(markerPixels(bell.pages[0]), markerPixels(tab.pages[0]));
    int b = 10 + std::max(10, MarkerMinWidth(2));
    EXPECT_EQ(Count(bell.pages[0], kDot, b, 0, b + 10, 20), Count(plain.pages[0], kDot, 10, 0, 20, 20)) << "B after the marker";
    // A code page byte that decodes to a control character is one too.
    EXPECT_EQ(Render(s, "A\x81" "B\r\n").info.unexplained, 1u);
}

TEST(PreviewRender, ACutStreamShowsWhatCameAndWhereItStopped) {
    PrinterSettings s = Settings(Profile());
    std::string pass(200, '\xF0');
    std::string whole = Esc("Top\r\n^*") + pass + "\r\n";
    Rendered full = Render(s, whole);
    // Cut in the middle of the pass: the first 120 columns are there.
    Rendered cut = Render(s, whole.substr(0, whole.size() - 2 - 80));
    ASSERT_TRUE(cut.info.stop);
    EXPECT_EQ(cut.info.stop->what, "graphics pass 1 (120 of 200 bytes)");
    EXPECT_EQ(cut.info.stop->began, 7u);
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 200; ++x)
            ASSERT_EQ(cut.pages[0].At(x, y) == kDot, x < 120 && full.pages[0].At(x, y) == kDot) << x << "," << y;
    EXPECT_GT(Count(cut.pages[0], kMarker), 0) << "the stop is marked";
    // Cut inside a sequence: the text before it is drawn as it would be.
    Rendered seq = Render(s, Esc("Top\r\n^-"));
    ASSERT_TRUE(seq.info.stop);
    EXPECT_EQ(seq.info.stop->began, 5u);
    EXPECT_EQ(DotsOf(seq.pages[0]).substr(0, 200 * 20), DotsOf(full.pages[0]).substr(0, 200 * 20));
}

TEST(PreviewRender, FormFeedsMakePagesOrCutsOnARoll) {
    const std::string job = "A\r\n\x0c" "B\r\n\x0c";
    Rendered pages = Render(Settings(Profile({{"PrintableLines", "3"}})), job);
    ASSERT_EQ(pages.pages.size(), 2u) << "the feed after the last page starts no page";
    for (const Image& page : pages.pages) {
        EXPECT_EQ(page.height, 60);
        EXPECT_GT(Count(page, kDot), 0);
        EXPECT_EQ(Count(page, kNote), 0);
    }
    Rendered roll = Render(Settings(Profile()), job);
    ASSERT_EQ(roll.pages.size(), 1u);
    EXPECT_EQ(roll.pages[0].height, 4 * 20) << "two lines and two cuts";
    EXPECT_GT(Count(roll.pages[0], kNote, 0, 30, 200, 31), 0);
    EXPECT_GT(Count(roll.pages[0], kNote, 0, 70, 200, 71), 0);
    // A line longer than the paper goes on on the next one.
    Rendered wrapped = Render(Settings(Profile()), std::string(25, 'W') + "\r\n");
    EXPECT_GT(Count(wrapped.pages[0], kDot, 0, 20, 50, 40), 0);
}

TEST(PreviewRender, FontsAndEmphasisLookTheirPart) {
    PrinterSettings s = Settings(Profile());
    auto page = [&](const std::string& stream) { return Render(s, Esc(stream)).pages[0]; };
    // The ink's width in the first line.
    auto inkWidth = [](const Image& p) {
        int left = p.width, right = -1;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < p.width; ++x)
                if (p.At(x, y) == kDot) left = std::min(left, x), right = std::max(right, x);
        return right - left + 1;
    };
    Image normal = page("HHHH\r\n"), wide = page("^WHHHH\r\n"), narrow = page("\x0fHHHH\r\n");
    EXPECT_NEAR(inkWidth(wide), 2 * inkWidth(normal), 4);
    EXPECT_NEAR(inkWidth(narrow), inkWidth(normal) * 3 / 5, 4);
    EXPECT_GT(Count(page("^EHHHH\r\n"), kDot), Count(normal, kDot) * 5 / 4) << "bold";
    Image italic = page("^4HHHH\r\n");
    EXPECT_NE(DotsOf(italic), DotsOf(normal));
    EXPECT_NEAR(Count(italic, kDot), Count(normal, kDot), Count(normal, kDot) / 5);
    // Underline and strike-out run as one line across every cell, spaces too.
    auto fullRows = [](const Image& p) {
        std::vector<int> rows;
        for (int y = 0; y < 20; ++y)
            if (Count(p, kDot, 0, y, 40, y + 1) == 40) rows.push_back(y);
        return rows;
    };
    std::vector<int> under = fullRows(page("^-\x01o  o\r\n")), strike = fullRows(page("^So  o\r\n"));
    ASSERT_FALSE(under.empty());
    ASSERT_FALSE(strike.empty());
    EXPECT_GT(under.front(), 14);
    EXPECT_LT(strike.back(), 14);
    EXPECT_GT(strike.front(), 6);
    // The same text in UTF-16 draws the same.
    PrinterSettings wide16 = Settings(Profile({{"Unicode", "1"}}));
    EXPECT_EQ(DotsOf(Render(wide16, std::string("\x1b\0E\0H\0\xe9\0\r\0\n\0", 12)).pages[0]), DotsOf(page("^EH\xe9\r\n")));
}

TEST(PreviewRender, RefusesGeometryTooLargeToDraw) {
    struct Case {
        std::map<std::string, std::string> keys;
        DotDensity density;
        const char* says;
    } cases[] = {
        {{{"GraphCharHeight", "100000"}}, {}, "character cell"},
        {{{"GraphXDots", "2000000"}}, {}, "wider than"},
        {{}, {300, 10}, "differ by more than"},
        {{{"GraphNumPins", "1000000"}}, {}, "too tall"},
    };
    for (const Case& c : cases) {
        Preview preview;
        std::string error;
        EXPECT_FALSE(RenderPreview(Settings(Profile(c.keys)), c.density, "x", Glyphs(), [](const Image&) { return true; },
                                   &preview, &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace preview_test
