// The visible marker of a byte the profile does not explain: a red box
// holding the value in hexadecimal, in a small dot font of its own so that
// it stays readable in the smallest character cells.
#pragma once

#include <cstdint>

#include "preview/PageModel.h"

namespace pressel_preview {

// The smallest box, in pixels, that holds a value of digits hex digits.
int MarkerMinWidth(int digits);
int MarkerMinHeight();

// Draws the marker of value into the box at (left, top), at least the
// minimal size; digits hex digits (leading zeros kept).
void DrawMarker(PageModel& page, long left, long top, long width, long height, uint32_t value, int digits);

}  // namespace pressel_preview
