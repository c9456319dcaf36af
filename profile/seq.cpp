#include "profile/EscSeq.h"

#include "win/wcs.h"

void ParseSeq(const WCHAR* text, EscSeq* seq) {
    seq->count = 0;
    if (!text) return;
    // Walks the tokens in place rather than with wcstok, whose state the port
    // code shares between calls.
    const WCHAR* p = text;
    while (*p && seq->count < EscSeq::kMaxCodes) {
        while (*p == u',') ++p;
        if (!*p) break;
        const WCHAR* token = p;
        while (*p && *p != u',') ++p;
        WCHAR code = token[0];
        if (token[0] >= u'0' && token[0] <= u'9') code = static_cast<WCHAR>(wcstol(token, nullptr, 0) & 0xFFFF);
        seq->codes[seq->count++] = code;
    }
}
