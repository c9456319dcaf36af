#include "preview/PngFile.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace pressel_preview {
namespace {

// Indexed by Ink.
constexpr png_color kPalette[] = {{255, 255, 255}, {0, 0, 0}, {220, 0, 0}, {0, 90, 200}};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Runs the libpng calls; apart so that no object with a destructor lives
// in the frame that longjmp leaves.
bool Write(std::FILE* file, const Image& image, int pixelsPerInch, std::string* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, OnPngError, OnPngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 2,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, kPalette, static_cast<int>(sizeof kPalette / sizeof kPalette[0]));
    if (pixelsPerInch > 0) {
        auto perMetre = static_cast<png_uint_32>((pixelsPerInch * 10000L + 127) / 254);
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    png_set_packing(png);  // one index a byte in memory, two bits in the file
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const Image& image, const std::string& path, int pixelsPerInch, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    bool ok = Write(file, image, pixelsPerInch, &why);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) *error = "cannot write " + path + (why.empty() ? std::string(": ") + std::strerror(errno) : ": " + why);
    return ok;
}

}  // namespace pressel_preview
