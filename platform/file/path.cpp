#include "file/path.h"

#include <sys/stat.h>

#include <algorithm>

#include "core/utf.h"
#include "win/base.h"

namespace platform {

std::string PosixPath(LPCWSTR name) {
    std::string path = ToUtf8(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

DWORD MissingPathError(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
    std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

}  // namespace platform
