#include "preview/Markers.h"

#include <algorithm>

namespace pressel_preview {
namespace {

// 3 x 5 dot digits 0 to F, five rows of three bits each, the top row first
// and the leftmost dot highest.
constexpr uint16_t kDigits[16] = {
    0b111'101'101'101'111, 0b010'110'010'010'111, 0b111'001'111'100'111, 0b111'001'111'001'111,
    0b101'101'111'001'001, 0b111'100'111'001'111, 0b111'100'111'101'111, 0b111'001'010'010'010,
    0b111'101'111'101'111, 0b111'101'111'001'111, 0b010'101'111'101'101, 0b110'101'110'101'110,
    0b011'100'100'100'011, 0b110'101'101'101'110, 0b111'100'110'100'111, 0b111'100'110'100'100,
};
constexpr int kDigitWidth = 3, kDigitHeight = 5, kGap = 1, kFrame = 1, kPad = 1;

}  // namespace

int MarkerMinWidth(int digits) { return digits * (kDigitWidth + kGap) - kGap + 2 * (kFrame + kPad); }
int MarkerMinHeight() { return kDigitHeight + 2 * (kFrame + kPad); }

void DrawMarker(PageModel& page, long left, long top, long width, long height, uint32_t value, int digits) {
    width = std::max<long>(width, MarkerMinWidth(digits));
    height = std::max<long>(height, MarkerMinHeight());
    long right = left + width, bottom = top + height;
    page.Fill(left, top, right, top + kFrame, kMarker);
    page.Fill(left, bottom - kFrame, right, bottom, kMarker);
    page.Fill(left, top, left + kFrame, bottom, kMarker);
    page.Fill(right - kFrame, top, right, bottom, kMarker);
    long x = left + (width - (MarkerMinWidth(digits) - 2 * (kFrame + kPad))) / 2;
    long y = top + (height - kDigitHeight) / 2;
    for (int d = digits - 1; d >= 0; --d, x += kDigitWidth + kGap) {
        uint16_t bits = kDigits[(value >> (4 * d)) & 0xF];
        for (int row = 0; row < kDigitHeight; ++row)
            for (int col = 0; col < kDigitWidth; ++col)
                if (bits >> ((kDigitHeight - 1 - row) * kDigitWidth + (kDigitWidth - 1 - col)) & 1)
                    page.Fill(x + col, y + row, x + col + 1, y + row + 1, kMarker);
    }
}

}  // namespace pressel_preview
