// Shared by the benchmarks: a scratch directory that holds the registry file
// and the profile, and the lines of a job.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace bench {

// Made on construction, with PRESSEL_REGISTRY pointing into it; removed with
// everything in it on destruction.
struct ScratchDir {
    std::filesystem::path dir;
    explicit ScratchDir(const char* tag) {
        std::string pattern = (std::filesystem::temp_directory_path() / tag).string() + "-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        setenv("PRESSEL_REGISTRY", (dir / "registry.reg").c_str(), 1);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
};

// Line i of a job, as a report would have it: 40 to 79 characters.
inline std::u16string ReportLine(int i, const std::string& job) {
    std::string s = "Line " + std::to_string(i) + " of the " + job + ", ";
    s.append(static_cast<size_t>(40 + i % 40) - std::min<size_t>(s.size(), 40), '.');
    return std::u16string(s.begin(), s.end());
}

}  // namespace bench
