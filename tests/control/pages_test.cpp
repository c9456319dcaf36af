// Lines and pages: headers and footers through HeaderEvent, padding, form
// feeds, orphan control and the footer count, as exact byte streams.
#include <algorithm>

#include "text_fixture.h"

namespace text_test {
namespace {

class Pages : public TextFixture {
protected:
    // A page of `lines` lines whose header writes `header` lines and whose
    // footer writes `footer` lines, each naming the page; the footer is
    // counted as at job start.
    void Job(LONG lines, int header, int footer) {
        p_->m_lPrintableLines = lines;
        sink_.onHeader = [this, header] {
            for (int i = 1; i <= header; ++i) Line((u"H" + Num(i) + u"p" + Num(PageNo())).c_str());
        };
        sink_.onFooter = [this, footer] {
            for (int i = 1; i <= footer; ++i) Line((u"F" + Num(i)).c_str());
        };
        p_->MeasureFooter();
        StartJob();
    }
    static std::u16string Num(LONG n) {
        std::string s = std::to_string(n);
        return {s.begin(), s.end()};
    }
    static std::string L(const std::string& text) { return Esc("^N") + text + "\r\n"; }
    static std::string FF() { return Esc("^N") + "\x0c\r\n"; }
    size_t Count(const std::string& what) const {
        std::string out = Output();
        size_t n = 0;
        for (size_t at = out.find(what); at != std::string::npos; at = out.find(what, at + 1)) ++n;
        return n;
    }
};

TEST_F(Pages, TenLinePageWithHeaderAndTwoLineFooter) {
    Job(10, 1, 2);
    EXPECT_EQ(p_->m_lFooterLines, 2);
    EXPECT_EQ(OutputSize(), 2u);  // the measurement sent nothing: only the start's font
    EXPECT_EQ(LineNo(), 0);
    for (int i = 1; i <= 15; ++i) {
        Line((u"T" + Num(i)).c_str());
        if (i == 1) {
            EXPECT_EQ(LineNo(), 3);  // header lines + 2
        }
    }
    std::string expect = Esc("^N");
    for (int page = 1; page <= 3; ++page) {
        expect += L("H1p" + std::to_string(page));
        for (int t = 7 * (page - 1) + 1; t <= std::min(7 * page, 15); ++t) expect += L("T" + std::to_string(t));
        if (page < 3) expect += L("F1") + L("F2") + FF();
    }
    EXPECT_EQ(Output(), expect);
    EXPECT_EQ(PageNo(), 3);
    EXPECT_EQ(LineNo(), 3);
    EXPECT_EQ(sink_.headerEvents, (std::vector<LONG>{1, 0, 1, 0, 1, 0}));
}

TEST_F(Pages, FormFeedPadsTheBodyThenFooterAndFormFeed) {
    Job(10, 0, 2);
    Line(u"a");
    Line(u"b");
    Line(u"c");  // LineNo 4 after the 2 counted for the page start
    ASSERT_EQ(LineNo(), 4);
    EXPECT_EQ(ip_->FormFeed(), S_OK);
    std::string expect = Esc("^N") + L("a") + L("b") + L("c");
    for (int i = 0; i < 5; ++i) expect += L("");
    expect += L("F1") + L("F2") + FF();
    EXPECT_EQ(Output(), expect);
    EXPECT_EQ(PageNo(), 2);
    EXPECT_EQ(LineNo(), 0);
}

TEST_F(Pages, FormFeedAndActualFormFeedOnPendingText) {
    const struct {
        const char* what;
        LONG printable;
        int linesBefore;
        HRESULT (STDMETHODCALLTYPE IPressel::*feed)();
        std::string tail;  // after the lines before
        LONG pageNo;
    } cases[] = {
        {"FormFeed on an untouched page does nothing", 10, 0, &IPressel::FormFeed, "", 1},
        {"ActualFormFeed on an untouched page still feeds", 10, 0, &IPressel::ActualFormFeed,
         Esc("^Nxyz\x0c\r\n"), 2},
        {"FormFeed ends the pending line, then pads", 4, 1, &IPressel::FormFeed, L("xyz") + L("") + L("F1") + FF(), 2},
        {"FormFeed on a full body discards it", 4, 3, &IPressel::FormFeed, L("F1") + FF(), 2},
        {"FormFeed without page accounting discards it", 0, 1, &IPressel::FormFeed, L("F1") + FF(), 2},
        {"ActualFormFeed sends it without a line end", 4, 2, &IPressel::ActualFormFeed, Esc("^Nxyz\x0c\r\n"), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReopenPort();
        p_->m_lPageNo = 1;
        p_->m_lLineNo = 0;
        Job(c.printable, 0, 1);
        std::string expect = Esc("^N");
        for (int i = 0; i < c.linesBefore; ++i) {
            Line(u"x");
            expect += L("x");
        }
        Write(u"xyz");
        EXPECT_EQ((ip_->*c.feed)(), S_OK);
        EXPECT_EQ(Output(), expect + c.tail);
        EXPECT_EQ(PageNo(), c.pageNo);
        p_->m_lineBuf.m_lLineBufLen = -1;
    }
}

TEST_F(Pages, NoOrphanKeepsABlockTogether) {
    // A 10-line page with a 2-line footer: body lines 1 to 8; with no
    // header the first line leaves LineNo at 2.
    const struct {
        const char* what;
        int linesBefore;  // LineNo = linesBefore + 1
        LONG lines, mode;
        int blanks;
        bool fed;
    } cases[] = {
        {"2 body lines left, block of 3: feed", 6, 3, 0, 0, true},
        {"3 left: nothing", 5, 3, 0, 0, false},
        {"6 left, mode 1: pad 3 so the block ends the body", 2, 3, 1, 3, false},
        {"2 left, mode 1: feed, then pad the new page so the block ends its body", 6, 3, 1, 5, true},
        {"other mode pads nothing", 2, 3, 2, 0, false},
        {"block longer than the body: one feed, no blank lines", 2, 12, 1, 0, true},
        {"block of no lines, mode 1: pad to the end of the body", 2, 0, 1, 6, false},
        {"negative block: the unsigned test feeds, padding stops at the body end", 2, -5, 1, 8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReopenPort();
        p_->m_lPageNo = 1;
        p_->m_lLineNo = 0;
        Job(10, 0, 2);
        std::string expect = Esc("^N");
        for (int i = 0; i < c.linesBefore; ++i) {
            Line(u"x");
            expect += L("x");
        }
        EXPECT_EQ(ip_->NoOrphan(c.lines, c.mode), S_OK);
        if (c.fed) {
            for (int i = c.linesBefore; i < 8; ++i) expect += L("");
            expect += L("F1") + L("F2") + FF();
        }
        for (int i = 0; i < c.blanks; ++i) expect += L("");
        EXPECT_EQ(Output(), expect);
        EXPECT_EQ(PageNo(), c.fed ? 2 : 1);
        p_->m_lineBuf.m_lLineBufLen = -1;
    }
}

TEST_F(Pages, WithoutPageAccountingHeaderOnlyOnceFooterAtEveryFormFeed) {
    Job(0, 1, 1);
    EXPECT_EQ(p_->m_lFooterLines, 0);
    EXPECT_TRUE(sink_.headerEvents.empty());  // no measurement
    for (int i = 0; i < 30; ++i) Line(u"t");
    ip_->FormFeed();
    Line(u"u");
    ip_->FormFeed();
    std::string expect = Esc("^N") + L("H1p1");
    for (int i = 0; i < 30; ++i) expect += L("t");
    expect += L("F1") + FF() + L("u") + L("F1") + FF();
    EXPECT_EQ(Output(), expect);
    EXPECT_EQ(PageNo(), 3);
}

TEST_F(Pages, FooterFontsAreSwitchedOffHeaderFontsAreNot) {
    Job(4, 0, 1);
    sink_.onFooter = [this] {
        ip_->FontSelect(0, 0, 2);  // underline on, left on
        Line(u"F");
    };
    sink_.onHeader = [this] {
        ip_->FontSelect(0, 0, 2);
        Line(u"H");
    };
    ip_->FontSelect(1, 1, 0);
    Line(u"a");
    Line(u"b");
    Line(u"c");  // does not fit: footer, form feed, header, then c
    EXPECT_EQ(Output(), Esc("^N"
                            "^b^N^N^UH\r\n"
                            "^N^W^Ba\r\n"  // the body keeps the header's underline: nothing is sent for it
                            "^b^W^Bb\r\n"
                            "^b^N^N^UF\r\n"
                            "^u^W^B\x0c\r\n"  // what the footer left on is switched off before the feed
                            "^b^N^N^UH\r\n"
                            "^b^W^Bc\r\n"));
    EXPECT_EQ(p_->m_lFontType, 1);
    EXPECT_EQ(p_->m_lFontStyle, 1);
    EXPECT_EQ(p_->m_lFontEffect, 0);
}

TEST_F(Pages, HeaderLongerThanTheBodyGoesOnWithoutAnotherHeader) {
    Job(5, 6, 1);  // body of 4 lines, header of 6
    Line(u"T1");
    std::string expect = Esc("^N") + L("H1p1") + L("H2p1") + L("H3p1") + L("H4p1") + L("F1") + FF() + L("H5p1") +
                         L("H6p2") + L("T1");
    EXPECT_EQ(Output(), expect);
    EXPECT_EQ(sink_.headerEvents, (std::vector<LONG>{1, 0, 1}));
    // Every later page does the same and each call ends.
    for (int i = 2; i <= 20; ++i) Line((u"T" + Num(i)).c_str());
    for (int i = 1; i <= 20; ++i) EXPECT_EQ(Count("T" + std::to_string(i) + "\r"), 1u) << i;
    EXPECT_EQ(Count("\x0c"), static_cast<size_t>(PageNo() - 1));
    EXPECT_LT(PageNo(), 60);
}

TEST_F(Pages, FooterLongerThanThePageIsBounded) {
    Job(3, 0, 5);
    EXPECT_EQ(p_->m_lFooterLines, 5);
    std::string expect = Esc("^N");
    for (int i = 0; i < 10; ++i) {
        Line(u"t");
        expect += L("t");
    }
    EXPECT_EQ(ip_->NoOrphan(3, 1), S_OK);  // no blank lines
    EXPECT_EQ(ip_->FormFeed(), S_OK);      // no padding, one feed
    expect += L("F1") + L("F2") + L("F3") + L("F4") + L("F5") + FF();
    EXPECT_EQ(Output(), expect);
    EXPECT_EQ(PageNo(), 2);
}

TEST_F(Pages, FooterCountSendsNothingWhateverTheHandlerDoes) {
    p_->m_lPrintableLines = 10;
    p_->m_lLineNo = 0;
    sink_.onFooter = [this] {
        Write(std::u16string(9000, u'x').c_str());  // more than the buffer holds
        ip_->NewLine();
        ip_->FontSelect(0, 1, 0);
        Line(u"second");
        ip_->FormFeed();
        ip_->ActualFormFeed();
        Write(u"left over");
    };
    p_->MeasureFooter();
    EXPECT_EQ(p_->m_lFooterLines, 2);
    EXPECT_EQ(LineNo(), 0);
    EXPECT_EQ(PageNo(), 1);
    EXPECT_EQ(p_->m_bMeasuringFooter, 0);
    EXPECT_EQ(OutputSize(), 0u);
    // The emphasis the handler left on is switched off by the job start.
    StartJob();
    EXPECT_EQ(Output(), Esc("^b^N"));
}

TEST_F(Pages, FormFeedFromAFooterHandlerEnds) {
    Job(4, 0, 1);
    sink_.onFooter = [this] {
        Line(u"F");
        ip_->FormFeed();
    };
    for (int i = 0; i < 4; ++i) Line(u"t");
    EXPECT_EQ(PageNo(), 3);  // the handler's own feed leaves a page
    EXPECT_EQ(Count("\x0c"), 2u);
    EXPECT_EQ(Count("t\r"), 4u);
}

}  // namespace
}  // namespace text_test
