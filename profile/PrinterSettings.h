// The values a job loads from the printer profile, under the names the
// control uses for them. CPressel holds them as its own fields.
#pragma once

#include "profile/EscSeq.h"
#include "win/types.h"

struct PrinterSettings {
    LONG m_lPrintableLines = 0;
    BOOL m_bUnicode = 0;

    EscSeq m_seqNormalFont;
    EscSeq m_seqDoubleWideFont;
    EscSeq m_seqCompressFont;
    EscSeq m_seqBoldOn;
    EscSeq m_seqBoldOff;
    EscSeq m_seqItalicOn;
    EscSeq m_seqItalicOff;
    EscSeq m_seqUnderlineOn;
    EscSeq m_seqUnderlineOff;
    EscSeq m_seqStrikeOutOn;
    EscSeq m_seqStrikeOutOff;
    EscSeq m_seqInit;
    EscSeq m_seqFormFeed;
    EscSeq m_seqCrLf;
    EscSeq m_seqShutdownChar;
    EscSeq m_seqStartupChar;
    EscSeq m_seqGraphModeInit;
    EscSeq m_seqGraphPrefix;
    EscSeq m_seqGraphPostfix;
    EscSeq m_seqGraphModeExit;

    LONG m_lShutdownCharCount = 0;
    LONG m_lStartupCharCount = 0;
    LONG m_lStartupDelay = 0;
    LONG m_lShutdownDelay = 0;
    LONG m_lGraphNumPins = 0;
    LONG m_lGraphXDots = 0;
    LONG m_lGraphCharHeight = 0;
    LONG m_lGraphCharWidth = 0;
};
