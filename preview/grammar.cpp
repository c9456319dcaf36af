// The profile's sequences encoded as the control sends them: sequences that
// travel in the line buffer are converted with the text (ANSI code page, or
// UTF-16LE with "Unicode"), sequences sent straight to the port go as their
// low bytes (or UTF-16LE units), the status protocol's as fixed bytes.
#include "preview/StreamGrammar.h"

#include <algorithm>

#include "win/base.h"

namespace pressel_preview {
namespace {

constexpr WCHAR kPassPlaceholder = u'n';

void PutUnit(std::vector<Element>* out, unsigned unit) {
    out->push_back(static_cast<Element>(unit & 0xFF));
    out->push_back(static_cast<Element>((unit >> 8) & 0xFF));
}

// A sequence that joins the line buffer.
std::vector<Element> BufferedBytes(const EscSeq& seq, bool unicode) {
    std::vector<Element> out;
    if (seq.count <= 0) return out;
    if (unicode) {
        for (int i = 0; i < seq.count; ++i) PutUnit(&out, seq.codes[i]);
        return out;
    }
    char bytes[EscSeq::kMaxCodes * 4];
    int n = WideCharToMultiByte(CP_ACP, 0, seq.codes, seq.count, bytes, sizeof bytes, nullptr, nullptr);
    for (int i = 0; i < n; ++i) out.push_back(static_cast<Element>(static_cast<unsigned char>(bytes[i])));
    return out;
}

// A sequence sent straight to the port.
std::vector<Element> DirectBytes(const WCHAR* codes, int count, bool unicode) {
    std::vector<Element> out;
    for (int i = 0; i < count; ++i) {
        if (unicode) PutUnit(&out, codes[i]);
        else out.push_back(static_cast<Element>(codes[i] & 0xFF));
    }
    return out;
}

// GraphModeInitSeq: one placeholder becomes the pass count (its low byte
// without "Unicode"), two become its high and its low byte; with none or
// three and more every 'n' goes out as it is.
std::vector<Element> GraphModeInitBytes(const EscSeq& seq, bool unicode, bool* carriesCount) {
    int placeholders = static_cast<int>(std::count(seq.codes, seq.codes + std::max<int>(seq.count, 0), kPassPlaceholder));
    *carriesCount = placeholders == 1 || placeholders == 2;
    if (!*carriesCount) return DirectBytes(seq.codes, seq.count, unicode);
    // The bytes of the count each placeholder puts on the wire: one
    // placeholder, or the first and the second of two.
    constexpr Element B0 = kPassByte, B1 = kPassByte - 1, B2 = kPassByte - 2;
    const std::vector<Element> one = unicode ? std::vector<Element>{B0, B1} : std::vector<Element>{B0};
    const std::vector<Element> high = unicode ? std::vector<Element>{B1, B2} : std::vector<Element>{B1};
    const std::vector<Element> low = unicode ? std::vector<Element>{B0, 0} : std::vector<Element>{B0};
    std::vector<Element> out;
    int seen = 0;
    for (int i = 0; i < seq.count; ++i) {
        const std::vector<Element> code = seq.codes[i] != kPassPlaceholder ? DirectBytes(&seq.codes[i], 1, unicode)
                                          : placeholders == 1                ? one
                                          : seen++ == 0                      ? high
                                                                             : low;
        out.insert(out.end(), code.begin(), code.end());
    }
    return out;
}

}  // namespace

const char* SeqName(Seq seq) {
    switch (seq) {
    case Seq::Init: return "InitSeq";
    case Seq::NormalFont: return "NormalFontSeq";
    case Seq::DoubleWideFont: return "DoubleWideFontSeq";
    case Seq::CompressFont: return "CompressFontSeq";
    case Seq::BoldOn: return "BoldOnSeq";
    case Seq::BoldOff: return "BoldOffSeq";
    case Seq::ItalicOn: return "ItalicOnSeq";
    case Seq::ItalicOff: return "ItalicOffSeq";
    case Seq::UnderlineOn: return "UnderlineOnSeq";
    case Seq::UnderlineOff: return "UnderlineOffSeq";
    case Seq::StrikeOutOn: return "StrikeOutOnSeq";
    case Seq::StrikeOutOff: return "StrikeOutOffSeq";
    case Seq::CrLf: return "CrLfSeq";
    case Seq::FormFeed: return "FormFeedSeq";
    case Seq::StartupChar: return "StartupChar";
    case Seq::ShutdownChar: return "ShutdownChar";
    case Seq::GraphModeInit: return "GraphModeInitSeq";
    case Seq::GraphPrefix: return "GraphPrefixSeq";
    case Seq::GraphPostfix: return "GraphPostfixSeq";
    case Seq::GraphModeExit: return "GraphModeExitSeq";
    case Seq::ReadWriteStart: return "read-write start";
    case Seq::StatusRequest: return "status request";
    case Seq::EndOfJob: return "end of job";
    }
    return "?";
}

const Pattern* StreamGrammar::Find(Seq seq) const {
    for (const Pattern& p : patterns)
        if (p.seq == seq) return &p;
    return nullptr;
}

StreamGrammar MakeGrammar(const PrinterSettings& s) {
    StreamGrammar g;
    g.unicode = s.m_bUnicode != 0;
    auto add = [&g](Seq seq, std::vector<Element> elements) {
        if (!elements.empty()) g.patterns.push_back({seq, std::move(elements)});
    };
    const std::pair<Seq, const EscSeq*> buffered[] = {
        {Seq::Init, &s.m_seqInit},
        {Seq::NormalFont, &s.m_seqNormalFont},
        {Seq::DoubleWideFont, &s.m_seqDoubleWideFont},
        {Seq::CompressFont, &s.m_seqCompressFont},
        {Seq::BoldOn, &s.m_seqBoldOn},
        {Seq::BoldOff, &s.m_seqBoldOff},
        {Seq::ItalicOn, &s.m_seqItalicOn},
        {Seq::ItalicOff, &s.m_seqItalicOff},
        {Seq::UnderlineOn, &s.m_seqUnderlineOn},
        {Seq::UnderlineOff, &s.m_seqUnderlineOff},
        {Seq::StrikeOutOn, &s.m_seqStrikeOutOn},
        {Seq::StrikeOutOff, &s.m_seqStrikeOutOff},
        {Seq::CrLf, &s.m_seqCrLf},
        {Seq::FormFeed, &s.m_seqFormFeed},
    };
    for (const auto& [seq, esc] : buffered) add(seq, BufferedBytes(*esc, g.unicode));
    add(Seq::GraphModeInit, GraphModeInitBytes(s.m_seqGraphModeInit, g.unicode, &g.initCarriesCount));
    add(Seq::GraphPrefix, DirectBytes(s.m_seqGraphPrefix.codes, s.m_seqGraphPrefix.count, g.unicode));
    add(Seq::GraphPostfix, DirectBytes(s.m_seqGraphPostfix.codes, s.m_seqGraphPostfix.count, g.unicode));
    add(Seq::GraphModeExit, DirectBytes(s.m_seqGraphModeExit.codes, s.m_seqGraphModeExit.count, g.unicode));
    add(Seq::ReadWriteStart, {0x1B, 0x73, 0x37});
    add(Seq::StatusRequest, {0x1B, 0x7B, 0x53, 0x54, 0x3F, 0x7D});
    add(Seq::EndOfJob, {0x1B, 0x65});

    if (s.m_lStartupCharCount > 0 && s.m_seqStartupChar.count > 0) {
        g.startupChar = DirectBytes(s.m_seqStartupChar.codes, 1, g.unicode);
        g.startupCount = s.m_lStartupCharCount;
    }
    if (s.m_lShutdownCharCount > 0 && s.m_seqShutdownChar.count > 0) {
        g.shutdownChar = DirectBytes(s.m_seqShutdownChar.codes, 1, g.unicode);
        g.shutdownCount = s.m_lShutdownCharCount;
    }

    // The geometry the control prints with; other values make it refuse.
    LONG pins = s.m_lGraphNumPins, dots = s.m_lGraphXDots;
    bool printable = (pins == 1 || (pins > 0 && pins % 8 == 0)) && dots > 0 && dots % 8 == 0 &&
                     s.m_lGraphCharHeight > 0 && s.m_lGraphCharWidth > 0 &&
                     static_cast<long long>(pins) * dots / 8 <= (1 << 24);
    if (printable) g.passBytes = static_cast<int>(static_cast<long long>(pins) * dots / 8);
    return g;
}

bool MatchAt(const std::vector<Element>& elements, std::string_view text, uint32_t* passes) {
    if (text.size() < elements.size()) return false;
    uint32_t count = 0;
    for (size_t i = 0; i < elements.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (elements[i] >= 0) {
            if (elements[i] != byte) return false;
        } else {
            count |= static_cast<uint32_t>(byte) << (8 * (kPassByte - elements[i]));
        }
    }
    if (passes) *passes = count;
    return true;
}

}  // namespace pressel_preview
