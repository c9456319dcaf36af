// Private to the platform layer: the English texts of Win32 error codes.
#pragma once

#include <span>

#include "win/types.h"

namespace platform {

struct ErrorText {
    DWORD code;
    const char16_t* text;  // one line, without the final "\r\n"
};

// Ascending by code.
std::span<const ErrorText> ErrorTexts();

// Null when the code has no text.
const char16_t* FindErrorText(DWORD code);

}  // namespace platform
