#include "profile/ProfileCatalog.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "win/base.h"
#include "win/wcs.h"

namespace pressel_catalog {
namespace {

namespace fs = std::filesystem;

// ANSI code page bytes to UTF-8, as the INI reader decodes names.
std::string AnsiToUtf8(const std::string& text) {
    if (text.empty()) return {};
    std::u16string wide(text.size(), u'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()));
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n) * 3, '\0');
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, out.data(), static_cast<int>(out.size()), nullptr,
                                nullptr);
    out.resize(m > 0 ? static_cast<size_t>(m) : 0);
    return out;
}

void AddDirectory(const fs::path& dir, bool user, std::vector<ProfilePrinter>* out) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        std::string ext = path.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".ini" && it->is_regular_file(ec)) files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files)
        for (std::string& printer : PrintersInIniFile(file)) out->push_back({file, std::move(printer), user});
}

}  // namespace

fs::path InstalledProfileDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().parent_path() / "share" / "pressel" / "profiles";
}

fs::path UserProfileDir() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') return fs::path(data) / "pressel" / "profiles";
    const char* home = std::getenv("HOME");
    if (home && *home) return fs::path(home) / ".local" / "share" / "pressel" / "profiles";
    return {};
}

std::vector<std::string> PrintersInIniFile(const fs::path& file) {
    std::vector<std::string> printers;
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // CR, LF or any run of them ends a line, as in the reader.
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = text.find_first_not_of("\r\n", end);
        if (start == std::string::npos) start = text.size();
        if (line.empty() || line[0] != '[') continue;
        size_t close = line.find(']');
        if (close == std::string::npos) break;  // hides every later section
        std::string name = line.substr(1, close - 1);
        std::u16string wide(name.begin(), name.end());
        if (name.empty() || _wcsicmp(wide.c_str(), u"PrinterPorts") == 0) continue;
        printers.push_back(AnsiToUtf8(name));
    }
    return printers;
}

std::vector<ProfilePrinter> ListProfilePrinters() {
    std::vector<ProfilePrinter> printers;
    AddDirectory(InstalledProfileDir(), false, &printers);
    fs::path user = UserProfileDir();
    if (!user.empty()) AddDirectory(user, true, &printers);
    return printers;
}

}  // namespace pressel_catalog
