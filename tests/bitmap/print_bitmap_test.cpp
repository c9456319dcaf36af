// The Bitmap method: golden byte streams of the passes and their framing,
// the pass-count placeholders, a job ending in the middle, and the errors in
// the order the method checks them.
#include <cstring>
#include <limits>

#include "tests/bitmap/print_fixture.h"

namespace print_test {
namespace {

constexpr LONG kLongMax = std::numeric_limits<LONG>::max();

using Writes = std::vector<std::string>;

// Horizontal stripes 8 rows high, black first: in band layout the bands are
// alternately all 1 and all 0 bits.
bool Stripes(int, int y) { return (y / 8) % 2 == 0; }

using BitmapPrint = PrintFixture;

TEST_F(BitmapPrint, BandPassesAreFramedAndTakenInPlaceFromOneArray) {
    // 8 pins, 384 dots, 24 rows a line, 2 lines: 48 dot rows make 6 passes;
    // the array has 8 bands and the last 2 are not sent.
    Geometry(8, 384, 24, 8);
    Sequences(u"27,51,24", u"27,42,1,128,1", u"13,10", u"27,50");
    p_->m_lLineNo = 5;
    ASSERT_EQ(Print(1, 2, 48, Image(384, 48, Stripes)), S_OK);

    Writes expected = {Esc("^3\x18")};
    for (int i = 0; i < 6; ++i) {
        expected.push_back(Esc("^*\x01\x80\x01"));
        expected.push_back(std::string(384, i % 2 == 0 ? '\xFF' : '\0'));
        expected.push_back("\r\n");
    }
    expected.push_back(Esc("^2"));
    EXPECT_EQ(rec_.writes, expected);
    for (int i = 1; i < 6; ++i) EXPECT_EQ(rec_.addresses[2 + 3 * i] - rec_.addresses[2], 384 * i) << "pass " << i;
    EXPECT_EQ(p_->m_lLineNo, 7);
    EXPECT_EQ(LastError(), 0);
    EXPECT_TRUE(sink_.notifications.empty());
}

TEST_F(BitmapPrint, WidePassesCarryWholeBandsAndDropPartialRows) {
    // 24 pins and 30 dot rows: one pass of three bands, one after the other;
    // rows 24 to 29 are not printed. No sequences: nothing but the pass.
    Geometry(24, 384, 15, 8);
    Sequences(u"", u"", u"", u"");
    ASSERT_EQ(Print(1, 2, 48, Image(384, 30, Stripes)), S_OK);
    std::string pass = std::string(384, '\xFF') + std::string(384, '\0') + std::string(384, '\xFF');
    EXPECT_EQ(rec_.writes, Writes{pass});
    EXPECT_EQ(p_->m_lLineNo, 2);
}

TEST_F(BitmapPrint, PassCountPlaceholders) {
    // 300 passes of one raster byte each, no prefix, postfix or exit.
    struct Case {
        const char16_t* init;
        BOOL unicode;
        std::string sent;
    } cases[] = {
        {u"27,n,n", 0, {'\x1b', '\x01', '\x2c'}},
        {u"27,n", 0, {'\x1b', '\x2c'}},
        {u"27,n", 1, {'\x1b', '\0', '\x2c', '\x01'}},
        {u"27,n,n", 1, {'\x1b', '\0', '\x01', '\0', '\x2c', '\0'}},
        {u"27,n,n,n", 0, Esc("^nnn")},
        {u"n,27,n,n,n", 0, Esc("n^nnn")},
        {u"27,42", 0, Esc("^*")},
    };
    Geometry(1, 8, 1, 8);
    Sequences(u"", u"", u"", u"");
    std::string image = Image(1, 1, [](int, int) { return true; });
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sent.begin(), c.sent.end()));
        ParseSeq(c.init, &p_->m_seqGraphModeInit);
        const EscSeq stored = p_->m_seqGraphModeInit;
        p_->m_bUnicode = c.unicode;
        for (int round = 0; round < 2; ++round) {  // the placeholders survive a bitmap
            rec_.writes.clear();
            ASSERT_EQ(Print(1, 300, 1, image), S_OK);
            ASSERT_EQ(rec_.writes.size(), 301u);
            EXPECT_EQ(rec_.writes[0], c.sent);
            EXPECT_EQ(rec_.writes[1], "\xFF");
            EXPECT_EQ(rec_.writes[300], "\xFF");
        }
        EXPECT_EQ(std::memcmp(&stored, &p_->m_seqGraphModeInit, sizeof stored), 0);
    }
}

TEST_F(BitmapPrint, TooFewRowsForOnePassSendOnlyEnterAndExit) {
    Geometry(8, 64, 4, 8);
    Sequences(u"27,n", u"1", u"2", u"27,50");
    ASSERT_EQ(Print(1, 1, 8, Image(8, 8, Stripes)), S_OK);
    EXPECT_EQ(rec_.writes, (Writes{std::string("\x1b\0", 2), Esc("^2")}));
    EXPECT_EQ(p_->m_lLineNo, 1);
}

TEST_F(BitmapPrint, StartColumnPlacesRasterRows) {
    // 64-dot lines, 8 dots a column, 2 rows a line; a 16 x 2 image whose top
    // row is black on the left and bottom row black on the right.
    Geometry(1, 64, 2, 8);
    Sequences(u"", u"", u"", u"");
    std::string image = Image(16, 2, [](int x, int y) { return (x < 8) == (y == 0); });
    auto Row = [](int blackByte) {
        std::string r(8, '\0');
        if (blackByte >= 0 && blackByte < 8) r[blackByte] = '\xFF';
        return r;
    };
    struct Case {
        LONG startCol;
        int top, bottom;  // byte of each row that is black, -1 none
    } cases[] = {{1, 0, 1}, {0, 0, 1}, {-3, 0, 1}, {3, 2, 3}, {8, 7, -1}, {9, -1, -1}, {kLongMax, -1, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startCol);
        rec_.writes.clear();
        ASSERT_EQ(Print(c.startCol, 1, 2, image), S_OK);
        EXPECT_EQ(rec_.writes, (Writes{Row(c.top), Row(c.bottom)}));
    }
}

TEST_F(BitmapPrint, PortFailureStopsThePassesAndIsReportedOnce) {
    Geometry(8, 384, 24, 8);
    Sequences(u"27,51,24", u"27,42", u"13,10", u"27,50");
    rec_.failAt = 8;  // the third pass's data: enter, then prefix, data, postfix per pass
    ASSERT_EQ(Print(1, 2, 48, Image(384, 48, Stripes)), S_OK);
    ASSERT_EQ(rec_.writes.size(), 9u);
    EXPECT_EQ(rec_.writes.back(), "<failed>");
    EXPECT_EQ(sink_.notifications, (std::vector<Pair>{{1, 2}}));
    EXPECT_FALSE(StillPrinting());
    EXPECT_EQ(LastError(), 0);
    EXPECT_EQ(p_->m_lLineNo, 2);

    // The job is over: another bitmap sends nothing and reports nothing.
    EXPECT_EQ(Print(1, 2, 48, Image(384, 48, Stripes)), S_OK);
    EXPECT_EQ(rec_.writes.size(), 9u);
    EXPECT_EQ(sink_.notifications.size(), 1u);
    EXPECT_EQ(p_->m_lLineNo, 2);
}

TEST_F(BitmapPrint, JobEndingDuringAnySendStopsBeforeTheNext) {
    // Two passes: enter, (prefix, data, postfix) x 2, exit = 8 writes.
    Geometry(8, 64, 8, 8);
    Sequences(u"27,n", u"1", u"2", u"3");
    std::string image = Image(64, 16, Stripes);
    for (int last = 0; last < 8; ++last) {
        SCOPED_TRACE(last);
        rec_.writes.clear();
        p_->m_bPrinting = 1;
        rec_.after = [&](int index) {
            if (index == last) p_->m_bPrinting = 0;  // as Cancel from a handler inside the port writer
        };
        ASSERT_EQ(Print(1, 2, 8, image), S_OK);
        EXPECT_EQ(rec_.writes.size(), static_cast<size_t>(last + 1));
    }
    EXPECT_TRUE(sink_.notifications.empty());
}

TEST_F(BitmapPrint, ErrorsInTheOrderTheyAreChecked) {
    const std::string good = Image(8, 8, Stripes);
    const std::string junk = (dir_ / "junk.bmp").string();
    std::ofstream(junk) << "not a bitmap at all";
    struct Case {
        const char* what;
        BOOL printing;
        const char16_t* name;  // null: a null BSTR
        UINT nameLen;          // characters of the BSTR (may hold a NUL)
        LONG pins, xDots, charHeight, charWidth;
        LONG height, width;
        ULONG hr;
        LONG methodId;
    };
    const std::u16string goodName = Wide(good), junkName = Wide(junk), missing = Wide((dir_ / "none.bmp").string());
    const UINT g = static_cast<UINT>(goodName.size());
    const Case cases[] = {
        {"no job", 0, u"a.bm", 4, 0, 0, 0, 0, 1, 1, 0, 0},
        {"null name", 1, nullptr, 0, 0, 0, 0, 0, 1, 1, 0, 0},
        {"4 characters", 1, u"a.bm", 4, 8, 64, 8, 8, 1, 1, 0x80040D05, 7},
        {"empty name", 1, u"", 0, 8, 64, 8, 8, 1, 1, 0x80040D05, 7},
        {"NUL after 4", 1, u"a.bm\0pxyz", 9, 8, 64, 8, 8, 1, 1, 0x80040D05, 7},
        {"name before geometry", 1, u"a.bm", 4, 0, 0, 0, 0, 1, 1, 0x80040D05, 7},
        {"no pins", 1, goodName.c_str(), g, 0, 64, 8, 8, 1, 1, 0x80040D07, 7},
        {"no dots", 1, goodName.c_str(), g, 8, 0, 8, 8, 1, 1, 0x80040D07, 7},
        {"no char height", 1, goodName.c_str(), g, 8, 64, 0, 8, 1, 1, 0x80040D07, 7},
        {"no char width", 1, goodName.c_str(), g, 8, 64, 8, 0, 1, 1, 0x80040D07, 7},
        {"negative pins", 1, goodName.c_str(), g, -8, 64, 8, 8, 1, 1, 0x80040D07, 7},
        {"12 pins", 1, goodName.c_str(), g, 12, 64, 8, 8, 1, 1, 0x80040D07, 7},
        {"60 dots", 1, goodName.c_str(), g, 8, 60, 8, 8, 1, 1, 0x80040D07, 7},
        {"geometry before file", 1, missing.c_str(), static_cast<UINT>(missing.size()), 0, 64, 8, 8, 1, 1,
         0x80040D07, 7},
        {"missing file", 1, missing.c_str(), static_cast<UINT>(missing.size()), 8, 64, 8, 8, 1, 1, 0x80040D08, 7},
        {"not a bitmap", 1, junkName.c_str(), static_cast<UINT>(junkName.size()), 8, 64, 8, 8, 1, 1, 0x80040D08, 7},
        {"5 characters", 1, u"x.bmp", 5, 8, 64, 8, 8, 1, 1, 0x80040D08, 7},
        {"zero height", 1, goodName.c_str(), g, 8, 64, 8, 8, 0, 1, 0x80040D08, 7},
        {"negative width", 1, goodName.c_str(), g, 8, 64, 8, 8, 1, -1, 0x80040D08, 7},
        {"height overflowing", 1, goodName.c_str(), g, 8, 64, 8, 8, 0x40000000, 1, 0x80040D08, 7},
        {"width overflowing", 1, goodName.c_str(), g, 8, 64, 8, 8, 1, kLongMax, 0x80040D08, 7},
    };
    Sequences(u"27,n", u"1", u"2", u"3");
    for (LONG returnState : {0, 1}) {
        ip_->put_ErrorReturnState(returnState);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (returnState ? " (returning)" : ""));
            Geometry(c.pins, c.xDots, c.charHeight, c.charWidth);
            p_->m_bPrinting = c.printing;
            p_->m_lLineNo = 3;
            p_->m_lErrorMethodID = 99;
            BSTR bs = c.name ? SysAllocStringLen(c.name, c.nameLen) : nullptr;
            HRESULT hr = ip_->Bitmap(1, c.height, c.width, bs);
            SysFreeString(bs);
            EXPECT_EQ(hr, returnState ? static_cast<HRESULT>(c.hr) : S_OK);
            EXPECT_EQ(LastError(), static_cast<LONG>(c.hr));
            EXPECT_EQ(MethodId(), c.methodId);
            EXPECT_EQ(p_->m_lLineNo, 3);
            EXPECT_TRUE(rec_.writes.empty());
        }
    }
    EXPECT_TRUE(sink_.notifications.empty());
    SetErrorInfo(0, nullptr);
}

TEST_F(BitmapPrint, LinesCountWithoutPageLogicAndTextWaitsForTheLineEnd) {
    Geometry(8, 64, 8, 8);
    Sequences(u"27,n", u"", u"", u"27,50");
    ParseSeq(u"13,10", &p_->m_seqCrLf);
    ParseSeq(u"12", &p_->m_seqFormFeed);
    p_->m_lPrintableLines = 3;
    p_->m_lLineNo = 2;
    p_->m_lineBuf.m_lLineBufLen = -1;
    BSTR abc = SysAllocString(u"abc");
    ASSERT_EQ(ip_->Write(abc), S_OK);
    SysFreeString(abc);

    ASSERT_EQ(Print(1, 4, 8, Image(64, 32, Stripes)), S_OK);
    std::string bitmap = Esc("^\x04") + std::string(64, '\xFF') + std::string(64, '\0') + std::string(64, '\xFF') +
                         std::string(64, '\0') + Esc("^2");
    EXPECT_EQ(All(), bitmap);
    // Past the page's 3 lines, yet no header, footer or form feed.
    EXPECT_EQ(p_->m_lLineNo, 6);
    EXPECT_EQ(p_->m_lPageNo, 1);
    EXPECT_EQ(sink_.headerEvents, 0);

    p_->m_lPrintableLines = 0;
    ASSERT_EQ(ip_->NewLine(), S_OK);
    EXPECT_EQ(All().substr(0, bitmap.size() + 5), bitmap + "abc\r\n");
}

}  // namespace
}  // namespace print_test
