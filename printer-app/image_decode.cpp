#include "printer-app/image_decode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace printer_app {
namespace {

bool SizeAllowed(long width, long height, size_t maxPixels, int maxSide, std::string* why) {
    if (width < 1 || height < 1) return *why = "the image has no pixels", false;
    if (width > maxSide || height > maxSide || static_cast<size_t>(width) * static_cast<size_t>(height) > maxPixels) {
        *why = "the image is too large to print (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    return true;
}

// The density of a PNG's pHYs chunk, read with libpng without decoding the
// image; 0 when there is none or it is not square.
int PngPpi(const std::string& path) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return 0;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    int ppi = 0;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, fp);
        png_read_info(png, info);
        png_uint_32 x = png_get_x_pixels_per_inch(png, info), y = png_get_y_pixels_per_inch(png, info);
        if (x == y) ppi = static_cast<int>(x);
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(fp);
    return ppi;
}

bool DecodePng(const std::string& path, size_t maxPixels, int maxSide, GreyImage* image, std::string* why) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        *why = std::string("the PNG document cannot be read: ") + png.message;
        return false;
    }
    if (!SizeAllowed(png.width, png.height, maxPixels, maxSide, why)) {
        png_image_free(&png);
        return false;
    }
    png.format = PNG_FORMAT_GRAY;
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->pixels.assign(PNG_IMAGE_SIZE(png), 255);
    png_color white = {255, 255, 255};
    if (!png_image_finish_read(&png, &white, image->pixels.data(), 0, nullptr)) {
        *why = std::string("the PNG document is damaged: ") + png.message;
        png_image_free(&png);
        return false;
    }
    image->ppi = PngPpi(path);
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

// Kept free of objects with destructors: a JPEG error leaves it by longjmp.
bool DecodeJpegInto(FILE* fp, size_t maxPixels, int maxSide, GreyImage* image, char* why, size_t whySize) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnJpegError;
    // Warnings are counted, not written to the server's standard error.
    error.manager.output_message = [](j_common_ptr) {};
    error.message[0] = 0;
    if (setjmp(error.jump)) {
        std::snprintf(why, whySize, "the JPEG document is damaged: %s", error.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, fp);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_GRAYSCALE;
    jpeg_calc_output_dimensions(&info);
    if (info.output_width < 1 || info.output_height < 1 || info.output_width > static_cast<JDIMENSION>(maxSide) ||
        info.output_height > static_cast<JDIMENSION>(maxSide) ||
        static_cast<size_t>(info.output_width) * info.output_height > maxPixels) {
        std::snprintf(why, whySize, "the image is too large to print (%u x %u)", info.output_width, info.output_height);
        jpeg_destroy_decompress(&info);
        return false;
    }
    image->width = static_cast<int>(info.output_width);
    image->height = static_cast<int>(info.output_height);
    image->pixels.resize(static_cast<size_t>(image->width) * static_cast<size_t>(image->height));
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->pixels.data() + static_cast<size_t>(info.output_scanline) * info.output_width;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
    }
    // A file that ends early has been padded by libjpeg with a warning;
    // what is missing is not the picture that was sent.
    bool complete = info.output_scanline == info.output_height && error.manager.num_warnings == 0;
    if (info.density_unit == 1 && info.X_density == info.Y_density) image->ppi = info.X_density;
    if (info.density_unit == 2 && info.X_density == info.Y_density) image->ppi = info.X_density * 254 / 100;
    if (complete) jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (!complete) std::snprintf(why, whySize, "the JPEG document is truncated or damaged");
    return complete;
}

bool DecodeJpeg(const std::string& path, size_t maxPixels, int maxSide, GreyImage* image, std::string* why) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return *why = "the JPEG document cannot be opened", false;
    char text[JMSG_LENGTH_MAX + 64] = {};
    bool ok = DecodeJpegInto(fp, maxPixels, maxSide, image, text, sizeof text);
    std::fclose(fp);
    if (!ok) *why = text;
    return ok;
}

}  // namespace

bool DecodeImageFile(const std::string& path, const std::string& format, size_t maxPixels, int maxSide,
                     GreyImage* image, std::string* why) {
    *image = GreyImage();
    if (format == "image/png") return DecodePng(path, maxPixels, maxSide, image, why);
    if (format == "image/jpeg") return DecodeJpeg(path, maxPixels, maxSide, image, why);
    *why = "unsupported image format " + format;
    return false;
}

}  // namespace printer_app
