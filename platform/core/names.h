// Private to the platform layer: names that CreateFileW does not treat as
// paths ("COM1:", "LPT9:"). Each subsystem that owns such names adds an opener
// at load time; CreateFileW asks them in turn before opening a file.
#pragma once

#include <string>

#include "win/types.h"

namespace platform {

struct OpenRequest {
    std::u16string name;
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
};

// Returns false when the name is not its own; otherwise stores the handle
// (INVALID_HANDLE_VALUE with the last error set on failure) and returns true.
using NameOpener = bool (*)(const OpenRequest& request, HANDLE* result);

void AddNameOpener(NameOpener opener);

// Asks every opener; false when none owns the name.
bool OpenSpecialName(const OpenRequest& request, HANDLE* result);

}  // namespace platform
