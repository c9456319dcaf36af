// Small pieces the control, bitmap, port and profile tests share: scratch
// directories with their own registry store, file bytes, ASCII-to-UTF-16
// and the readable notation golden byte streams are written in.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace test_support {

// Test paths and names are ASCII: widening each byte is enough.
inline std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Golden streams write ESC as '^' and, when asked, NUL as '~' so that they
// stay readable.
inline std::string Esc(std::string s, bool tildeIsNul = false) {
    for (char& c : s) {
        if (c == '^') c = '\x1b';
        if (tildeIsNul && c == '~') c = '\0';
    }
    return s;
}

// The whole file as bytes; "" when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh directory under the temporary directory, named from prefix, with
// PRESSEL_REGISTRY pointing at "registry.reg" inside it so that the test
// starts with an empty registry. Empty when the directory cannot be made.
inline std::filesystem::path MakeScratchDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) return {};
    std::filesystem::path dir = pattern;
    setenv("PRESSEL_REGISTRY", (dir / "registry.reg").c_str(), 1);
    return dir;
}

inline void RemoveScratchDir(const std::filesystem::path& dir) {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

}  // namespace test_support
