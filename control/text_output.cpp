// Text output: the line buffer, its flush to the port, and the direct
// senders that bypass it (character runs, sequences and raw bytes).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "control/Pressel.h"
#include "win/base.h"

namespace {

constexpr const WCHAR* kNoError = u"CPressel::No error..";

// Content bytes that fit before the two terminating zero bytes.
constexpr LONG kLineCapacity = CLineBuf::kLineBufSize - 2;
// Bytes of the buffer sent per port write, and the conversion target that
// holds the ANSI text of one such chunk.
constexpr LONG kFlushChunk = 128;
constexpr int kConvertTarget = 130;
// Units of one character run, and the block values are narrowed in.
constexpr LONG kRunUnits = 128;
constexpr LONG kNarrowBlock = 256;
// Largest piece of a text handed to AppendToLine at once.
constexpr size_t kAppendPiece = 0x40000000;

// Where the first zero among eight units is: 8 when there is none.
PRESSEL_HOT size_t FirstZeroOfEight(const WCHAR* units) {
    using Units = uint16_t __attribute__((vector_size(16)));
    Units v;
    std::memcpy(&v, units, sizeof v);
    const auto zeros = v == 0;
    uint64_t halves[2];
    std::memcpy(halves, &zeros, sizeof halves);
    if (halves[0]) return static_cast<size_t>(__builtin_ctzll(halves[0])) / 16;
    if (halves[1]) return 4 + static_cast<size_t>(__builtin_ctzll(halves[1])) / 16;
    return 8;
}

// The units before the first NUL among text[0, n), eight units at a time:
// every line of a job is measured here. The last eight may overlap units
// already seen, which hold no zero.
PRESSEL_HOT size_t UnitsBeforeNul(const WCHAR* text, size_t n) {
    if (n < 8) {
        size_t i = 0;
        while (i < n && text[i]) ++i;
        return i;
    }
    for (size_t i = 0; i + 8 < n; i += 8)
        if (size_t k = FirstZeroOfEight(text + i); k < 8) return i + k;
    return n - 8 + FirstZeroOfEight(text + n - 8);
}

// A line's bytes are copied here rather than by the C library's memcpy: the
// copies are short, and the call would bring a page of the library's code and
// one of its data into every line, between two writes that empty the TLB.
// The last block of each size overlaps the one before rather than going on
// byte by byte, as memcpy does.
PRESSEL_HOT void CopyBytes(BYTE* to, const BYTE* from, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(to + i, from + i, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

}  // namespace

PRESSEL_HOT void CPressel::AppendToLine(const void* pData, LONG cbData) {
    const BYTE* pb = static_cast<const BYTE*>(pData);
    const LONG cbHeld = std::max<LONG>(m_lineBuf.m_lLineBufLen, 0);
    if (cbData > 0 && pb && cbData <= kLineCapacity - cbHeld) {
        // What fits goes in at once, as nearly everything does.
        CopyBytes(m_lineBuf.m_abLineBuf + cbHeld, pb, static_cast<size_t>(cbData));
        m_lineBuf.m_lLineBufLen = cbHeld + cbData;
        m_lineBuf.m_abLineBuf[cbHeld + cbData] = 0;
        m_lineBuf.m_abLineBuf[cbHeld + cbData + 1] = 0;
        return;
    }
    while (cbData > 0 && pb) {
        if (m_lineBuf.m_lLineBufLen < 0) m_lineBuf.m_lLineBufLen = 0;
        LONG cbFree = kLineCapacity - m_lineBuf.m_lLineBufLen;
        if (cbFree <= 0) {
            // A full buffer goes out as it is and the line continues in the
            // emptied one. The capacity is even, so the units stay paired.
            // While the footer is being counted nothing may reach the port.
            if (m_bMeasuringFooter || !m_bPrinting) {
                m_lineBuf.m_lLineBufLen = -1;
                if (!m_bPrinting) break;  // nothing can be sent any more
            } else {
                FlushLine();
            }
            continue;
        }
        LONG cb = std::min(cbData, cbFree);
        CopyBytes(m_lineBuf.m_abLineBuf + m_lineBuf.m_lLineBufLen, pb, static_cast<size_t>(cb));
        m_lineBuf.m_lLineBufLen += cb;
        pb += cb;
        cbData -= cb;
    }
    if (m_lineBuf.m_lLineBufLen > 0) {
        m_lineBuf.m_abLineBuf[m_lineBuf.m_lLineBufLen] = 0;
        m_lineBuf.m_abLineBuf[m_lineBuf.m_lLineBufLen + 1] = 0;
    }
}

PRESSEL_HOT void CPressel::SendSeq(const EscSeq& seq) {
    if (!m_bPrinting || seq.count <= 0) return;
    LONG count = std::min<LONG>(seq.count, EscSeq::kMaxCodes);
    AppendToLine(seq.codes, count * 2);
}

PRESSEL_HOT void CPressel::FlushLine() {
    // The flush works on its own copy of the line and leaves the buffer
    // empty while it sends: the abort procedure may run window handlers that
    // write or end lines, and those must neither change the chunks still to
    // go nor be thrown away with them.
    BYTE abLine[CLineBuf::kLineBufSize];
    LONG n = std::max<LONG>(m_lineBuf.m_lLineBufLen, 0);
    CopyBytes(abLine, m_lineBuf.m_abLineBuf, static_cast<size_t>(n));
    m_lineBuf.m_lLineBufLen = -1;

    const BYTE* p = abLine;
    while (n > 0) {
        if (!m_bPrinting) break;
        // Without an abort procedure there is nobody to ask: go on.
        if (m_pfnAbortProc) m_bPrinting = m_pfnAbortProc(m_hPort, 0);
        if (!m_bPrinting) break;
        LONG c = std::min(n, kFlushChunk);
        const void* pOut = p;
        DWORD cbOut = static_cast<DWORD>(c);
        char achAnsi[kConvertTarget];
        if (!m_bUnicode) {
            // Whole units only: an odd last byte is not sent.
            int cch = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const WCHAR*>(p), c / 2, achAnsi,
                                          kConvertTarget, nullptr, nullptr);
            pOut = achAnsi;
            cbOut = cch > 0 ? static_cast<DWORD>(cch) : 0;
        }
        p += c;
        if (!WritePort(m_hPort, pOut, cbOut)) {
            m_bPrinting = 0;
            static_cast<IPressel*>(this)->InvokeEventMessage(1, 2);
            break;
        }
        n -= kFlushChunk;
    }

    // Whatever handlers wrote meanwhile belongs after the font state that
    // starts the next line.
    LONG cbLater = std::max<LONG>(m_lineBuf.m_lLineBufLen, 0);
    CopyBytes(abLine, m_lineBuf.m_abLineBuf, static_cast<size_t>(cbLater));
    m_lineBuf.m_lLineBufLen = -1;
    static_cast<IPressel*>(this)->FontSelect(m_lFontType, m_lFontStyle, m_lFontEffect);
    if (cbLater > 0) AppendToLine(abLine, cbLater);
}

void CPressel::SendCharRun(WCHAR wUnit, LONG lCount) {
    if (lCount <= 0) return;
    WCHAR awRun[kRunUnits];
    std::fill(std::begin(awRun), std::end(awRun), wUnit);
    for (LONG i = 0; i < lCount; i += kRunUnits) {
        LONG k = std::min(kRunUnits, lCount - i);
        SendDirect(awRun, k * 2, 1);
    }
}

void CPressel::SendDirect(const void* pData, LONG cbData, BOOL bAsValues) {
    if (!m_bPrinting || !pData) return;
    if (cbData < 0) cbData = 0;
    BOOL bOk;
    if (bAsValues && !m_bUnicode) {
        // Low byte of each value. Callers pass at most 128 values; more go
        // out block by block rather than past the end of the block.
        const BYTE* pValues = static_cast<const BYTE*>(pData);
        LONG cValues = cbData / 2;
        BYTE abNarrow[kNarrowBlock];
        LONG done = 0;
        do {
            LONG k = std::min(cValues - done, kNarrowBlock);
            for (LONG i = 0; i < k; ++i) abNarrow[i] = pValues[(done + i) * 2];
            bOk = WritePort(m_hPort, abNarrow, static_cast<DWORD>(k));
            done += k;
        } while (bOk && done < cValues);
    } else {
        bOk = WritePort(m_hPort, pData, static_cast<DWORD>(cbData));
    }
    if (!bOk) {
        m_bPrinting = 0;
        static_cast<IPressel*>(this)->InvokeEventMessage(1, 2);
    }
}

PRESSEL_HOT HRESULT CPressel::Write(BSTR bBuffer) {
    if (!m_bPrinting) return SetError(0, kNoError, 0);
    // The text up to its first NUL is appended. It is measured in place
    // rather than through a transient copy, so that a line costs no allocation.
    size_t cb = bBuffer ? UnitsBeforeNul(bBuffer, SysStringLen(bBuffer)) * 2 : 0;
    // In pieces a 32-bit count can carry, so that no length wraps.
    const BYTE* pb = reinterpret_cast<const BYTE*>(bBuffer);
    for (size_t done = 0; done < cb; done += kAppendPiece)
        AppendToLine(pb + done, static_cast<LONG>(std::min(cb - done, kAppendPiece)));
    return SetError(0, kNoError, 0);
}

PRESSEL_HOT HRESULT CPressel::WriteBytes(BSTR bBuffer, LONG lBytes) {
    if (m_bPrinting) {
        // Never read past the string, whatever count the caller claims.
        LONG cbString = bBuffer ? static_cast<LONG>(std::min<UINT>(SysStringByteLen(bBuffer), 0x7FFFFFFF)) : 0;
        AppendToLine(bBuffer, std::min(lBytes, cbString));
    }
    return SetError(0, kNoError, 0);
}
