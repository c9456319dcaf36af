// StartLP: ends the previous job, records where the profile lives, loads it,
// opens the port and sends what wakes the printer up.
#include <string>

#include "control/Pressel.h"
#include "profile/Profile.h"
#include "win/base.h"

namespace {

constexpr const WCHAR* kNoError = u"CPressel::No error..";
constexpr const WCHAR* kEntryNameMissing = u"CPressel::EntryName missing..";
constexpr const WCHAR* kNoPrinterDC = u"CPressel::No printer DC..";
constexpr const WCHAR* kOutOfMemory = u"CPressel::Out of memory..";
constexpr LONG kDispidStartLP = 11;

constexpr LONG kStartedOk = 0;
constexpr LONG kPortNotOpened = 7;
constexpr LONG kNoEntryName = 8;

// A copy of bs (null stays null). False when a non-null string could not
// be copied.
bool CopyBstr(BSTR bs, BSTR* out) {
    *out = nullptr;
    if (!bs) return true;
    *out = SysAllocStringLen(bs, SysStringLen(bs));
    return *out != nullptr;
}

void Replace(BSTR* field, BSTR value) {
    SysFreeString(*field);
    *field = value;
}

bool IsEmpty(BSTR bs) { return !bs || SysStringLen(bs) == 0; }

// Profile delays are milliseconds; a negative one would become a wait of
// weeks once it reaches Sleep's unsigned argument.
DWORD DelayMs(LONG lDelay) { return lDelay > 0 ? static_cast<DWORD>(lDelay) : 0; }

}  // namespace

HRESULT CPressel::StartLP(BSTR bsIniFile, BSTR bsPrinterName, BSTR bsDebugFile, LONG lInst, BSTR bsIniName,
                          LONG* pVal) {
    IPressel* self = this;
    LONG lDiscard = 0;
    if (!pVal) pVal = &lDiscard;  // automation always passes it; direct callers may not

    self->Finish();

    // Copies first, so that a failed copy changes nothing.
    BSTR bsNewIniFile = nullptr, bsNewPrinter = nullptr, bsNewIniName = nullptr;
    if (!CopyBstr(bsIniFile, &bsNewIniFile) || !CopyBstr(bsPrinterName, &bsNewPrinter) ||
        !CopyBstr(bsIniName, &bsNewIniName)) {
        SysFreeString(bsNewIniFile);
        SysFreeString(bsNewPrinter);
        SysFreeString(bsNewIniName);
        *pVal = kNoEntryName;
        return SetError(E_OUTOFMEMORY, kOutOfMemory, kDispidStartLP);
    }
    if (bsIniFile) Replace(&m_bstrIniFile, bsNewIniFile);
    Replace(&m_bstrPrinterName, bsNewPrinter);
    Replace(&m_bstrIniName, bsNewIniName);
    m_hAbortDlg = lInst;
    *pVal = kStartedOk;

    g_pCurrentInstance = this;

    m_lPageNo = 1;
    m_lLineNo = 0;
    m_bPrinting = 1;
    m_pfnAbortProc = &CPressel::AbortProc;
    m_bMeasuringFooter = 0;
    m_bInFooter = 0;
    m_bFilePort = 0;
    m_lFontType = m_lFontStyle = m_lFontEffect = 0;
    m_bReadWrite = 0;
    m_bUseRegistry = IsEmpty(m_bstrIniName) ? 1 : 0;

    m_nInstanceSlot = -1;
    for (int i = 0; i < kMaxInstances; ++i) {
        if (!g_apInstances[i]) {
            g_apInstances[i] = this;
            m_nInstanceSlot = i;
            break;
        }
    }

    ProfileSource source;
    source.m_bUseRegistry = m_bUseRegistry;
    source.m_bstrIniFile = m_bstrIniFile;
    source.m_bstrIniName = m_bstrIniName;
    std::u16string portDescription, outputName;
    BOOL bHaveEntry = LoadPrinterProfile(source, m_bstrPrinterName ? m_bstrPrinterName : u"", this,
                                         &portDescription, &outputName);
    if (!bHaveEntry || portDescription.empty()) {
        m_bPrinting = 0;
        self->Finish();
        self->InvokeEventMessage(1, kNoEntryName);
        *pVal = kNoEntryName;
        return SetError(static_cast<HRESULT>(0x80040D01), kEntryNameMissing, kDispidStartLP);
    }

    if (!IsEmpty(bsDebugFile)) outputName.assign(bsDebugFile, SysStringLen(bsDebugFile));

    m_hPort = OpenPort(portDescription.c_str(), outputName.c_str());
    if (m_hPort == -1) {
        m_hPort = -1;
        m_bPrinting = 0;
        self->Finish();
        self->InvokeEventMessage(1, kPortNotOpened);
        *pVal = kPortNotOpened;
        return SetError(static_cast<HRESULT>(0x80040D04), kNoPrinterDC, kDispidStartLP);
    }

    if (m_nInstanceSlot < 0) {
        // Every slot is taken, so the abort procedure could never find this
        // job and would stop it at its first chunk without a word. Stop it
        // now, the way a failed write does, so that the caller hears of it;
        // the port stays open for Finish to close.
        m_bPrinting = 0;
        self->InvokeEventMessage(1, 2);
    } else {
        MeasureFooter();
        Sleep(DelayMs(m_lStartupDelay));
        SendCharRun(m_seqStartupChar.codes[0], m_lStartupCharCount);

        m_lineBuf.m_lLineBufLen = -1;
        SendSeq(m_seqInit);
        self->FontSelect(0, 0, 0);
        FlushLine();

        if (m_bReadWrite && m_bPrinting && !SendRwStartSeq(m_hPort)) {
            m_bPrinting = 0;
            self->InvokeEventMessage(1, 2);
        }
    }

    *pVal = kStartedOk;
    return SetError(0, kNoError, 0);
}
