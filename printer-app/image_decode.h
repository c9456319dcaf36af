// PNG and JPEG documents decoded to 8-bit grey pixels (0 black, 255 white,
// transparency over white) for PAPPL's image filter, which scales and
// dithers them at the printer's resolution.
#pragma once

#include <string>
#include <vector>

namespace printer_app {

struct GreyImage {
    int width = 0, height = 0;
    int ppi = 0;  // pixels per inch the file gives; 0 when it gives none
    std::vector<unsigned char> pixels;  // rows from the top
};

// Decodes a file of the given format ("image/png" or "image/jpeg"),
// refusing images above maxPixels or wider or taller than maxSide. False
// with the reason in *why for a truncated, damaged or lying file.
bool DecodeImageFile(const std::string& path, const std::string& format, size_t maxPixels, int maxSide,
                     GreyImage* image, std::string* why);

}  // namespace printer_app
