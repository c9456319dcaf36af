// pressel bitmap: prints a bitmap file as one job through the Pressel
// control, sized and placed in character cells of the printer's profile.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
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

struct Options : JobOptions {
    LONG col = 1, height = 0, width = 0;
    std::string image;
};

// A whole decimal number that fits a LONG.
bool ParseLong(const char* text, LONG* value) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || v < std::numeric_limits<LONG>::min() || v > std::numeric_limits<LONG>::max()) return false;
    *value = static_cast<LONG>(v);
    return true;
}

bool ParseArgs(int argc, char** argv, Options* o) {
    std::vector<std::string> positional;
    bool haveHeight = false, haveWidth = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool ok = true;
        auto number = [&](LONG* field) { return i + 1 < argc && ParseLong(argv[++i], field); };
        if (TakeJobOption(argc, argv, &i, o, &ok)) {
            // taken
        } else if (a == "--col") {
            ok = number(&o->col);
        } else if (a == "--height") {
            ok = haveHeight = number(&o->height);
        } else if (a == "--width") {
            ok = haveWidth = number(&o->width);
        } else if (a.size() > 1 && a[0] == '-') {
            ok = false;
        } else {
            positional.push_back(a);
        }
        if (!ok) {
            std::fprintf(stderr, "pressel bitmap: bad or incomplete option '%s'\n", a.c_str());
            return false;
        }
    }
    if (!CheckProfileOptions("bitmap", *o)) return false;
    if (positional.size() != 2) {
        std::fprintf(stderr, "pressel bitmap: expected PRINTER and IMAGE\n");
        return false;
    }
    if (!haveHeight || !haveWidth || o->height < 1 || o->width < 1) {
        std::fprintf(stderr, "pressel bitmap: --height and --width must be given, each at least 1\n");
        return false;
    }
    o->printer = positional[0];
    o->image = positional[1];
    return true;
}

// Plain words for what the control's Bitmap method reports.
const char* BitmapErrorText(LONG code) {
    switch (static_cast<ULONG>(code)) {
    case 0x80040D05: return "the image's file name was refused";
    case 0x80040D07:
        return "the profile has no usable graphics geometry (GraphNumPins 1 or a multiple of 8, GraphXDots a "
               "multiple of 8, GraphCharHeight and GraphCharWidth above 0)";
    case 0x80040D08: return "the image could not be converted (not a bitmap file that can be read, or too large)";
    default: return "printing the image failed";
    }
}

// Prints the image; false when the control refused it or the job stopped.
bool PrintImage(PresselClient& control, const Options& o, const std::u16string& image) {
    control.Bitmap(o.col, o.height, o.width, image);
    LONG lError = control.LastError();
    if (lError != 0) {
        std::fprintf(stderr, "pressel bitmap: %s [0x%08X]\n", BitmapErrorText(lError), static_cast<unsigned>(lError));
        return false;
    }
    return control.StillPrinting();
}

}  // namespace

int RunBitmap(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) return BadUsage(kBitmapUsage);
    if (!std::ifstream(o.image, std::ios::binary)) {
        std::fprintf(stderr, "pressel bitmap: cannot read '%s': %s\n", o.image.c_str(), std::strerror(errno));
        return kBadUsage;
    }
    // The control wants a name it can open from anywhere; an absolute path
    // also spares short relative names its minimum length.
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(o.image, ec);
    std::u16string image = Wide(ec ? o.image : full.string());

    bool complete = RunJob("bitmap", o, [&](PresselClient& control) { return PrintImage(control, o, image); });
    if (complete && !o.quiet) {
        std::fprintf(stderr, "pressel bitmap: printed %s, %d lines by %d columns from column %d, on %s%s%s\n",
                     o.image.c_str(), static_cast<int>(o.height), static_cast<int>(o.width),
                     static_cast<int>(o.col < 1 ? 1 : o.col), o.printer.c_str(), o.output.empty() ? "" : " into ",
                     o.output.c_str());
    }
    return complete ? kPrinted : kNotCompleted;
}

}  // namespace pressel_tool
