// OndrelGetId: the identification string of the library and of the static
// library it was built from, as one line of XML-like text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Ondrel.h"

namespace {

#define ONDREL_YEARS "2004,2005,2006"
#define ONDREL_VERSION "1.07"
// Runs of 16 spaces stand where the notice breaks its lines.
#define ONDREL_BREAK "                "

constexpr const char kStartTag[] =
    "<Ondrel.dll CopyrightYear=\"" ONDREL_YEARS "\" Copyright=\"Copyright (c) Quendrix. All rights reserved.\""
    " Version=\"" ONDREL_VERSION "\"> ";
constexpr const char kInner[] = "<OndrelLib.lib" ONDREL_BREAK "CopyrightYear=\"" ONDREL_YEARS "\"" ONDREL_BREAK
                                "Copyright=\"Copyright (c) Quendrix." ONDREL_BREAK "All rights reserved.\"" ONDREL_BREAK
                                "Version=\"" ONDREL_VERSION "\" />";
constexpr const char kEndTag[] = " </Ondrel.dll>";

// The static library's own identification, with OndrelGetId's contract.
int OndrelLibGetId(char* buffer, int size) {
    int length = static_cast<int>(sizeof kInner - 1);
    if (!buffer) return length;
    if (size < length) return -1;
    std::strncpy(buffer, kInner, static_cast<size_t>(size));
    return length;
}

}  // namespace

ONDREL_API int OndrelGetId(char* buffer, int size) {
    int innerLength = OndrelLibGetId(nullptr, 0);
    int length = innerLength + static_cast<int>(sizeof kStartTag - 1 + sizeof kEndTag - 1);
    if (!buffer) return length;
    if (size < length) return -1;
    char* inner = static_cast<char*>(std::malloc(static_cast<size_t>(innerLength) + 1));
    char* whole = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (!inner || !whole) {
        std::free(inner);
        std::free(whole);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -2;
    }
    OndrelLibGetId(inner, innerLength + 1);
    std::snprintf(whole, static_cast<size_t>(length) + 1, "%s%s%s", kStartTag, inner, kEndTag);
    std::strncpy(buffer, whole, static_cast<size_t>(size));
    std::free(inner);
    std::free(whole);
    return length;
}
