// pressel bitmap: prints a bitmap file as one job through the Pressel
// control, sized and placed in character cells of the printer's profile.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/pressel/job_common.h"
#include "tools/pressel/verbs.h"

namespace pressel_tool {

const char kBitmapUsage[] =
    "usage: pressel bitmap (--ini FILE | --reg KEYPATH) PRINTER [--output FILE]\n"
    "                      [--col N] --height LINES --width COLUMNS [--quiet] IMAGE\n"
    "  Prints the bitmap file IMAGE on PRINTER in its graphics mode, scaled to\n"
    "  LINES text lines and COLUMNS character columns, its left edge at column N\n"
    "  (counted from 1; the default). The cell sizes in dots come from the\n"
    "  profile's graphics keys. --output sends the job to FILE instead of the\n"
    "  printer's port. --quiet and the exit statuses are those of pressel print.";

namespace {

struct Options : JobOptions, ImageOptions {
    std::string image;
};

bool ParseArgs(int argc, char** argv, Options* o) {
    std::vector<std::string> positional;
    auto image = [&](int* i, bool* ok) { return TakeImageOption(argc, argv, i, o, ok); };
    if (!TakeArgs("bitmap", argc, argv, o, image, &positional) || !CheckProfileOptions("bitmap", *o)) return false;
    if (positional.size() != 2) {
        std::fprintf(stderr, "pressel bitmap: expected PRINTER and IMAGE\n");
        return false;
    }
    if (!CheckImageOptions("bitmap", *o)) return false;
    o->printer = positional[0];
    o->image = positional[1];
    return true;
}

}  // namespace

int RunBitmap(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) return BadUsage(kBitmapUsage);
    if (!std::ifstream(o.image, std::ios::binary)) {
        std::fprintf(stderr, "pressel bitmap: cannot read '%s': %s\n", o.image.c_str(), std::strerror(errno));
        return kBadUsage;
    }
    std::u16string image = ControlImagePath(o.image);
    bool complete = RunJob("bitmap", o, [&](PresselClient& control) { return PrintImage(control, "bitmap", o, image); });
    if (complete && !o.quiet) {
        std::fprintf(stderr, "pressel bitmap: printed %s, %d lines by %d columns from column %d, on %s%s%s\n",
                     o.image.c_str(), static_cast<int>(o.height), static_cast<int>(o.width),
                     static_cast<int>(o.col < 1 ? 1 : o.col), o.printer.c_str(), o.output.empty() ? "" : " into ",
                     o.output.c_str());
    }
    return complete ? kPrinted : kNotCompleted;
}

}  // namespace pressel_tool
