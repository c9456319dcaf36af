// Font selection: the sequences each call appends and the state it leaves.
#include "text_fixture.h"

namespace text_test {
namespace {

using Fonts = TextFixture;

struct Select {
    LONG type, style, effect;
};

TEST_F(Fonts, SequencesAppendedForEachTransition) {
    const struct {
        const char* what;
        std::vector<Select> before;
        Select call;
        std::string appended;
        Select after;
    } cases[] = {
        {"normal twice", {{0, 0, 0}}, {0, 0, 0}, "^N", {0, 0, 0}},
        {"everything on with bold already on", {{0, 1, 0}}, {1, 3, 3}, "^b^W^B^I^S^U", {1, 3, 3}},
        {"valid type switches off what is not named", {{0, 2, 2}}, {0, 1, 0}, "^i^u^N^B", {0, 1, 0}},
        {"invalid type adds to the current state", {{0, 2, 2}}, {7, 1, 0}, "^B^u", {0, 3, 0}},
        {"out-of-range style and effect ignored", {{0, 3, 3}}, {0, 4, -1}, "^b^i^u^s^N", {0, 0, 0}},
        {"compressed", {}, {2, 0, 0}, "^C", {2, 0, 0}},
        {"style 1 and 2 never switch off", {{0, 2, 1}}, {-1, 1, 2}, "^B^U", {0, 3, 3}},
        {"style and effect 0 switch off in order", {{1, 3, 3}}, {9, 0, 0}, "^b^i^u^s", {1, 0, 0}},
        {"all invalid changes nothing", {{2, 1, 2}}, {3, 5, 4}, "", {2, 1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ip_->FontSelect(0, 0, 0);
        for (const Select& s : c.before) ip_->FontSelect(s.type, s.style, s.effect);
        p_->m_lineBuf.m_lLineBufLen = -1;
        EXPECT_EQ(ip_->FontSelect(c.call.type, c.call.style, c.call.effect), S_OK);
        EXPECT_EQ(LineUnits(), Esc(c.appended));
        EXPECT_EQ(p_->m_lFontType, c.after.type);
        EXPECT_EQ(p_->m_lFontStyle, c.after.style);
        EXPECT_EQ(p_->m_lFontEffect, c.after.effect);
    }
    EXPECT_EQ(OutputSize(), 0u);  // selection only appends
}

TEST_F(Fonts, MissingOnSequenceStillRecordsTheState) {
    ParseSeq(u"", &p_->m_seqBoldOn);
    p_->m_lineBuf.m_lLineBufLen = -1;
    ip_->FontSelect(0, 1, 0);
    EXPECT_EQ(LineUnits(), Esc("^N"));
    p_->m_lineBuf.m_lLineBufLen = -1;
    ip_->FontSelect(0, 0, 0);
    EXPECT_EQ(LineUnits(), Esc("^b^N"));
}

TEST_F(Fonts, FontChangeMidLineAndTheStateCarriedToTheNextLine) {
    StartJob();
    Write(u"a");
    ip_->FontSelect(0, 1, 0);
    Write(u"b");
    ip_->NewLine();
    Line(u"c");
    EXPECT_EQ(Output(), Esc("^N" "^Na^N^Bb\r\n" "^b^N^Bc\r\n"));
}

}  // namespace
}  // namespace text_test
