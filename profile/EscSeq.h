// A parsed profile sequence: up to 32 16-bit codes, written in profiles as
// comma-separated numbers or characters ("0x0D,0x0A", "12,13,10", "27,E").
#pragma once

#include "win/types.h"

struct EscSeq {
    static constexpr int kMaxCodes = 32;
    SHORT count = 0;
    WCHAR codes[kMaxCodes] = {};
};

// Fills seq from the notation in text (null reads as empty). Tokens are
// split at commas with empty tokens skipped; a token that starts with a
// decimal digit is a number read with base 0 (hexadecimal after 0x, octal
// after a leading 0) of which the low 16 bits are kept; any other token
// stands for its first character. Tokens after the 32nd are ignored.
void ParseSeq(const WCHAR* text, EscSeq* seq);
