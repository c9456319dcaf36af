#include "preview/PageModel.h"

#include <algorithm>

namespace pressel_preview {

PageModel::PageModel(int width, long minHeight, long maxHeight, PageSink sink)
    : width_(std::max(width, 1)),
      minHeight_(std::min(minHeight, maxHeight)),
      maxHeight_(std::max(maxHeight, 1L)),
      sink_(std::move(sink)) {
    page_.width = width_;
}

void PageModel::Grow(long rows) {
    rows = std::min(rows, maxHeight_);
    if (rows <= rows_) return;
    page_.pixels.resize(static_cast<size_t>(rows) * static_cast<size_t>(width_), kPaper);
    rows_ = rows;
}

void PageModel::Fill(long x0, long y0, long x1, long y1, Ink ink) {
    x0 = std::max(x0, 0L), y0 = std::max(y0, 0L);
    x1 = std::min(x1, static_cast<long>(width_)), y1 = std::min(y1, maxHeight_);
    if (x0 >= x1 || y0 >= y1) return;
    Grow(y1);
    touched_ = true;
    for (long y = y0; y < y1; ++y) std::fill_n(page_.pixels.begin() + y * width_ + x0, x1 - x0, static_cast<uint8_t>(ink));
}

void PageModel::Feed(long y) {
    if (y <= 0) return;
    fed_ = std::max(fed_, std::min(y, maxHeight_));
    touched_ = true;
}

bool PageModel::NewPage() {
    Grow(std::max({fed_, minHeight_, 1L}));
    page_.height = static_cast<int>(rows_);
    bool kept = sink_(page_);
    ++pages_;
    page_.pixels.clear();
    rows_ = fed_ = 0;
    touched_ = false;
    return kept;
}

bool PageModel::Finish() { return touched_ || pages_ == 0 ? NewPage() : true; }

}  // namespace pressel_preview
