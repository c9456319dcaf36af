// Private to the platform layer: turning the names the system passes to file
// calls into POSIX paths.
#pragma once

#include <string>

#include "win/types.h"

namespace platform {

// UTF-16 name -> UTF-8 path. Code written for the device builds paths with
// '\' (for instance the executable's directory plus "\farsend.dll"), so '\' is
// accepted as a separator and becomes '/'. A name that really contains a
// backslash therefore cannot be opened through these calls.
std::string PosixPath(LPCWSTR name);

// Last error for a path that could not be found: ERROR_PATH_NOT_FOUND when a
// directory on the way is missing (or is not a directory), else
// ERROR_FILE_NOT_FOUND.
DWORD MissingPathError(const std::string& path);

}  // namespace platform
