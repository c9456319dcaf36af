// Draws a split stream on the paper: text in the font state the sequences
// set, graphics passes dot for dot, line ends, form feeds (a new page, or a
// cut line on a roll), markers for what the profile does not explain, and a
// red line where a cut-off stream stops. The pen moves in printer dots;
// the page model is in pixels.
#include <algorithm>

#include "preview/Markers.h"
#include "preview/Preview.h"
#include "win/base.h"

namespace pressel_preview {
namespace {

bool IsC1(char32_t c) { return c >= 0x80 && c <= 0x9F; }
bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

class Renderer {
public:
    Renderer(const Layout& l, std::string_view bytes, bool unicode, GlyphSet& glyphs, const PageSink& sink,
             Preview* out)
        : l_(l),
          bytes_(bytes),
          unicode_(unicode),
          glyphs_(glyphs),
          out_(out),
          page_(static_cast<int>(l.across.Px(l.lineDots)), l.roll ? 0 : l.down.Px(static_cast<long>(l.pageLines) * l.cellHeight),
                l.maxHeight, sink) {}

    bool Run(const SplitStream& split) {
        for (const Token& t : split.tokens) {
            if (!kept_) break;
            switch (t.kind) {
            case Token::Kind::Sequence: Sequence(t); break;
            case Token::Kind::Text: Text(t); break;
            case Token::Kind::Unexplained: Marker(t.value, unicode_ ? 4 : 2, t.offset); break;
            case Token::Kind::Pass: Pass(t); break;
            }
        }
        if (kept_ && split.stop) StopLine();
        if (kept_) kept_ = page_.Finish();
        out_->pages = page_.Pages();
        return kept_;
    }

private:
    long Line() const { return l_.down.Px(l_.cellHeight); }

    void Sequence(const Token& t) {
        switch (t.seq) {
        case Seq::Init: type_ = 0, bold_ = italic_ = underline_ = strike_ = false; break;
        case Seq::NormalFont: type_ = 0; break;
        case Seq::DoubleWideFont: type_ = 1; break;
        case Seq::CompressFont: type_ = 2; break;
        case Seq::BoldOn: bold_ = true; break;
        case Seq::BoldOff: bold_ = false; break;
        case Seq::ItalicOn: italic_ = true; break;
        case Seq::ItalicOff: italic_ = false; break;
        case Seq::UnderlineOn: underline_ = true; break;
        case Seq::UnderlineOff: underline_ = false; break;
        case Seq::StrikeOutOn: strike_ = true; break;
        case Seq::StrikeOutOff: strike_ = false; break;
        case Seq::CrLf: NextLine(); break;
        case Seq::FormFeed: FormFeed(); break;
        case Seq::GraphModeInit:
        case Seq::GraphModeExit: x_ = 0; break;
        default: break;  // start-up, shut-down and status-protocol sequences print nothing
        }
    }

    void Text(const Token& t) {
        std::string_view text = bytes_.substr(t.offset, t.length);
        std::u16string units;
        if (unicode_) {
            for (size_t i = 0; i + 1 < text.size(); i += 2)
                units.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i]) |
                                                      static_cast<unsigned char>(text[i + 1]) << 8));
        } else {
            units.resize(text.size());
            int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), units.data(),
                                        static_cast<int>(units.size()));
            units.resize(n > 0 ? static_cast<size_t>(n) : 0);
        }
        // Where each unit came from, exact whenever units and bytes pair up.
        size_t perUnit = unicode_ ? 2 : units.size() == text.size() ? 1 : 0;
        for (size_t i = 0; i < units.size(); ++i) {
            char32_t c = units[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
                c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
            if (IsC1(c) || IsSurrogate(c)) Marker(c, c > 0xFF ? 4 : 2, t.offset + perUnit * i);
            else Char(c);
        }
    }

    void Char(char32_t c) {
        long w = CharWidth(l_, type_);
        Place(w);
        long left = l_.across.Px(x_), top = l_.down.Px(y_);
        int boxW = static_cast<int>(l_.across.Px(w)), boxH = static_cast<int>(Line());
        auto style = static_cast<GlyphStyle>((bold_ ? kBold : 0) | (italic_ ? kItalic : 0));
        const Glyph& g = glyphs_.Get(c, style, boxW, boxH);
        for (int gy = 0; gy < g.rows; ++gy)
            for (int gx = 0; gx < g.width; ++gx)
                if (g.ink[static_cast<size_t>(gy * g.width + gx)])
                    page_.Fill(left + g.left + gx, top + g.top + gy, left + g.left + gx + 1, top + g.top + gy + 1, kDot);
        if (underline_ || strike_) {
            BoxMetrics m = glyphs_.Metrics(style, boxW, boxH);
            long right = l_.across.Px(x_ + w), t = std::max(1, boxH / 16);
            if (underline_) {
                long y = std::min<long>(top + m.baseline + t, top + boxH - t);
                page_.Fill(left, y, right, y + t, kDot);
            }
            if (strike_) {
                long y = top + m.baseline - m.xHeight / 2 - t / 2;
                page_.Fill(left, y, right, y + t, kDot);
            }
        }
        x_ += w;
    }

    void Marker(uint32_t value, int digits, size_t offset) {
        if (out_->unexplained++ == 0) out_->firstUnexplained = offset;
        long boxW = std::max<long>(l_.across.Px(l_.cellWidth), MarkerMinWidth(digits));
        long w = l_.across.Dots(boxW);
        Place(w);
        long left = l_.across.Px(x_);
        DrawMarker(page_, left, l_.down.Px(y_), l_.across.Px(x_ + w) - left, Line(), value, digits);
        x_ += w;
    }

    // One pass of the print head: raster rows (bit 7 the leftmost dot) or
    // bands of 8 rows (a byte a column, bit 7 the top dot), band after band.
    void Pass(const Token& t) {
        const int rows = l_.passRows;
        x_ = 0;
        Room(rows);
        std::string_view data = bytes_.substr(t.offset, t.length);
        for (size_t k = 0; k < data.size(); ++k) {
            auto byte = static_cast<unsigned char>(data[k]);
            for (int bit = 0; bit < 8; ++bit) {
                if (!(byte & (0x80 >> bit))) continue;
                if (rows == 1) Dot(static_cast<long>(8 * k) + bit, y_);
                else Dot(static_cast<long>(k % static_cast<size_t>(l_.lineDots)),
                         y_ + 8 * static_cast<long>(k / static_cast<size_t>(l_.lineDots)) + bit);
            }
        }
        y_ += rows;
        page_.Feed(l_.down.Px(y_));
    }

    void Dot(long x, long y) { page_.Fill(l_.across.Px(x), l_.down.Px(y), l_.across.Px(x + 1), l_.down.Px(y + 1), kDot); }

    // Room for w more dots on the line (the printer wraps a full line) and
    // for the line on the picture.
    void Place(long w) {
        if (x_ > 0 && x_ + w > l_.lineDots) NextLine();
        Room(l_.cellHeight);
    }

    // A picture as tall as allowed goes on in the next one.
    void Room(long rows) {
        if (y_ > 0 && l_.down.Px(y_ + rows) > page_.MaxHeight()) NewPicture();
    }

    void NextLine() {
        x_ = 0;
        y_ += l_.cellHeight;
        page_.Feed(l_.down.Px(y_));
        Room(0);
    }

    void FormFeed() {
        if (!l_.roll) {
            NewPicture();
            return;
        }
        // A line waiting on the roll is printed before the cut.
        if (x_ > 0) NextLine();
        Room(l_.cellHeight);
        long y = l_.down.Px(y_) + Line() / 2, width = page_.Width();
        for (long x = 0; x < width; x += 10) page_.Fill(x, y, std::min(x + 6, width), y + 1, kNote);
        y_ += l_.cellHeight;
        page_.Feed(l_.down.Px(y_));
    }

    void StopLine() {
        if (x_ > 0) NextLine();
        long y = l_.down.Px(y_);
        page_.Fill(0, y, page_.Width(), y + 2, kMarker);
    }

    void NewPicture() {
        kept_ = page_.NewPage();
        x_ = y_ = 0;
    }

    const Layout& l_;
    std::string_view bytes_;
    bool unicode_;
    GlyphSet& glyphs_;
    Preview* out_;
    PageModel page_;
    bool kept_ = true;
    long x_ = 0, y_ = 0;  // the pen, in dots from the page's top left corner
    int type_ = 0;
    bool bold_ = false, italic_ = false, underline_ = false, strike_ = false;
};

}  // namespace

bool RenderPreview(const PrinterSettings& settings, const DotDensity& density, std::string_view stream, GlyphSet& glyphs,
                   const PageSink& sink, Preview* preview, std::string* error) {
    *preview = Preview{};
    if (!MakeLayout(settings, density, &preview->layout, error)) return false;
    StreamGrammar grammar = MakeGrammar(settings);
    SplitStream split = Split(grammar, stream);
    preview->stop = split.stop;
    Renderer renderer(preview->layout, stream, grammar.unicode, glyphs, sink, preview);
    error->clear();
    return renderer.Run(split);
}

}  // namespace pressel_preview
