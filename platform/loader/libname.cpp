#include "loader/libname.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                      [](char lowerSuffix, char c) { return std::tolower(static_cast<unsigned char>(c)) == lowerSuffix; });
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string SharedObjectName(const std::string& moduleName) {
    std::string name = moduleName;
    std::replace(name.begin(), name.end(), '\\', '/');
    size_t slash = name.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::string file = name.substr(dir.size());
    if (file.empty()) return name;

    std::string stem;
    if (EndsWithNoCase(file, ".dll")) {
        stem = file.substr(0, file.size() - 4);
    } else if (file.back() == '.') {
        stem = file.substr(0, file.size() - 1);  // "X." means: no extension
    } else if (file.find('.') == std::string::npos) {
        stem = file;
    } else {
        return name;  // ".so", ".so.1" and other explicit extensions
    }
    if (stem.empty()) return name;
    return dir + "lib" + Lower(stem) + ".so";
}

}  // namespace platform
