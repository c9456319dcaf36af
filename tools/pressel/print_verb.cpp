// pressel print: prints a UTF-8 text file as one job through the Pressel
// control, with optional page headers and footers, and tells in plain words
// how the job went.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/pressel/job_common.h"
#include "tools/pressel/verbs.h"
#include "win/base.h"

namespace pressel_tool {

const char kPrintUsage[] =
    "usage: pressel print (--ini FILE | --reg KEYPATH) PRINTER [--output FILE]\n"
    "                     [--header TEXT] [--footer TEXT] [--quiet] TEXTFILE|-\n"
    "  Prints TEXTFILE (UTF-8; - reads standard input) on PRINTER as the profile\n"
    "  describes it. A form feed character starts a new page. {page} in the\n"
    "  header or footer is replaced by the page number. --output sends the job\n"
    "  to FILE instead of the printer's port. --quiet says only what went wrong.\n"
    "  Exit status: 0 printed, 1 the job did not complete, 2 a wrong command\n"
    "  line or an unreadable TEXTFILE.";

namespace {

struct Options : JobOptions {
    std::string input;
};

bool ParseArgs(int argc, char** argv, Options* o) {
    std::vector<std::string> positional;
    if (!TakeArgs("print", argc, argv, o, nullptr, &positional) || !CheckProfileOptions("print", *o)) return false;
    if (positional.size() != 2) {
        std::fprintf(stderr, "pressel print: expected PRINTER and TEXTFILE\n");
        return false;
    }
    o->printer = positional[0];
    o->input = positional[1];
    return true;
}

}  // namespace

int RunPrint(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) return BadUsage(kPrintUsage);
    std::string text;
    if (!ReadTextInput(o.input, &text)) {
        std::fprintf(stderr, "pressel print: cannot read '%s': %s\n", o.input.c_str(), std::strerror(errno));
        return kBadUsage;
    }

    bool complete = RunJob("print", o, [&](PresselClient& control) { return PrintText(control, "print", text, o.quiet); });
    if (complete && !o.quiet) {
        size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        if (!text.empty() && text.back() != '\n') ++lines;
        std::fprintf(stderr, "pressel print: printed %zu lines on %s%s%s\n", lines, o.printer.c_str(),
                     o.output.empty() ? "" : " into ", o.output.c_str());
    }
    return complete ? kPrinted : kNotCompleted;
}

}  // namespace pressel_tool
