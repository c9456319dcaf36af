// What a printer stream made by the control can hold, as the printer's
// profile says: every sequence in the bytes the control sends it as, and the
// size of one graphics pass. The stream splitter reads streams with it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "profile/PrinterSettings.h"

namespace pressel_preview {

// The sequences, in the order in which one wins over another of the same
// bytes and length.
enum class Seq : uint8_t {
    Init,
    NormalFont,
    DoubleWideFont,
    CompressFont,
    BoldOn,
    BoldOff,
    ItalicOn,
    ItalicOff,
    UnderlineOn,
    UnderlineOff,
    StrikeOutOn,
    StrikeOutOff,
    CrLf,
    FormFeed,
    StartupChar,
    ShutdownChar,
    GraphModeInit,
    GraphPrefix,
    GraphPostfix,
    GraphModeExit,
    ReadWriteStart,  // the status protocol's own sequences, sent on read-write ports
    StatusRequest,
    EndOfJob,
};

// The profile key of a sequence ("BoldOnSeq"), or the status protocol's name
// for its own ("status request").
const char* SeqName(Seq seq);

// One element of an encoded sequence: 0 to 255 is that byte; kPassByte - k
// stands for byte k (0 the lowest) of the pass count the control fills in.
using Element = int16_t;
inline constexpr Element kPassByte = -1;

struct Pattern {
    Seq seq;
    std::vector<Element> elements;
};

struct StreamGrammar {
    bool unicode = false;  // text in UTF-16LE units rather than the ANSI code page
    // Every non-empty sequence in priority order, start-up and shut-down
    // characters apart: those only stand at the start and end of a stream.
    std::vector<Pattern> patterns;
    std::vector<Element> startupChar, shutdownChar;  // empty when the job sends none
    int startupCount = 0, shutdownCount = 0;
    // Bytes of one graphics pass; 0 when the geometry is one the control
    // refuses to print with, so no pass data can follow.
    int passBytes = 0;
    // GraphModeInitSeq carries the pass count (one or two placeholders).
    bool initCarriesCount = false;

    // The pattern of seq; null when the profile leaves it empty.
    const Pattern* Find(Seq seq) const;
};

StreamGrammar MakeGrammar(const PrinterSettings& settings);

// True when the elements match the bytes at the start of text (which must
// be at least as long); *passes gets the pass count they carry.
bool MatchAt(const std::vector<Element>& elements, std::string_view text, uint32_t* passes = nullptr);

}  // namespace pressel_preview
