// Preview pictures as PNG files (libpng): a four-colour palette image.
#pragma once

#include <string>

#include "preview/PageModel.h"

namespace pressel_preview {

// Writes image to path; pixelsPerInch (0: not known) goes into the file so
// that viewers can show it at its real size. False and a reason on failure.
bool WritePng(const Image& image, const std::string& path, int pixelsPerInch, std::string* error);

}  // namespace pressel_preview
