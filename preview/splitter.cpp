// The stream splitter. Text state: at every position the longest sequence
// that matches wins (ties go to the earlier in the grammar); bytes that no
// sequence explains are text, or unexplained when they are control codes.
// GraphModeInitSeq or GraphPrefixSeq enter the graphics state, where passes
// of the profile's size follow, each framed by prefix and postfix, until
// the announced count is reached or, without one, until something else
// comes. Start-up characters count only at the start of the stream and
// shut-down characters only at its end, so that a profile whose start-up
// character is a printable one does not swallow text.
#include "preview/StreamSplitter.h"

#include <algorithm>
#include <array>

namespace pressel_preview {
namespace {

bool IsStatusSeq(Seq seq) { return seq == Seq::ReadWriteStart || seq == Seq::StatusRequest || seq == Seq::EndOfJob; }

// True when text is shorter than the elements and begins them.
bool BeginsPattern(const std::vector<Element>& elements, std::string_view text) {
    if (text.empty() || text.size() >= elements.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (elements[i] >= 0 && elements[i] != static_cast<unsigned char>(text[i])) return false;
    return true;
}

class Splitter {
public:
    Splitter(const StreamGrammar& g, std::string_view bytes) : g_(g), bytes_(bytes) {
        for (size_t i = 0; i < g_.patterns.size(); ++i) {
            const Pattern& p = g_.patterns[i];
            if (p.elements[0] >= 0) byFirst_[static_cast<size_t>(p.elements[0])].push_back(&p);
            else anyFirst_.push_back(&p);
            longest_ = std::max(longest_, p.elements.size());
        }
        prefix_ = g_.Find(Seq::GraphPrefix);
        postfix_ = g_.Find(Seq::GraphPostfix);
        exit_ = g_.Find(Seq::GraphModeExit);
    }

    SplitStream Run() {
        for (int k = 0; k < g_.startupCount && Matches(g_.startupChar); ++k) EmitSequence(Seq::StartupChar, g_.startupChar.size());
        FindShutdownRun();
        while (pos_ < bytes_.size() && !out_.stop) {
            if (pos_ == shutdownStart_) {
                while (pos_ < shutdownEnd_) EmitSequence(Seq::ShutdownChar, g_.shutdownChar.size());
                continue;
            }
            if (const Pattern* p = Longest()) {
                TakeSequence(*p);
            } else if (pos_ + longest_ > bytes_.size() && CutInsideSequence()) {
                break;
            } else {
                TakeUnit();
            }
        }
        return std::move(out_);
    }

private:
    std::string_view Rest() const { return bytes_.substr(pos_); }
    bool Matches(const std::vector<Element>& e) const { return !e.empty() && MatchAt(e, Rest()); }

    // The longest sequence at the position, outside graphics passes.
    const Pattern* Longest() const {
        const Pattern* best = nullptr;
        auto consider = [&](const std::vector<const Pattern*>& list) {
            for (const Pattern* p : list) {
                if (p->seq == Seq::GraphPostfix || !MatchAt(p->elements, Rest())) continue;
                if (!best || p->elements.size() > best->elements.size() ||
                    (p->elements.size() == best->elements.size() && p < best))
                    best = p;
            }
        };
        consider(byFirst_[static_cast<unsigned char>(bytes_[pos_])]);
        consider(anyFirst_);
        return best;
    }

    // The rest of the stream begins one or more sequences: it was cut there.
    // The profile's own are named first; the status protocol's only when
    // none of those fits.
    bool CutInsideSequence() {
        for (bool status : {false, true}) {
            std::string names;
            size_t length = 0;
            bool sameLength = true;
            for (const Pattern& p : g_.patterns) {
                if (p.seq == Seq::GraphPostfix || IsStatusSeq(p.seq) != status || !BeginsPattern(p.elements, Rest()))
                    continue;
                sameLength = sameLength && (length == 0 || length == p.elements.size());
                names += (names.empty() ? "" : " or ") + std::string(SeqName(p.seq));
                length = p.elements.size();
            }
            if (names.empty()) continue;
            size_t have = Rest().size();
            StopHere(names + " (" + std::to_string(have) + (sameLength ? " of " + std::to_string(length) + " bytes)" : have == 1 ? " byte)" : " bytes)"));
            return true;
        }
        return false;
    }

    void TakeSequence(const Pattern& p) {
        uint32_t passes = 0;
        MatchAt(p.elements, Rest(), &passes);
        EmitSequence(p.seq, p.elements.size(), p.seq == Seq::GraphModeInit && g_.initCarriesCount ? passes : 0);
        if (g_.passBytes <= 0) return;
        if (p.seq == Seq::GraphModeInit) {
            // Without a count, prefix or exit nothing tells where the passes end.
            if (g_.initCarriesCount) Graphics(static_cast<int>(passes), false);
            else if (prefix_ || exit_) Graphics(-1, false);
        } else if (p.seq == Seq::GraphPrefix) {
            Graphics(-1, true);
        }
    }

    // One byte, or one UTF-16 unit: text, or a control code nothing explains.
    void TakeUnit() {
        auto byte = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes_[i])); };
        size_t length = g_.unicode ? 2 : 1;
        if (Rest().size() < length) {
            StopHere("a UTF-16 character (1 of 2 bytes)");
            return;
        }
        unsigned unit = g_.unicode ? byte(pos_) | byte(pos_ + 1) << 8 : byte(pos_);
        bool control = unit < 0x20 || unit == 0x7F || (g_.unicode && unit >= 0x80 && unit <= 0x9F);
        if (control) {
            Token t{Token::Kind::Unexplained};
            t.offset = pos_, t.length = length, t.value = unit;
            out_.tokens.push_back(t);
        } else if (!out_.tokens.empty() && out_.tokens.back().kind == Token::Kind::Text) {
            out_.tokens.back().length += length;
        } else {
            Token t{Token::Kind::Text};
            t.offset = pos_, t.length = length;
            out_.tokens.push_back(t);
        }
        pos_ += length;
    }

    enum class Found { Matched, Missing, Cut };

    // An expected sequence of the graphics mode; an empty one counts as found.
    Found Expect(const Pattern* p, const std::string& where) {
        if (!p) return Found::Matched;
        if (MatchAt(p->elements, Rest())) {
            EmitSequence(p->seq, p->elements.size());
            return Found::Matched;
        }
        if (!BeginsPattern(p->elements, Rest())) return Found::Missing;
        StopHere(std::string(SeqName(p->seq)) + where + " (" + std::to_string(Rest().size()) + " of " +
                 std::to_string(p->elements.size()) + " bytes)");
        return Found::Cut;
    }

    // Passes until the announced count (passes >= 0) is reached, or, without
    // a count, while prefixes follow (or, without a prefix, until the exit).
    void Graphics(int passes, bool prefixTaken) {
        const bool known = passes >= 0;
        for (int i = 0;; ++i) {
            std::string name = "graphics pass " + std::to_string(i + 1) + (known ? " of " + std::to_string(passes) : "");
            if (known && i == passes) {
                if (!exit_) return;
                if (pos_ == bytes_.size()) return StopHere("graphics mode after its last pass, before GraphModeExitSeq");
                Expect(exit_, " after the last graphics pass");
                return;
            }
            if (!prefixTaken && pos_ == bytes_.size()) {
                if (known || exit_)
                    StopHere("graphics mode after " + std::to_string(i) + (known ? " of " + std::to_string(passes) : "") +
                             " passes" + (exit_ ? ", before GraphModeExitSeq" : ""));
                return;
            }
            if (!prefixTaken) {
                if (!known && exit_ && MatchAt(exit_->elements, Rest())) {
                    EmitSequence(Seq::GraphModeExit, exit_->elements.size());
                    return;
                }
                if (!known && prefix_ && !MatchAt(prefix_->elements, Rest())) {
                    CutInsideSequence();  // or something else follows: graphics mode is over
                    return;
                }
                if (Expect(prefix_, " of " + name) != Found::Matched) return;
            }
            prefixTaken = false;
            size_t have = std::min(Rest().size(), static_cast<size_t>(g_.passBytes));
            Token t{Token::Kind::Pass};
            t.offset = pos_, t.length = have, t.pass = i, t.passes = known ? passes : -1;
            if (have > 0) out_.tokens.push_back(t);
            if (have < static_cast<size_t>(g_.passBytes)) {
                size_t began = pos_;
                pos_ += have;
                StopHere(name + " (" + std::to_string(have) + " of " + std::to_string(g_.passBytes) + " bytes)", began);
                return;
            }
            pos_ += have;
            if (Expect(postfix_, " of " + name) != Found::Matched) return;
        }
    }

    void EmitSequence(Seq seq, size_t length, uint32_t value = 0) {
        Token t{Token::Kind::Sequence};
        t.seq = seq, t.offset = pos_, t.length = length, t.value = value;
        out_.tokens.push_back(t);
        pos_ += length;
    }

    void StopHere(const std::string& what, size_t began = SIZE_MAX) {
        out_.stop = Stop{bytes_.size(), began == SIZE_MAX ? pos_ : began, what};
        pos_ = bytes_.size();
    }

    // The shut-down characters at the end, before any status-protocol
    // sequences the port's closing sent after them.
    void FindShutdownRun() {
        size_t end = bytes_.size();
        for (bool more = true; more;) {
            more = false;
            for (const Pattern& p : g_.patterns) {
                size_t n = p.elements.size();
                if (IsStatusSeq(p.seq) && end >= pos_ + n && MatchAt(p.elements, bytes_.substr(end - n))) {
                    end -= n;
                    more = true;
                    break;
                }
            }
        }
        size_t n = g_.shutdownChar.size(), start = end;
        for (int k = 0; k < g_.shutdownCount && start >= pos_ + n && MatchAt(g_.shutdownChar, bytes_.substr(start - n)); ++k)
            start -= n;
        if (start < end) shutdownStart_ = start, shutdownEnd_ = end;
    }

    const StreamGrammar& g_;
    std::string_view bytes_;
    size_t pos_ = 0;
    std::array<std::vector<const Pattern*>, 256> byFirst_;
    std::vector<const Pattern*> anyFirst_;
    size_t longest_ = 0;
    const Pattern *prefix_ = nullptr, *postfix_ = nullptr, *exit_ = nullptr;
    size_t shutdownStart_ = SIZE_MAX, shutdownEnd_ = SIZE_MAX;
    SplitStream out_;
};

}  // namespace

std::string DescribeStop(const Stop& stop) {
    std::string text = "the stream stops at byte offset " + std::to_string(stop.offset) + ", inside " + stop.what;
    if (stop.began != stop.offset) text += " that began at byte offset " + std::to_string(stop.began);
    return text;
}

SplitStream Split(const StreamGrammar& grammar, std::string_view bytes) { return Splitter(grammar, bytes).Run(); }

}  // namespace pressel_preview
