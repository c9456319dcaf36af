// A text file as the lines of a job: what pressel print sends, shared with
// the verbs that run the same job.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <vector>

#include "tools/pressel/job_common.h"

namespace pressel_tool {
namespace {

// How many lines make a job long enough for progress reports.
constexpr size_t kProgressEvery = 1000;

}  // namespace

bool ReadTextInput(const std::string& name, std::string* text) {
    if (name == "-") {
        text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool PrintText(PresselClient& control, const char* verb, const std::string& text, bool quiet) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    bool tty = isatty(STDERR_FILENO);
    bool progress = !quiet && lines.size() >= kProgressEvery;
    int lastPercent = -1;

    for (size_t n = 0; n < lines.size(); ++n) {
        if (JobInterrupted()) {
            control.UserAbort();
            return false;
        }
        if (!control.StillPrinting()) return false;

        control.PrintTextLine(lines[n]);

        if (progress) {
            if (tty) {
                int percent = static_cast<int>((n + 1) * 100 / lines.size());
                if (percent != lastPercent) std::fprintf(stderr, "\rpressel %s: %3d%%", verb, percent);
                lastPercent = percent;
                if (n + 1 == lines.size()) std::fprintf(stderr, "\n");
            } else if ((n + 1) % kProgressEvery == 0) {
                std::fprintf(stderr, "pressel %s: %zu of %zu lines\n", verb, n + 1, lines.size());
            }
        }
    }
    return true;
}

}  // namespace pressel_tool
