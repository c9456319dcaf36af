// UTF-16 string helpers with the semantics of the device's C library.
//
// WCHAR is char16_t here, so these are C++ overloads: glibc already owns the
// C names (wcstok, wcstol, ...) for its 32-bit wchar_t, and exporting ours
// under C linkage would replace them for the whole process.
#pragma once

#include <cstdarg>

#include "win/types.h"

#define PRESSEL_WCS_API __attribute__((visibility("default")))

PRESSEL_WCS_API size_t wcslen(const WCHAR* s);
PRESSEL_WCS_API WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
PRESSEL_WCS_API WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
PRESSEL_WCS_API WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
PRESSEL_WCS_API int wcscmp(const WCHAR* a, const WCHAR* b);
PRESSEL_WCS_API int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
// Case-insensitive comparison (ASCII and Latin-1 letters fold).
PRESSEL_WCS_API int _wcsicmp(const WCHAR* a, const WCHAR* b);
PRESSEL_WCS_API int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
PRESSEL_WCS_API const WCHAR* wcschr(const WCHAR* s, WCHAR c);
PRESSEL_WCS_API WCHAR* wcschr(WCHAR* s, WCHAR c);
PRESSEL_WCS_API const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
PRESSEL_WCS_API WCHAR* wcsrchr(WCHAR* s, WCHAR c);
PRESSEL_WCS_API const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub);
// Two-argument tokenizer of the device's C library: the state is kept per
// thread between calls; runs of delimiters are skipped, so no empty tokens.
PRESSEL_WCS_API WCHAR* wcstok(WCHAR* s, const WCHAR* delim);
// Base 0 reads "0x"/"0X" as hexadecimal and a leading 0 as octal.
// Results are clamped to the 32-bit LONG range, as on the device.
PRESSEL_WCS_API LONG wcstol(const WCHAR* s, WCHAR** end, int base);
PRESSEL_WCS_API ULONG wcstoul(const WCHAR* s, WCHAR** end, int base);
PRESSEL_WCS_API int _wtoi(const WCHAR* s);
// printf-style formatting into a UTF-16 buffer of `count` units; %s and %ls
// take WCHAR strings, %hs takes 8-bit strings; %d %i %u %x %X %c %% and
// widths/precision/flags as in C. Returns the units written (without the
// terminator) or -1 when the output was cut; the buffer is always terminated.
PRESSEL_WCS_API int _snwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, ...);
PRESSEL_WCS_API int _vsnwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, va_list args);
