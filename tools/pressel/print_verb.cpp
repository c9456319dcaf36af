// pressel print: prints a UTF-8 text file as one job through the Pressel
// control, with optional page headers and footers, and tells in plain words
// how the job went.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/pressel/job_common.h"
#include "tools/pressel/verbs.h"
#include "win/base.h"

namespace pressel_tool {
namespace {

constexpr const char* kUsage =
    "usage: pressel print (--ini FILE | --reg KEYPATH) PRINTER [--output FILE]\n"
    "                     [--header TEXT] [--footer TEXT] [--quiet] TEXTFILE|-\n"
    "  Prints TEXTFILE (UTF-8; - reads standard input) on PRINTER as the profile\n"
    "  describes it. A form feed character starts a new page. {page} in the\n"
    "  header or footer is replaced by the page number. --output sends the job\n"
    "  to FILE instead of the printer's port.";

struct Options : JobOptions {
    std::string input;
};

// How many lines make a job long enough for progress reports.
constexpr size_t kProgressEvery = 1000;

bool ParseArgs(int argc, char** argv, Options* o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool ok = true;
        if (!TakeJobOption(argc, argv, &i, o, &ok)) {
            if (a.size() > 1 && a[0] == '-' && a != "-") ok = false;
            else positional.push_back(a);
        }
        if (!ok) {
            std::fprintf(stderr, "pressel print: bad or incomplete option '%s'\n", a.c_str());
            return false;
        }
    }
    if (!CheckProfileOptions("print", *o)) return false;
    if (positional.size() != 2) {
        std::fprintf(stderr, "pressel print: expected PRINTER and TEXTFILE\n");
        return false;
    }
    o->printer = positional[0];
    o->input = positional[1];
    return true;
}

bool ReadInput(const std::string& name, std::string* text) {
    if (name == "-") {
        text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Sends the text line by line; false when the job stopped on the way.
bool PrintText(PresselClient& control, const std::string& text, const Options& o) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    bool tty = isatty(STDERR_FILENO);
    bool progress = !o.quiet && lines.size() >= kProgressEvery;
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
                if (percent != lastPercent) std::fprintf(stderr, "\rpressel print: %3d%%", percent);
                lastPercent = percent;
                if (n + 1 == lines.size()) std::fprintf(stderr, "\n");
            } else if ((n + 1) % kProgressEvery == 0) {
                std::fprintf(stderr, "pressel print: %zu of %zu lines\n", n + 1, lines.size());
            }
        }
    }
    return true;
}

}  // namespace

int RunPrint(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kBadUsage;
    }
    std::string text;
    if (!ReadInput(o.input, &text)) {
        std::fprintf(stderr, "pressel print: cannot read '%s': %s\n", o.input.c_str(), std::strerror(errno));
        return kBadUsage;
    }

    bool complete = RunJob("print", o, [&](PresselClient& control) { return PrintText(control, text, o); });
    if (complete && !o.quiet) {
        size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        if (!text.empty() && text.back() != '\n') ++lines;
        std::fprintf(stderr, "pressel print: printed %zu lines on %s%s%s\n", lines, o.printer.c_str(),
                     o.output.empty() ? "" : " into ", o.output.c_str());
    }
    return complete ? kPrinted : kNotCompleted;
}

}  // namespace pressel_tool
