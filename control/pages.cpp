// Lines and pages: line ends, form feeds, headers and footers raised through
// HeaderEvent, orphan control and the footer count taken at job start.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "control/Pressel.h"

namespace {

constexpr const WCHAR* kNoError = u"CPressel::No error..";

// Line numbers wrap like the 32-bit counters they are (a bitmap may add
// any height), never overflow.
LONG AddLines(LONG lLineNo, LONG lAdd) {
    return static_cast<LONG>(static_cast<DWORD>(lLineNo) + static_cast<DWORD>(lAdd));
}

struct FontState {
    LONG lType, lStyle, lEffect;
};

FontState SaveFont(const CPressel& p) { return {p.m_lFontType, p.m_lFontStyle, p.m_lFontEffect}; }

void RestoreFont(CPressel& p, const FontState& f) {
    p.m_lFontType = f.lType;
    p.m_lFontStyle = f.lStyle;
    p.m_lFontEffect = f.lEffect;
}

// The line being assembled, put aside while a handler writes its own lines.
LONG SetLineAside(CPressel& p) {
    LONG cb = std::max<LONG>(p.m_lineBuf.m_lLineBufLen, 0);
    return p.m_lineStash.Push(p.m_lineBuf.m_abLineBuf, cb);
}

void PutLineBack(CPressel& p, LONG mark) {
    p.m_lineBuf.m_lLineBufLen = -1;
    LONG cb = p.m_lineStash.Pop(mark, p.m_lineBuf.m_abLineBuf);
    if (cb > 0) {
        p.m_lineBuf.m_lLineBufLen = cb;
        p.m_lineBuf.m_abLineBuf[cb] = 0;
        p.m_lineBuf.m_abLineBuf[cb + 1] = 0;
    }
}

// The line just ended does not fit into the body: footer, form feed, and
// the line is carried over to the next page.
void EndPage(CPressel& p) {
    IPressel* self = &p;
    p.m_bInFooter = 1;
    LONG mark = SetLineAside(p);
    FontState font = SaveFont(p);
    p.m_lineBuf.m_lLineBufLen = -1;
    self->FontSelect(0, 0, 0);
    self->InvokeHeaderMsg(1, 0);
    // Text the handler wrote after its last line end is dropped; whatever
    // it switched on is switched off again in front of the form feed.
    p.m_lineBuf.m_lLineBufLen = -1;
    self->FontSelect(font.lType, font.lStyle, font.lEffect);
    self->ActualFormFeed();
    PutLineBack(p, mark);
    RestoreFont(p, font);
    p.m_bInFooter = 0;
}

// First line of a page: the header comes before it.
void StartPage(CPressel& p) {
    IPressel* self = &p;
    p.m_lLineNo = 1;
    // A page that ends inside the header goes on with the rest of that
    // header; asking for another one would recurse without end.
    if (p.m_bInHeader) return;
    LONG mark = SetLineAside(p);
    FontState font = SaveFont(p);
    if (p.m_lPrintableLines != 0 || p.m_lPageNo == 1) {
        p.m_lineBuf.m_lLineBufLen = -1;
        self->FontSelect(0, 0, 0);
        p.m_bInHeader = 1;
        self->InvokeHeaderMsg(0, 0);
        p.m_bInHeader = 0;
    }
    // The body font comes back without a sequence: the carried line already
    // starts with the font state its flush placed.
    PutLineBack(p, mark);
    RestoreFont(p, font);
}

// Body lines from the current one to the last of the body; none when the
// body is already full or has no lines (a footer as long as the page).
int64_t FreeBodyLines(const CPressel& p) {
    if (p.m_lLineNo < 0) return 0;
    int64_t n = int64_t{p.m_lPrintableLines} - p.m_lFooterLines - p.m_lLineNo + 1;
    return std::clamp<int64_t>(n, 0, std::max<LONG>(p.m_lPrintableLines, 0));
}

}  // namespace

CPressel::CLineStash::~CLineStash() { delete[] m_pb; }

LONG CPressel::CLineStash::Push(const BYTE* pb, LONG cb) {
    // Each entry is its length followed by its bytes.
    LONG need = m_cb + static_cast<LONG>(sizeof(LONG)) + cb;
    if (need > m_cbCapacity) {
        LONG capacity = std::max<LONG>(need, std::max<LONG>(2 * m_cbCapacity, 2 * CLineBuf::kLineBufSize));
        BYTE* pbNew = new (std::nothrow) BYTE[static_cast<size_t>(capacity)];
        if (!pbNew) return -1;
        if (m_cb > 0) std::memcpy(pbNew, m_pb, static_cast<size_t>(m_cb));
        delete[] m_pb;
        m_pb = pbNew;
        m_cbCapacity = capacity;
    }
    LONG mark = m_cb;
    std::memcpy(m_pb + mark, &cb, sizeof cb);
    if (cb > 0) std::memcpy(m_pb + mark + sizeof cb, pb, static_cast<size_t>(cb));
    m_cb = need;
    return mark;
}

LONG CPressel::CLineStash::Pop(LONG mark, BYTE* pbOut) {
    if (mark < 0 || mark >= m_cb) return 0;
    LONG cb = 0;
    std::memcpy(&cb, m_pb + mark, sizeof cb);
    if (cb > 0) std::memcpy(pbOut, m_pb + mark + sizeof cb, static_cast<size_t>(cb));
    m_cb = mark;
    return cb;
}

PRESSEL_HOT BOOL CPressel::BodyHasRoom() const {
    if (m_lPrintableLines == 0) return 1;
    return static_cast<DWORD>(m_lLineNo) <= static_cast<DWORD>(m_lPrintableLines) - static_cast<DWORD>(m_lFooterLines);
}

PRESSEL_HOT HRESULT CPressel::NewLine() {
    if (m_bPrinting) {
        if (m_bMeasuringFooter) {
            // Counting the footer: the line is dropped, nothing is sent.
            m_lLineNo = AddLines(m_lLineNo, 1);
            m_lineBuf.m_lLineBufLen = -1;
            static_cast<IPressel*>(this)->FontSelect(m_lFontType, m_lFontStyle, m_lFontEffect);
        } else {
            SendSeq(m_seqCrLf);
            if (!m_bInFooter && !BodyHasRoom()) EndPage(*this);
            if (m_lLineNo == 0) StartPage(*this);
            m_lLineNo = AddLines(m_lLineNo, 1);
            FlushLine();
        }
    }
    return SetError(0, kNoError, 0);
}

HRESULT CPressel::FormFeed() {
    // Nothing may reach the port while the footer is being counted.
    if (!m_bPrinting || m_lLineNo == 0 || m_bMeasuringFooter) return SetError(0, kNoError, 0);
    IPressel* self = this;
    if (m_lPrintableLines != 0) {
        for (int64_t n = FreeBodyLines(*this); n > 0; --n) self->NewLine();
    }
    FontState font = SaveFont(*this);
    m_lineBuf.m_lLineBufLen = -1;
    self->FontSelect(0, 0, 0);
    // A form feed asked for by a footer handler does not ask for the footer
    // again, which would never end.
    if (!m_bInFooter) {
        m_bInFooter = 1;
        self->InvokeHeaderMsg(1, 0);
        m_bInFooter = 0;
    }
    m_lineBuf.m_lLineBufLen = -1;
    self->FontSelect(font.lType, font.lStyle, font.lEffect);
    self->ActualFormFeed();
    return SetError(0, kNoError, 0);
}

HRESULT CPressel::ActualFormFeed() {
    if (m_bPrinting && !m_bMeasuringFooter) {
        m_lPageNo = AddLines(m_lPageNo, 1);
        m_lLineNo = 0;
        SendSeq(m_seqFormFeed);
        FlushLine();
    }
    return SetError(0, kNoError, 0);
}

HRESULT CPressel::NoOrphan(LONG _dwLines, LONG _OrphanMode) {
    if (!m_bPrinting || m_lPrintableLines == 0) return SetError(0, kNoError, 0);
    IPressel* self = this;
    const DWORD dwBody = static_cast<DWORD>(m_lPrintableLines) - static_cast<DWORD>(m_lFooterLines);
    if (static_cast<DWORD>(m_lLineNo) + static_cast<DWORD>(_dwLines) - 1 > dwBody) self->FormFeed();
    if (_OrphanMode == 1) {
        // Pad so that the block ends on the last body line. A block longer
        // than the body, or a body with no lines, pads nothing; a block of
        // no lines pads to the end of the body and no further.
        int64_t body = int64_t{m_lPrintableLines} - m_lFooterLines;
        int64_t limit = std::min<int64_t>(body - _dwLines + 1, body + 1);
        if (limit >= 1 && m_lLineNo >= 0) {
            // At most as many lines as were missing at the start, whatever
            // the handlers of those lines do to the count.
            for (int64_t left = limit - m_lLineNo; left > 0 && m_lLineNo >= 0 && m_lLineNo < limit; --left)
                self->NewLine();
        }
    }
    return SetError(0, kNoError, 0);
}

void CPressel::MeasureFooter() {
    m_lFooterLines = 0;
    if (m_lPrintableLines == 0) return;
    m_bMeasuringFooter = 1;
    m_lineBuf.m_lLineBufLen = -1;
    static_cast<IPressel*>(this)->FontSelect(0, 0, 0);
    LONG lRemembered = m_lLineNo;
    static_cast<IPressel*>(this)->InvokeHeaderMsg(1, 0);
    // A count can only grow; anything else a handler did is not a footer.
    m_lFooterLines = std::max<LONG>(AddLines(m_lLineNo, -lRemembered), 0);
    m_lLineNo = lRemembered;
    m_bMeasuringFooter = 0;
}
