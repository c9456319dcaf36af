// Fuzz target for the INI profile reader: the input is a profile file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "profile/IniFile.h"
#include "profile/Profile.h"

namespace {

std::string ScratchFile() {
    static std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/pressel-ini-fuzz-XXXXXX";
        int fd = mkstemp(pattern.data());
        if (fd >= 0) close(fd);
        return pattern;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = ScratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    WCHAR out[128];
    const char* keys[] = {"EntryName", "InitSeq", "A", "", "Speed ", "[P]"};
    for (const char* key : keys) {
        GetIniString("P", key, "default", out, 128, path.c_str());
        GetIniString("", key, "", out, 2, path.c_str());
    }
    FreeIniCache();

    // The whole job-start path over the same bytes.
    std::u16string wide(path.begin(), path.end());
    PrinterSettings settings;
    std::u16string description, portName;
    LoadPrinterProfile(ProfileSource{0, nullptr, wide.c_str()}, u"P", &settings, &description, &portName);
    return 0;
}
