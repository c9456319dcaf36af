// Private to the platform layer: UTF-16 <-> UTF-8 for names handed to POSIX.
// Unpaired surrogates and invalid UTF-8 become U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "win/types.h"

namespace platform {

std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(const WCHAR* text);  // null reads as empty
std::u16string FromUtf8(std::string_view text);

}  // namespace platform
