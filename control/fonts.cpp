// Font selection: font types, emphasis and effects as profile escape
// sequences appended to the line at the current position.
#include "control/Pressel.h"

namespace {

constexpr const WCHAR* kNoError = u"CPressel::No error..";

// One emphasis or effect: a bit of a font field and its two sequences.
struct Switch {
    LONG CPressel::*field;
    LONG bit;
    EscSeq PrinterSettings::*on;
    EscSeq PrinterSettings::*off;
};

constexpr Switch kBold{&CPressel::m_lFontStyle, 1, &PrinterSettings::m_seqBoldOn, &PrinterSettings::m_seqBoldOff};
constexpr Switch kItalic{&CPressel::m_lFontStyle, 2, &PrinterSettings::m_seqItalicOn,
                         &PrinterSettings::m_seqItalicOff};
constexpr Switch kStrikeOut{&CPressel::m_lFontEffect, 1, &PrinterSettings::m_seqStrikeOutOn,
                            &PrinterSettings::m_seqStrikeOutOff};
constexpr Switch kUnderline{&CPressel::m_lFontEffect, 2, &PrinterSettings::m_seqUnderlineOn,
                            &PrinterSettings::m_seqUnderlineOff};

// Sends a sequence only when the state changes; the bit changes even when
// no job is active (the sequence then appends nothing).
PRESSEL_HOT void TurnOn(CPressel& p, const Switch& s) {
    if (p.*s.field & s.bit) return;
    p.*s.field |= s.bit;
    p.SendSeq(p.*s.on);
}

PRESSEL_HOT void TurnOff(CPressel& p, const Switch& s) {
    if (!(p.*s.field & s.bit)) return;
    p.*s.field &= ~s.bit;
    p.SendSeq(p.*s.off);
}

struct Action {
    const Switch* pSwitch;
    bool bOn;
};

// What FontStyle and FontEffect values 0 to 3 do, in order; other values do
// nothing. Values 1 and 2 never switch anything off.
constexpr Action kStyleActions[4][2] = {
    {{&kBold, false}, {&kItalic, false}},
    {{&kBold, true}, {nullptr, false}},
    {{&kItalic, true}, {nullptr, false}},
    {{&kBold, true}, {&kItalic, true}},
};
constexpr Action kEffectActions[4][2] = {
    {{&kUnderline, false}, {&kStrikeOut, false}},
    {{&kStrikeOut, true}, {nullptr, false}},
    {{&kUnderline, true}, {nullptr, false}},
    {{&kStrikeOut, true}, {&kUnderline, true}},
};

PRESSEL_HOT void Apply(CPressel& p, const Action (&table)[4][2], LONG value) {
    if (value < 0 || value > 3) return;
    for (const Action& a : table[value]) {
        if (!a.pSwitch) continue;
        if (a.bOn)
            TurnOn(p, *a.pSwitch);
        else
            TurnOff(p, *a.pSwitch);
    }
}

constexpr EscSeq PrinterSettings::*kTypeSeqs[3] = {
    &PrinterSettings::m_seqNormalFont,
    &PrinterSettings::m_seqDoubleWideFont,
    &PrinterSettings::m_seqCompressFont,
};

}  // namespace

PRESSEL_HOT void CPressel::ResetStyles() {
    TurnOff(*this, kBold);
    TurnOff(*this, kItalic);
    TurnOff(*this, kUnderline);
    TurnOff(*this, kStrikeOut);
}

PRESSEL_HOT HRESULT CPressel::FontSelect(LONG FontType, LONG FontStyle, LONG FontEffect) {
    // A valid type starts from a clean slate, so the call leaves exactly
    // what its other two arguments name.
    const bool bReset = FontType >= 0 && FontType <= 2;
    if (bReset) {
        ResetStyles();
        m_lFontType = FontType;
        SendSeq(this->*kTypeSeqs[FontType]);
    }
    // Values 0 only switch off, and after the reset nothing is on: the call
    // that follows every line of plain text has nothing more to do.
    if (!bReset || FontStyle != 0 || FontEffect != 0) {
        Apply(*this, kStyleActions, FontStyle);
        Apply(*this, kEffectActions, FontEffect);
    }
    return SetError(0, kNoError, 0);
}
