// MultiByteToWideChar and WideCharToMultiByte: UTF-8 directly, every other
// code page through ICU converters kept per thread (ICU converters must not be
// shared between threads, and opening one per call would allocate each time).
// Text to a code page goes through a table of ICU's results per unit where
// the page allows it: ICU's per-call overhead outweighs short texts.
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>

#include <cstdio>
#include <cstring>

#include "codepage/codepage.h"
#include "codepage/unit_table.h"
#include "core/hot.h"
#include "win/base.h"
#include "win/wcs.h"

namespace platform {
namespace {

constexpr UINT CP_THREAD_ACP_ = 3;
constexpr DWORD kMbKnownFlags = 0x1 | 0x2 | 0x4 | MB_ERR_INVALID_CHARS;  // precomposed, composite, glyph chars
constexpr DWORD kWcErrInvalidChars = 0x80;
constexpr DWORD kWcKnownFlags = 0x10 | 0x20 | 0x40 | 0x200 | WC_NO_BEST_FIT_CHARS;  // composite handling, default char
constexpr size_t kSlots = 4;

struct CachedConverter {
    UINT codePage = 0;
    UConverter* converter = nullptr;
    char question[4] = {};  // '?' in this code page: the default character
    int8_t questionLength = 0;
};

struct ThreadConverters {
    CachedConverter slots[kSlots];
    size_t next = 0;
    ~ThreadConverters() {
        for (auto& slot : slots)
            if (slot.converter) ucnv_close(slot.converter);
    }
};

thread_local ThreadConverters t_converters;

UConverter* OpenConverter(UINT codePage) {
    static const char* const kPatterns[] = {"windows-%u", "ibm-%u", "cp%u"};
    for (const char* pattern : kPatterns) {
        char name[32];
        std::snprintf(name, sizeof name, pattern, codePage);
        UErrorCode err = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(name, &err);
        if (U_FAILURE(err) || !converter) continue;
        // UTF-16 and UTF-32 are not code pages for these calls.
        if (ucnv_getMinCharSize(converter) == 1) return converter;
        ucnv_close(converter);
    }
    return nullptr;
}

CachedConverter* ConverterFor(UINT codePage) {
    auto& cache = t_converters;
    for (auto& slot : cache.slots)
        if (slot.converter && slot.codePage == codePage) return &slot;
    UConverter* converter = OpenConverter(codePage);
    if (!converter) return nullptr;
    auto& slot = cache.slots[cache.next];
    cache.next = (cache.next + 1) % kSlots;
    if (slot.converter) ucnv_close(slot.converter);
    slot = CachedConverter{codePage, converter, {}, 0};
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(converter, slot.question, sizeof slot.question, u"?", 1, &err);
    if (U_FAILURE(err) || n <= 0 || n > 2) slot.question[0] = '?', n = 1;
    slot.questionLength = static_cast<int8_t>(n);
    return &slot;
}

PLATFORM_HOT UINT ResolveCodePage(UINT codePage) {
    if (codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP_) return AnsiCodePage();
    return codePage;
}

struct FromUnicodeContext {
    const char* defaultChar;
    int32_t defaultLength;
    bool bestFit;
    bool nested = false;
    bool usedDefault = false;
};

// A base character for best fit: the first character of the compatibility
// decomposition when it is not a combining mark ("Ā" -> "A", "ﬁ" -> "f").
bool BestFitBase(UChar32 c, UChar32* base) {
    UErrorCode err = U_ZERO_ERROR;
    const UNormalizer2* nfkd = unorm2_getNFKDInstance(&err);
    if (U_FAILURE(err)) return false;
    UChar decomposed[32];
    int32_t n = unorm2_getDecomposition(nfkd, c, decomposed, 32, &err);
    if (U_FAILURE(err) || n <= 0) return false;
    UChar32 first;
    int32_t i = 0;
    U16_NEXT(decomposed, i, n, first);
    if (first == c || u_getCombiningClass(first) != 0) return false;
    *base = first;
    return true;
}

void FromUnicodeCallback(const void* context, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                         UChar32 codePoint, UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close, clone
    auto* ctx = static_cast<FromUnicodeContext*>(const_cast<void*>(context));
    UChar32 base;
    if (reason == UCNV_UNASSIGNED && ctx->bestFit && !ctx->nested && BestFitBase(codePoint, &base)) {
        UChar units[2];
        int32_t length = 0;
        U16_APPEND_UNSAFE(units, length, base);
        const UChar* source = units;
        ctx->nested = true;  // a base that does not map either falls to the default character
        *err = U_ZERO_ERROR;
        ucnv_cbFromUWriteUChars(args, &source, units + length, 0, err);
        ctx->nested = false;
        return;
    }
    *err = U_ZERO_ERROR;
    ucnv_cbFromUWriteBytes(args, ctx->defaultChar, ctx->defaultLength, 0, err);
    ctx->usedDefault = true;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

int Result(size_t count, bool overflow) {
    if (overflow) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (count > INT32_MAX) return Fail(ERROR_INVALID_PARAMETER);
    return static_cast<int>(count);
}

int WideToIcu(CachedConverter& slot, DWORD flags, const WCHAR* in, size_t length, char* out, size_t capacity,
              LPCSTR defaultChar, LPBOOL usedDefault) {
    UConverter* converter = slot.converter;
    FromUnicodeContext ctx{slot.question, slot.questionLength, !(flags & WC_NO_BEST_FIT_CHARS)};
    if (defaultChar) {
        ctx.defaultChar = defaultChar;
        // Double-byte code pages may take a two-byte default character.
        ctx.defaultLength = ucnv_getMaxCharSize(converter) > 1 && defaultChar[0] && defaultChar[1] ? 2 : 1;
    }
    ucnv_resetFromUnicode(converter);
    ucnv_setFallback(converter, ctx.bestFit);
    UErrorCode err = U_ZERO_ERROR;
    UConverterFromUCallback oldCallback;
    const void* oldContext;
    ucnv_setFromUCallBack(converter, FromUnicodeCallback, &ctx, &oldCallback, &oldContext, &err);
    const UChar* source = in;
    const UChar* sourceLimit = in + length;
    size_t count = 0;
    bool overflow = false;
    if (capacity == 0) {
        // Size query: convert into a scratch block and count.
        do {
            char scratch[256];
            char* target = scratch;
            err = U_ZERO_ERROR;
            ucnv_fromUnicode(converter, &target, scratch + sizeof scratch, &source, sourceLimit, nullptr, true, &err);
            count += static_cast<size_t>(target - scratch);
        } while (err == U_BUFFER_OVERFLOW_ERROR);
    } else {
        char* target = out;
        err = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &target, out + capacity, &source, sourceLimit, nullptr, true, &err);
        count = static_cast<size_t>(target - out);
        overflow = err == U_BUFFER_OVERFLOW_ERROR;
    }
    UErrorCode ignored = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter, oldCallback, oldContext, nullptr, nullptr, &ignored);
    if (U_FAILURE(err) && !overflow) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (usedDefault) *usedDefault = ctx.usedDefault ? TRUE : FALSE;
    return Result(count, overflow);
}

int ConvertRunByIcu(UINT codePage, const WCHAR* in, size_t length, char* out, size_t capacity, BOOL* usedDefault) {
    CachedConverter* slot = ConverterFor(codePage);
    if (!slot) return Fail(ERROR_INVALID_PARAMETER);
    return WideToIcu(*slot, 0, in, length, out, capacity, nullptr, usedDefault);
}

// A page's first conversion decides whether it has a table.
__attribute__((noinline)) UnitTable* MakeTableFor(UINT codePage) {
    CachedConverter* slot = ConverterFor(codePage);
    return slot ? UnitTable::Make(codePage, slot->converter, ConvertRunByIcu) : nullptr;
}

UnitTable* TableFor(UINT codePage) {
    bool known = false;
    UnitTable* table = UnitTable::Find(codePage, &known);
    return known ? table : MakeTableFor(codePage);
}

int MultiToIcu(CachedConverter& slot, DWORD flags, const char* in, size_t length, WCHAR* out, size_t capacity) {
    UConverter* converter = slot.converter;
    ucnv_resetToUnicode(converter);
    ucnv_setFallback(converter, true);
    UErrorCode err = U_ZERO_ERROR;
    bool strict = flags & MB_ERR_INVALID_CHARS;
    ucnv_setToUCallBack(converter, strict ? UCNV_TO_U_CALLBACK_STOP : UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr,
                        nullptr, nullptr, &err);
    const char* source = in;
    const char* sourceLimit = in + length;
    size_t count = 0;
    bool overflow = false;
    if (capacity == 0) {
        do {
            UChar scratch[128];
            UChar* target = scratch;
            err = U_ZERO_ERROR;
            ucnv_toUnicode(converter, &target, scratch + 128, &source, sourceLimit, nullptr, true, &err);
            count += static_cast<size_t>(target - scratch);
        } while (err == U_BUFFER_OVERFLOW_ERROR);
    } else {
        UChar* target = out;
        err = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, out + capacity, &source, sourceLimit, nullptr, true, &err);
        count = static_cast<size_t>(target - out);
        overflow = err == U_BUFFER_OVERFLOW_ERROR;
    }
    if (U_FAILURE(err) && !overflow) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return Result(count, overflow);
}

// The conversions WideToMultiByte hands on, out of line, so that its path to
// a page's table, which every chunk of a job takes, stays short.
__attribute__((noinline)) int WideToUtf8(DWORD flags, const WCHAR* in, size_t length, char* out, int capacity,
                                         LPCSTR defaultChar, LPBOOL usedDefault) {
    if (defaultChar || usedDefault) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & ~kWcErrInvalidChars) return Fail(ERROR_INVALID_FLAGS);
    OutputSink<char> sink{out, static_cast<size_t>(capacity)};
    if (!Utf16ToUtf8(in, length, flags & kWcErrInvalidChars, sink)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return Result(sink.count, sink.overflow);
}

__attribute__((noinline)) int WideToPage(UINT codePage, DWORD flags, const WCHAR* in, size_t length, char* out,
                                         int capacity, LPCSTR defaultChar, LPBOOL usedDefault) {
    CachedConverter* slot = ConverterFor(codePage);
    if (!slot) return Fail(ERROR_INVALID_PARAMETER);
    return WideToIcu(*slot, flags, in, length, out, static_cast<size_t>(capacity), defaultChar, usedDefault);
}

}  // namespace

bool CodePageSupported(UINT codePage) {
    return codePage == CP_UTF8 || ConverterFor(codePage) != nullptr;
}

int MaxBytesPerUnit(UINT codePage) {
    if (codePage == CP_UTF8) return 3;
    CachedConverter* slot = ConverterFor(codePage);
    return slot ? ucnv_getMaxCharSize(slot->converter) : 0;
}

}  // namespace platform

WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar) {
    using namespace platform;
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr) ||
        (cchWideChar > 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    UINT codePage = ResolveCodePage(CodePage);
    if (codePage == CP_UTF8) {
        if (dwFlags & ~MB_ERR_INVALID_CHARS) return Fail(ERROR_INVALID_FLAGS);
        OutputSink<WCHAR> sink{lpWideCharStr, static_cast<size_t>(cchWideChar)};
        if (!Utf8ToUtf16(lpMultiByteStr, length, dwFlags & MB_ERR_INVALID_CHARS, sink))
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        return Result(sink.count, sink.overflow);
    }
    if (dwFlags & ~kMbKnownFlags) return Fail(ERROR_INVALID_FLAGS);
    CachedConverter* slot = ConverterFor(codePage);
    if (!slot) return Fail(ERROR_INVALID_PARAMETER);
    return MultiToIcu(*slot, dwFlags, lpMultiByteStr, length, lpWideCharStr, static_cast<size_t>(cchWideChar));
}

namespace platform {

PLATFORM_HOT int WideToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                    int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar, bool useTable) {
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr) ||
        (cbMultiByte > 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t length = cchWideChar == -1 ? wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    UINT codePage = ResolveCodePage(CodePage);
    if (codePage == CP_UTF8)
        return WideToUtf8(dwFlags, lpWideCharStr, length, lpMultiByteStr, cbMultiByte, lpDefaultChar,
                          lpUsedDefaultChar);
    if (dwFlags & ~kWcKnownFlags) return Fail(ERROR_INVALID_FLAGS);
    if (useTable && !(dwFlags & WC_NO_BEST_FIT_CHARS) && !lpDefaultChar) {
        if (UnitTable* table = TableFor(codePage))
            return table->Convert(lpWideCharStr, length, lpMultiByteStr, static_cast<size_t>(cbMultiByte),
                                  lpUsedDefaultChar);
    }
    return WideToPage(codePage, dwFlags, lpWideCharStr, length, lpMultiByteStr, cbMultiByte, lpDefaultChar,
                      lpUsedDefaultChar);
}

}  // namespace platform

WINBASEAPI PLATFORM_HOT int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                                       int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                                       LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    return platform::WideToMultiByte(CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte,
                                     lpDefaultChar, lpUsedDefaultChar, true);
}

WINBASEAPI UINT WINAPI GetACP(void) { return platform::AnsiCodePage(); }
