// UTF-16 string functions with the behaviour of the device's C library.
#include "win/wcs.h"

#include <climits>

namespace {

WCHAR FoldCase(WCHAR c) {
    if (c >= u'A' && c <= u'Z') return c + 32;
    // Latin-1 capitals, except the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

int DigitValue(WCHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'z') return c - u'a' + 10;
    if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
    return 99;
}

bool IsSpace(WCHAR c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Shared by wcstol and wcstoul: reads sign, prefix and digits. Returns the
// magnitude saturated at ULLONG range; *negative, *end and *any are set.
unsigned long long ReadNumber(const WCHAR* s, int base, bool* negative, const WCHAR** end, bool* overflow) {
    const WCHAR* p = s;
    *negative = false;
    *overflow = false;
    *end = s;
    while (IsSpace(*p)) ++p;
    if (*p == u'+' || *p == u'-') *negative = (*p++ == u'-');
    if ((base == 0 || base == 16) && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') && DigitValue(p[2]) < 16) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = (p[0] == u'0') ? 8 : 10;
    }
    if (base < 2 || base > 36) return 0;
    unsigned long long value = 0;
    const WCHAR* start = p;
    for (; DigitValue(*p) < base; ++p) {
        if (value > (ULLONG_MAX - DigitValue(*p)) / base) *overflow = true;
        else value = value * base + DigitValue(*p);
    }
    if (p != start) *end = p;
    return value;
}

thread_local WCHAR* t_tokenNext = nullptr;

}  // namespace

size_t wcslen(const WCHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
    WCHAR* d = dst;
    while ((*d++ = *src++)) {}
    return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
    size_t i = 0;
    for (; i < n && src[i]; ++i) dst[i] = src[i];
    for (; i < n; ++i) dst[i] = 0;
    return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
    wcscpy(dst + wcslen(dst), src);
    return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
    while (*a && *a == *b) ++a, ++b;
    return (*a > *b) - (*a < *b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (; n; --n, ++a, ++b) {
        if (*a != *b) return (*a > *b) - (*a < *b);
        if (!*a) break;
    }
    return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, SIZE_MAX); }

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
    for (; n; --n, ++a, ++b) {
        WCHAR x = FoldCase(*a), y = FoldCase(*b);
        if (x != y) return (x > y) - (x < y);
        if (!x) break;
    }
    return 0;
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
    for (;; ++s) {
        if (*s == c) return s;
        if (!*s) return nullptr;
    }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
    const WCHAR* found = nullptr;
    for (;; ++s) {
        if (*s == c) found = s;
        if (!*s) return found;
    }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub) {
    size_t n = wcslen(sub);
    for (; *s; ++s)
        if (wcsncmp(s, sub, n) == 0) return s;
    return n == 0 ? s : nullptr;
}

WCHAR* wcstok(WCHAR* s, const WCHAR* delim) {
    WCHAR* p = s ? s : t_tokenNext;
    if (!p) return nullptr;
    while (*p && wcschr(delim, *p)) ++p;
    if (!*p) {
        t_tokenNext = nullptr;
        return nullptr;
    }
    WCHAR* token = p;
    while (*p && !wcschr(delim, *p)) ++p;
    if (*p) {
        *p = 0;
        t_tokenNext = p + 1;
    } else {
        t_tokenNext = nullptr;
    }
    return token;
}

LONG wcstol(const WCHAR* s, WCHAR** end, int base) {
    bool negative, overflow;
    const WCHAR* stop;
    unsigned long long magnitude = ReadNumber(s, base, &negative, &stop, &overflow);
    if (end) *end = const_cast<WCHAR*>(stop);
    if (negative) return (overflow || magnitude > 0x80000000ull) ? INT32_MIN : static_cast<LONG>(-static_cast<long long>(magnitude));
    return (overflow || magnitude > 0x7FFFFFFFull) ? INT32_MAX : static_cast<LONG>(magnitude);
}

ULONG wcstoul(const WCHAR* s, WCHAR** end, int base) {
    bool negative, overflow;
    const WCHAR* stop;
    unsigned long long magnitude = ReadNumber(s, base, &negative, &stop, &overflow);
    if (end) *end = const_cast<WCHAR*>(stop);
    if (overflow || magnitude > 0xFFFFFFFFull) return UINT32_MAX;
    return negative ? static_cast<ULONG>(0u - static_cast<ULONG>(magnitude)) : static_cast<ULONG>(magnitude);
}

int _wtoi(const WCHAR* s) { return wcstol(s, nullptr, 10); }
