#include "codepage/codepage.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutUtf16(char32_t c, OutputSink<WCHAR>& sink) {
    if (c < 0x10000) {
        sink.Put(static_cast<WCHAR>(c));
    } else {
        c -= 0x10000;
        sink.Put(static_cast<WCHAR>(0xD800 + (c >> 10)));
        sink.Put(static_cast<WCHAR>(0xDC00 + (c & 0x3FF)));
    }
}

void PutUtf8(char32_t c, OutputSink<char>& sink) {
    if (c < 0x80) {
        sink.Put(static_cast<char>(c));
    } else if (c < 0x800) {
        sink.Put(static_cast<char>(0xC0 | (c >> 6)));
        sink.Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        sink.Put(static_cast<char>(0xE0 | (c >> 12)));
        sink.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        sink.Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        sink.Put(static_cast<char>(0xF0 | (c >> 18)));
        sink.Put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        sink.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        sink.Put(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one sequence at in[*pos]; on invalid input consumes the maximal
// subpart (at least one byte) and returns false.
bool DecodeUtf8(const unsigned char* in, size_t length, size_t* pos, char32_t* out) {
    unsigned char lead = in[*pos];
    ++*pos;
    if (lead < 0x80) {
        *out = lead;
        return true;
    }
    int trail;
    char32_t c;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first trail byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2, c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3, c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return false;
    }
    for (int i = 0; i < trail; ++i) {
        if (*pos >= length) return false;
        unsigned char b = in[*pos];
        if (b < low || b > high) return false;
        low = 0x80, high = 0xBF;
        c = (c << 6) | (b & 0x3F);
        ++*pos;
    }
    *out = c;
    return true;
}

}  // namespace

bool Utf8ToUtf16(const char* in, size_t length, bool strict, OutputSink<WCHAR>& sink) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    size_t pos = 0;
    while (pos < length && !sink.overflow) {
        char32_t c;
        if (!DecodeUtf8(bytes, length, &pos, &c)) {
            if (strict) return false;
            c = kReplacement;
        }
        PutUtf16(c, sink);
    }
    return true;
}

bool Utf16ToUtf8(const WCHAR* in, size_t length, bool strict, OutputSink<char>& sink) {
    size_t pos = 0;
    while (pos < length && !sink.overflow) {
        char32_t c = in[pos++];
        if (c >= 0xD800 && c <= 0xDBFF && pos < length && in[pos] >= 0xDC00 && in[pos] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[pos++] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (strict) return false;
            c = kReplacement;
        }
        PutUtf8(c, sink);
    }
    return true;
}

}  // namespace platform
