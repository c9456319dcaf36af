// The stream splitter against a small profile: longest match first,
// graphics passes framed by the same bytes as a line end, pass counts in
// every encoding, start-up and shut-down characters only at the ends, and
// streams cut off inside a sequence or a pass.
#include <cstdio>

#include "preview/StreamSplitter.h"
#include "preview_support.h"

namespace preview_test {
namespace {

using test_support::Esc;

// ESC-style sequences where one is the start of another (ESC - and ESC - 1),
// and a postfix that is the line end.
const std::map<std::string, std::string> kProfile = {
    {"InitSeq", "27,64"},          {"NormalFontSeq", "27,78"},    {"BoldOnSeq", "27,69"},
    {"BoldOffSeq", "27,70"},       {"ItalicOnSeq", "27,45"},      {"UnderlineOnSeq", "27,45,1"},
    {"UnderlineOffSeq", "27,45,0"}, {"CrLfSeq", "13,10"},         {"FormFeedSeq", "12"},
    {"GraphNumPins", "8"},         {"GraphXDots", "8"},           {"GraphCharHeight", "8"},
    {"GraphCharWidth", "8"},       {"GraphModeInitSeq", "27,51,n"}, {"GraphPrefixSeq", "27,42"},
    {"GraphPostfixSeq", "13,10"},  {"GraphModeExitSeq", "27,50"},
};

std::map<std::string, std::string> With(std::map<std::string, std::string> extra) {
    extra.insert(kProfile.begin(), kProfile.end());
    return extra;
}

// "InitSeq 'AB' <07> pass1/2:8 | stop@10 from 5: ..." (text without NULs,
// so that UTF-16 text reads the same).
std::string Describe(const std::map<std::string, std::string>& profile, const std::string& stream) {
    SplitStream split = Split(MakeGrammar(Settings(profile)), stream);
    std::string out;
    size_t next = 0;
    for (const Token& t : split.tokens) {
        EXPECT_EQ(t.offset, next) << "tokens must follow each other";
        next = t.offset + t.length;
        if (!out.empty()) out += ' ';
        char hex[16];
        switch (t.kind) {
        case Token::Kind::Sequence:
            out += SeqName(t.seq);
            if (t.seq == Seq::GraphModeInit && t.value) out += "(" + std::to_string(t.value) + ")";
            break;
        case Token::Kind::Text:
            out += "'";
            for (char c : stream.substr(t.offset, t.length))
                if (c) out += c;
            out += "'";
            break;
        case Token::Kind::Unexplained:
            std::snprintf(hex, sizeof hex, "<%02X>", t.value);
            out += hex;
            break;
        case Token::Kind::Pass:
            out += "pass" + std::to_string(t.pass + 1) + "/" + (t.passes < 0 ? "?" : std::to_string(t.passes)) + ":" +
                   std::to_string(t.length);
            break;
        }
    }
    if (split.stop) {
        EXPECT_EQ(split.stop->offset, stream.size());
        out += " | stop from " + std::to_string(split.stop->began) + ": " + split.stop->what;
    } else {
        EXPECT_EQ(next, stream.size()) << "tokens must cover the stream";
    }
    return out;
}

const std::string kPass = std::string("\x1b\r\n\x0c\xff\0\0\x01", 8);  // pass data that looks like sequences

TEST(PreviewSplitter, SplitsAtTheLongestSequence) {
    struct Case {
        std::string stream, tokens;
    } cases[] = {
        {Esc("^@AB^E CD^F\r\n"), "InitSeq 'AB' BoldOnSeq ' CD' BoldOffSeq CrLfSeq"},
        {Esc("^-\x01x^-x^-~", true), "UnderlineOnSeq 'x' ItalicOnSeq 'x' UnderlineOffSeq"},
        {"A\tB\x07\n\x7f\x0c", "'A' <09> 'B' <07> <0A> <7F> FormFeedSeq"},
        // Inside graphics the line end is the postfix, and pass data is data.
        {Esc("^3\x02^*") + kPass + Esc("\r\n^*") + kPass + Esc("\r\n^2\r\n"),
         "GraphModeInitSeq(2) GraphPrefixSeq pass1/2:8 GraphPostfixSeq GraphPrefixSeq pass2/2:8 GraphPostfixSeq "
         "GraphModeExitSeq CrLfSeq"},
        // Something else where a prefix was due: the graphics are over.
        {Esc("^3\x02^*") + kPass + "\r\nXY", "GraphModeInitSeq(2) GraphPrefixSeq pass1/2:8 GraphPostfixSeq 'XY'"},
        // A prefix without the enter sequence still starts a pass.
        {Esc("^*") + kPass + Esc("\r\n^*") + kPass + "\r\nA",
         "GraphPrefixSeq pass1/?:8 GraphPostfixSeq GraphPrefixSeq pass2/?:8 GraphPostfixSeq 'A'"},
        {Esc("^{ST?}^s7^e"), "status request read-write start end of job"},
    };
    for (const Case& c : cases) EXPECT_EQ(Describe(kProfile, c.stream), c.tokens);
}

TEST(PreviewSplitter, StartupAndShutdownCharactersOnlyAtTheEnds) {
    auto profile = With({{"StartupChar", "32"}, {"StartupCharCount", "2"}, {"ShutdownChar", "32"}, {"ShutdownCharCount", "1"}});
    EXPECT_EQ(Describe(profile, Esc("  ^@A B\r\n ^e")), "StartupChar StartupChar InitSeq 'A B' CrLfSeq ShutdownChar end of job");
    EXPECT_EQ(Describe(profile, "   A"), "StartupChar StartupChar ' A'");
}

TEST(PreviewSplitter, ReadsThePassCountInEveryEncoding) {
    struct Case {
        const char* init;
        bool unicode;
        std::string bytes;  // the enter sequence as the control sends it for 300 passes
        const char* token;
    } cases[] = {
        {"27,n,n", false, "\x1b\x01\x2c", "GraphModeInitSeq(300)"},
        {"27,51,n", true, std::string("\x1b\0\x33\0\x2c\x01", 6), "GraphModeInitSeq(300)"},
        {"27,n,n", true, std::string("\x1b\0\x01\0\x2c\0", 6), "GraphModeInitSeq(300)"},
        // One placeholder without "Unicode": the printer only gets the low byte.
        {"27,n,0", false, std::string("\x1b\x2c\0", 3), "GraphModeInitSeq(44)"},
    };
    for (const Case& c : cases) {
        auto profile = With({{"GraphModeInitSeq", c.init}, {"Unicode", c.unicode ? "1" : "0"}});
        std::string tokens = Describe(profile, c.bytes);
        EXPECT_EQ(tokens.substr(0, tokens.find(' ')), c.token) << c.init << (c.unicode ? " Unicode" : "");
    }
}

TEST(PreviewSplitter, UnicodeTextIsReadInUnits) {
    auto profile = With({{"Unicode", "1"}});
    EXPECT_EQ(Describe(profile, std::string("\x1b\0@\0A\0B\0\t\0\r\0\n\0", 14)), "InitSeq 'AB' <09> CrLfSeq");
    EXPECT_EQ(Describe(profile, std::string("A\0B", 3)), "'A' | stop from 2: a UTF-16 character (1 of 2 bytes)");
}

TEST(PreviewSplitter, SaysWhereACutStreamStopped) {
    const std::string init = Esc("^3\x02^*");
    struct Case {
        std::string stream, tokens;
    } cases[] = {
        {"AB\r", "'AB' | stop from 2: CrLfSeq (1 of 2 bytes)"},
        {Esc("AB^-"), "'AB' ItalicOnSeq"},  // a whole sequence, though a longer one begins so
        {init + kPass.substr(0, 5), "GraphModeInitSeq(2) GraphPrefixSeq pass1/2:5 | stop from 5: graphics pass 1 of 2 (5 of 8 bytes)"},
        {init, "GraphModeInitSeq(2) GraphPrefixSeq | stop from 5: graphics pass 1 of 2 (0 of 8 bytes)"},
        {init + kPass + "\r", "GraphModeInitSeq(2) GraphPrefixSeq pass1/2:8 | stop from 13: GraphPostfixSeq of graphics pass 1 of 2 (1 of 2 bytes)"},
        {init + kPass + "\r\n", "GraphModeInitSeq(2) GraphPrefixSeq pass1/2:8 GraphPostfixSeq | stop from 15: graphics mode after 1 of 2 passes, before GraphModeExitSeq"},
        {Esc("^3\x01^*") + kPass + Esc("\r\n^"),
         "GraphModeInitSeq(1) GraphPrefixSeq pass1/1:8 GraphPostfixSeq | stop from 15: GraphModeExitSeq after the last graphics pass (1 of 2 bytes)"},
    };
    for (const Case& c : cases) EXPECT_EQ(Describe(kProfile, c.stream), c.tokens);
}

}  // namespace
}  // namespace preview_test
