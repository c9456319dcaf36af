// Fuzz target for previews: any stream, split and drawn through three
// profiles (bands of 8 pins with a two-byte pass count and pages, raster
// rows with a one-byte count on a roll, UTF-16 text without graphics).
// Tokens must follow each other over the whole stream (or up to where it
// stopped), and every picture must be as large as it says.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "preview/Preview.h"

namespace {

using namespace pressel_preview;

void Seq(EscSeq* seq, const char16_t* text) { ParseSeq(text, seq); }

PrinterSettings Profile(int which, DotDensity* density) {
    PrinterSettings s;
    Seq(&s.m_seqInit, u"27,64");
    Seq(&s.m_seqCrLf, u"13,10");
    Seq(&s.m_seqBoldOn, u"27,69");
    Seq(&s.m_seqBoldOff, u"27,70");
    Seq(&s.m_seqFormFeed, u"12");
    if (which == 0) {
        s.m_lPrintableLines = 6;
        Seq(&s.m_seqNormalFont, u"27,87,0,18");
        Seq(&s.m_seqDoubleWideFont, u"18,27,87,1");
        Seq(&s.m_seqCompressFont, u"27,87,0,15");
        Seq(&s.m_seqItalicOn, u"27,52");
        Seq(&s.m_seqItalicOff, u"27,53");
        Seq(&s.m_seqUnderlineOn, u"27,45,1");
        Seq(&s.m_seqUnderlineOff, u"27,45,0");
        Seq(&s.m_seqStrikeOutOn, u"27,45");
        Seq(&s.m_seqStartupChar, u"0");
        Seq(&s.m_seqShutdownChar, u"0");
        s.m_lStartupCharCount = 2;
        s.m_lShutdownCharCount = 3;
        s.m_lGraphNumPins = 8, s.m_lGraphXDots = 64, s.m_lGraphCharHeight = 12, s.m_lGraphCharWidth = 12;
        Seq(&s.m_seqGraphModeInit, u"27,n,n");
        Seq(&s.m_seqGraphPrefix, u"27,42,1,64,0");
        Seq(&s.m_seqGraphPostfix, u"13,10");
        Seq(&s.m_seqGraphModeExit, u"27,50");
        *density = {120, 72};
    } else if (which == 1) {
        Seq(&s.m_seqCrLf, u"10");
        Seq(&s.m_seqFormFeed, u"29,86,66,0");
        s.m_lGraphNumPins = 1, s.m_lGraphXDots = 48, s.m_lGraphCharHeight = 30, s.m_lGraphCharWidth = 12;
        Seq(&s.m_seqGraphModeInit, u"29,118,48,0,6,0,n,0");
        *density = {203, 203};
    } else {
        s.m_bUnicode = 1;
        s.m_lPrintableLines = 3;
        *density = {};
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<GlyphSet> glyphs = [] {
        std::string error;
        return GlyphSet::Open(DefaultFontDir(), &error);
    }();
    if (!glyphs) std::abort();
    std::string_view stream(reinterpret_cast<const char*>(data), size);
    for (int which = 0; which < 3; ++which) {
        DotDensity density;
        PrinterSettings s = Profile(which, &density);
        SplitStream split = Split(MakeGrammar(s), stream);
        size_t next = 0;
        for (const Token& t : split.tokens) {
            if (t.offset != next || t.length == 0) std::abort();
            next += t.length;
        }
        if (split.stop ? split.stop->offset != size || split.stop->began > size || next > size : next != size) std::abort();

        Preview preview;
        std::string error;
        auto check = [](const Image& page) {
            if (page.width <= 0 || page.height <= 0 ||
                page.pixels.size() != static_cast<size_t>(page.width) * static_cast<size_t>(page.height))
                std::abort();
            return true;
        };
        if (!RenderPreview(s, density, stream, *glyphs, check, &preview, &error) || preview.pages < 1) std::abort();
    }
    return 0;
}
