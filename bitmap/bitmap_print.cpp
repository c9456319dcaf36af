// Printing a bitmap file inside a job: the file converted to print-head data
// (bitmap/PrintableBitmap) and sent pass by pass in the printer's graphics
// mode, straight to the port and around the line buffer.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "bitmap/PrintableBitmap.h"
#include "control/Pressel.h"

namespace {

// LONG is 32 bits wide; the C library's LONG_MAX is long's limit, not its.
constexpr int64_t kLongMax = std::numeric_limits<LONG>::max();

constexpr const WCHAR* kNoError = u"CPressel::No error..";
constexpr const WCHAR* kNoValidFilename = u"CPressel::No valid filename..";
constexpr const WCHAR* kNoGraphicsInfo = u"CPressel::No graphics info in registry..";
constexpr const WCHAR* kNoBitmapArray = u"CPressel::Failed to get printable bitmap array..";

constexpr HRESULT kErrNoValidFilename = static_cast<HRESULT>(0x80040D05);
constexpr HRESULT kErrNoGraphicsInfo = static_cast<HRESULT>(0x80040D07);
constexpr HRESULT kErrNoBitmapArray = static_cast<HRESULT>(0x80040D08);

// Shorter names cannot name a bitmap file ("a.bmp" is the shortest).
constexpr UINT kMinFilenameChars = 5;

// The letter n in the graphics-mode enter sequence stands for the number of
// passes.
constexpr WCHAR kPassCountPlaceholder = 110;

// Characters up to the first NUL, never past the string's own length.
UINT FilenameChars(BSTR bs) {
    UINT len = SysStringLen(bs);
    UINT n = 0;
    while (n < len && bs[n] != 0) ++n;
    return n;
}

// Passes line up with the array only for a head of 1 pin (raster rows) or
// of whole bands of 8 pins, and with dot lines of whole bytes. Anything else
// would print shifted garbage, so such a profile counts as having no usable
// graphics geometry.
bool GeometryUsable(LONG pins, LONG xDots, LONG charHeight, LONG charWidth) {
    if (pins <= 0 || xDots <= 0 || charHeight <= 0 || charWidth <= 0) return false;
    return (pins == 1 || pins % 8 == 0) && xDots % 8 == 0;
}

// The codes actually sent: one placeholder becomes the pass count, two
// become its high and low byte; none or three or more are left as they are.
void FillPassCount(EscSeq* seq, LONG passes) {
    int found = 0, first = -1, second = -1;
    for (int i = 0; i < seq->count; ++i) {
        if (seq->codes[i] != kPassCountPlaceholder) continue;
        if (found == 0) first = i;
        if (found == 1) second = i;
        ++found;
    }
    if (found == 1) {
        seq->codes[first] = static_cast<WCHAR>(passes);
    } else if (found == 2) {
        seq->codes[first] = static_cast<WCHAR>(passes / 256);
        seq->codes[second] = static_cast<WCHAR>(passes % 256);
    }
}

// A stored sequence's count, kept inside its code block whatever the field
// holds.
LONG CodeCount(const EscSeq& seq) { return std::clamp<LONG>(seq.count, 0, EscSeq::kMaxCodes); }

// A stored sequence straight to the port as values; an empty one sends
// nothing at all.
void SendCodes(CPressel* p, const EscSeq& seq) {
    LONG count = CodeCount(seq);
    if (count != 0) p->SendDirect(seq.codes, count * 2, 1);
}

}  // namespace

void CPressel::SendGraphics(const BYTE* pArray, LONG cbPerPass, LONG cPasses) {
    if (!m_bPrinting) return;
    // The pass count goes into a copy: the stored sequence keeps its
    // placeholders for the next bitmap, even for a bitmap printed from an
    // event handler while this one is being sent.
    EscSeq enter = m_seqGraphModeInit;
    enter.count = static_cast<SHORT>(CodeCount(enter));
    FillPassCount(&enter, cPasses);
    SendCodes(this, enter);

    // Anything that ends the job during a send (port failure, Cancel from a
    // handler inside the port writer) stops before the next one.
    for (LONG i = 0; i < cPasses; ++i) {
        if (!m_bPrinting) return;
        SendCodes(this, m_seqGraphPrefix);
        if (!m_bPrinting) return;
        SendDirect(pArray + static_cast<size_t>(i) * static_cast<size_t>(cbPerPass), cbPerPass, 0);
        if (!m_bPrinting) return;
        SendCodes(this, m_seqGraphPostfix);
        if (!m_bPrinting) return;
    }
    SendCodes(this, m_seqGraphModeExit);
}

HRESULT CPressel::Bitmap(LONG _dwStartCol, LONG _dwHeight, LONG _dwWidth, BSTR _bsFilename) {
    if (!m_bPrinting || _bsFilename == nullptr) return SetError(0, kNoError, 0);
    if (FilenameChars(_bsFilename) < kMinFilenameChars)
        return SetError(kErrNoValidFilename, kNoValidFilename, DISPID_Bitmap);
    const LONG pins = m_lGraphNumPins, xDots = m_lGraphXDots;
    if (!GeometryUsable(pins, xDots, m_lGraphCharHeight, m_lGraphCharWidth))
        return SetError(kErrNoGraphicsInfo, kNoGraphicsInfo, DISPID_Bitmap);

    // Sizes in dots, computed wide so that no product overflows: an image
    // that is empty or too large for the conversion has no array.
    const int64_t heightDots = int64_t{_dwHeight} * m_lGraphCharHeight;
    const int64_t widthDots = int64_t{_dwWidth} * m_lGraphCharWidth;
    if (heightDots <= 0 || widthDots <= 0 || heightDots > kLongMax || widthDots > kLongMax)
        return SetError(kErrNoBitmapArray, kNoBitmapArray, DISPID_Bitmap);
    const LONG startCol = std::max<LONG>(_dwStartCol, 1);
    // An image starting past the line prints as blank passes; the offset is
    // held at the line's end so that it cannot overflow.
    const LONG offsetDots = static_cast<LONG>(std::min<int64_t>(int64_t{startCol - 1} * m_lGraphCharWidth, xDots));

    LONG cbArray = -1;
    BYTE* pArray = GetPrintableBitmap(static_cast<LONG>(heightDots), static_cast<LONG>(widthDots), xDots,
                                      _bsFilename, pins == 1 ? kLayoutRasterRows : 1, 0, offsetDots, &cbArray);
    if (pArray == nullptr) return SetError(kErrNoBitmapArray, kNoBitmapArray, DISPID_Bitmap);

    // Whole passes only: dot rows past the last full pass are not sent.
    const int64_t cbPerPass = int64_t{pins} * xDots / 8;
    int64_t passes = heightDots / pins;
    // The usable geometry keeps every pass inside the array; held to it
    // regardless, so that no pass can read past its end.
    passes = std::min<int64_t>(passes, cbArray / cbPerPass);
    SendGraphics(pArray, static_cast<LONG>(std::min<int64_t>(cbPerPass, kLongMax)), static_cast<LONG>(passes));
    FreePrintableBitmap(pArray);

    // The lines are counted although no page logic runs for them.
    m_lLineNo = static_cast<LONG>(static_cast<ULONG>(m_lLineNo) + static_cast<ULONG>(_dwHeight));
    return SetError(0, kNoError, 0);
}
