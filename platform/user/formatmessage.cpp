// FormatMessageW for the system's own messages: the English texts of Win32
// error codes. Message tables of modules and caller strings are not offered.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/trace.h"
#include "user/error_texts.h"
#include "win/base.h"
#include "win/user.h"

namespace {

bool LanguageAvailable(DWORD languageId) {
    WORD primary = PRIMARYLANGID(languageId);
    return languageId == 0 || primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

// The text as the message compiler leaves it: one line ended by "\r\n". With
// the width mask 0xFF line breaks are dropped, leaving the trailing space
// Windows gives.
std::u16string MessageText(const char16_t* text, DWORD width) {
    std::u16string result(text);
    result += width == FORMAT_MESSAGE_MAX_WIDTH_MASK ? u" " : u"\r\n";
    return result;
}

DWORD Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

WINBASEAPI DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPWSTR lpBuffer, DWORD nSize, va_list*) {
    PLATFORM_TRACE("FormatMessageW(0x%X,%u)", dwFlags, dwMessageId);
    // A caller that frees the result without checking frees null, not garbage.
    if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) && lpBuffer) *reinterpret_cast<LPWSTR*>(lpBuffer) = nullptr;
    // Without FROM_SYSTEM the text would come from a module's message table
    // or from the caller's string, neither of which exists here.
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_FROM_STRING))
        return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    DWORD width = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) return Fail(ERROR_CALL_NOT_IMPLEMENTED);  // wrapping
    if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
    if (!LanguageAvailable(dwLanguageId)) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
    const char16_t* text = platform::FindErrorText(dwMessageId);
    if (!text) return Fail(ERROR_MR_MID_NOT_FOUND);

    std::u16string message = MessageText(text, width);
    DWORD length = static_cast<DWORD>(message.size());
    WCHAR* out = lpBuffer;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // nSize is then the least number of characters to allocate.
        SIZE_T units = std::max<SIZE_T>(length + 1, nSize);
        out = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, units * sizeof(WCHAR)));
        if (!out) return 0;
        *reinterpret_cast<LPWSTR*>(lpBuffer) = out;
    } else if (nSize < length + 1) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(out, message.data(), length * sizeof(WCHAR));
    out[length] = 0;
    return length;
}
