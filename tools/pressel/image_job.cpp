// A bitmap file as a job: the options that size and place it, and the call
// that prints it, as pressel bitmap does; shared with the verbs that run the
// same job.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "tools/pressel/job_common.h"

namespace pressel_tool {
namespace {

// A whole decimal number that fits a LONG.
bool ParseLong(const char* text, LONG* value) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || v < std::numeric_limits<LONG>::min() || v > std::numeric_limits<LONG>::max()) return false;
    *value = static_cast<LONG>(v);
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

}  // namespace

bool TakeImageOption(int argc, char** argv, int* i, ImageOptions* o, bool* ok) {
    std::string a = argv[*i];
    auto number = [&](LONG* field) { return *i + 1 < argc && ParseLong(argv[++*i], field); };
    if (a == "--col") *ok = number(&o->col);
    else if (a == "--height") *ok = o->haveHeight = number(&o->height);
    else if (a == "--width") *ok = o->haveWidth = number(&o->width);
    else return false;
    return true;
}

bool CheckImageOptions(const char* verb, const ImageOptions& o) {
    if (o.haveHeight && o.haveWidth && o.height >= 1 && o.width >= 1) return true;
    std::fprintf(stderr, "pressel %s: --height and --width must be given, each at least 1\n", verb);
    return false;
}

std::u16string ControlImagePath(const std::string& image) {
    // The control wants a name it can open from anywhere; an absolute path
    // also spares short relative names its minimum length.
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(image, ec);
    return Wide(ec ? image : full.string());
}

bool PrintImage(PresselClient& control, const char* verb, const ImageOptions& o, const std::u16string& image) {
    control.Bitmap(o.col, o.height, o.width, image);
    LONG lError = control.LastError();
    if (lError != 0) {
        std::fprintf(stderr, "pressel %s: %s [0x%08X]\n", verb, BitmapErrorText(lError), static_cast<unsigned>(lError));
        return false;
    }
    return control.StillPrinting();
}

}  // namespace pressel_tool
