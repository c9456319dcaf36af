// The Pressel control object (chief header of the control, private to the
// library): CPressel with every field of a printer channel, the line buffer
// and the module-wide instance registries.
#pragma once

#include "automation/PresselOle.h"
#include "control/events.h"
#include "pressel/IPressel.h"
#include "profile/PrinterSettings.h"
#include "win/ole.h"

// Marks the functions that every line or chunk of a job runs through, so that
// they are placed together: where the kernel keeps its page tables apart from
// the program's, each write to the port empties the TLB, and every page of
// code a chunk touches between two writes costs a page walk.
#define PRESSEL_HOT __attribute__((hot))

// Abort procedure consulted before each chunk of output: receives the port
// handle (the 32-bit value kept in m_hPort) and 0; nonzero means go on.
typedef BOOL (*PFN_PRESSEL_ABORTPROC)(LONG hPort, int nReserved);

// The line being assembled: 16-bit units, the content always followed by two
// zero bytes, so at most kLineBufSize - 2 bytes of content fit.
class CLineBuf {
public:
    static constexpr LONG kLineBufSize = 8192;

    CLineBuf();
    virtual ~CLineBuf() = default;

    LONG m_lLineBufLen;  // content bytes; -1 (or 0) when empty
    BYTE m_abLineBuf[kLineBufSize];
};

class CPressel final : public IPressel, public PrinterSettings, public IConnectionPointContainer {
public:
    CPressel();
    CPressel(const CPressel&) = delete;
    CPressel& operator=(const CPressel&) = delete;

    // A new object answering riid, or an error with *ppv null.
    static HRESULT CreateInstance(REFIID riid, void** ppv);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: works from the registered type library.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IPressel, in its virtual-table order.
    STDMETHODIMP Cancel() override;
    STDMETHODIMP FontSelect(LONG FontType, LONG FontStyle, LONG FontEffect) override;
    STDMETHODIMP NewLine() override;
    STDMETHODIMP FormFeed() override;
    STDMETHODIMP ActualFormFeed() override;
    STDMETHODIMP Finish() override;
    STDMETHODIMP Bitmap(LONG _dwStartCol, LONG _dwHeight, LONG _dwWidth, BSTR _bsFilename) override;
    STDMETHODIMP NoOrphan(LONG _dwLines, LONG _OrphanMode) override;
    STDMETHODIMP InvokeEventMessage(LONG lmsg, LONG ltype) override;
    STDMETHODIMP InvokeHeaderMsg(LONG lmsg, LONG ltype) override;
    STDMETHODIMP StartLP(BSTR bsIniFile, BSTR bsPrinterName, BSTR bsDebugFile, LONG lInst, BSTR bsIniName,
                         LONG* pVal) override;
    STDMETHODIMP Write(BSTR bBuffer) override;
    STDMETHODIMP WriteBytes(BSTR bBuffer, LONG lBytes) override;
    STDMETHODIMP UserAbort() override;
    STDMETHODIMP get_LastError(LONG* pVal) override;
    STDMETHODIMP get_StillPrinting(VARIANT_BOOL* pVal) override;
    STDMETHODIMP get_PageNo(LONG* pVal) override;
    STDMETHODIMP get_LineNo(LONG* pVal) override;
    STDMETHODIMP get_PrinterDC(LONG* pVal) override;
    STDMETHODIMP get_ErrorMethodID(LONG* pVal) override;
    STDMETHODIMP get_ErrorReturnState(LONG* pVal) override;
    STDMETHODIMP put_ErrorReturnState(LONG newVal) override;

    // Not part of the interface (automation clients cannot reach it); it
    // follows the IPressel members, as entry 30 of the virtual table.
    // Records the result of a method; returns hr when ErrorReturnState is 1.
    virtual HRESULT SetError(HRESULT hr, const WCHAR* pszMessage, LONG lMethodId);

    // IConnectionPointContainer: one connection point, for _IPresselEvents.
    // Declared after SetError so that SetError keeps its place in the table.
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // Raise HeaderEvent (MsgFooter, MsgIgnore) and NotifyMessage (MsgType,
    // MsgError) on every connected sink.
    void FireHeaderEvent(LONG lMsgFooter, LONG lMsgIgnore);
    void FireNotifyMessage(LONG lMsgType, LONG lMsgError);

    // Profile location (set by StartLP).
    BSTR m_bstrPrinterName;
    BSTR m_bstrIniName;
    BSTR m_bstrIniFile;
    BOOL m_bUseRegistry = 1;
    LONG m_hAbortDlg = 0;  // 32-bit window handle of the caller's dialog; 0 none

    // Job state.
    BOOL m_bPrinting = 0;
    PFN_PRESSEL_ABORTPROC m_pfnAbortProc = nullptr;
    INT m_nInstanceSlot = -1;  // index in g_apInstances, -1 none
    LONG m_lPageNo = 1;
    LONG m_lLineNo = 0;
    LONG m_lFooterLines = 0;
    BOOL m_bMeasuringFooter = 0;
    BOOL m_bInFooter = 0;
    LONG m_lFontType = 0;
    LONG m_lFontStyle = 0;
    LONG m_lFontEffect = 0;

    // Port state.
    LONG m_hPort = -1;  // 32-bit port handle, -1 when closed
    BOOL m_bFilePort = 0;
    BOOL m_bReadWrite = 0;

    // Error state.
    BOOL m_bErrorReturnState = 0;  // kept as 0 or 1
    LONG m_lLastError = 0;
    LONG m_lErrorMethodID = 0;

    // After the fields every line uses, so that they and the start of the
    // line share a page rather than lie on both sides of its 8 KB.
    CLineBuf m_lineBuf;

    // Port transport (port/): opening, writing and closing the channel and
    // the printer status protocol of read-write serial ports.
    LONG OpenPort(const WCHAR* pszDescription, const WCHAR* pszOutputName);
    LONG OpenSerialPort(const WCHAR* pszDevice, const WCHAR* pszSettings, BOOL bComName);
    BOOL WritePort(LONG hPort, const void* pBytes, DWORD cbBytes);
    BOOL ClosePort(LONG hPort);
    BOOL SendRwStartSeq(LONG hPort);
    BOOL QueryPrinterStatus(LONG hPort, LONG* plState, LONG* plCode);
    BOOL WaitPrinterDone(LONG hPort);
    // This object's open channel holds the port library loaded.
    BOOL m_bPortLibUser = 0;
    // End of port transport.

    // Text output, fonts, lines and pages (control/text_output.cpp,
    // control/fonts.cpp, control/pages.cpp).
    // Appends bytes to the line buffer; a line that outgrows the buffer is
    // sent early rather than cut.
    void AppendToLine(const void* pData, LONG cbData);
    // Appends a stored profile sequence while a job is active.
    void SendSeq(const EscSeq& seq);
    // Sends the line buffer in 128-byte chunks, asking the abort procedure
    // before each, empties it and re-applies the current font.
    void FlushLine();
    // Sends wUnit lCount times straight to the port, in runs of at most 128.
    void SendCharRun(WCHAR wUnit, LONG lCount);
    // Sends cbData bytes straight to the port: 16-bit values (their low
    // bytes unless the profile is Unicode) or raw bytes.
    void SendDirect(const void* pData, LONG cbData, BOOL bAsValues);
    // Bold, italic, underline and strike-out off, in this order.
    void ResetStyles();
    // The page-end test: false when the line just ended is past the body.
    BOOL BodyHasRoom() const;
    // Counts the footer's lines once at job start (nothing is sent).
    void MeasureFooter();

    // Copies of the line buffer set aside while a header or footer handler
    // writes its own lines. Events nest, so the copies form a stack whose
    // storage grows to the deepest nesting once and is then reused.
    class CLineStash {
    public:
        CLineStash() = default;
        ~CLineStash();
        CLineStash(const CLineStash&) = delete;
        CLineStash& operator=(const CLineStash&) = delete;
        // Pushes cb bytes; returns the mark to pop back to, or -1 when the
        // storage cannot grow.
        LONG Push(const BYTE* pb, LONG cb);
        // Copies what was pushed at mark to pbOut, drops it and returns its
        // byte count (0 for mark -1).
        LONG Pop(LONG mark, BYTE* pbOut);

    private:
        BYTE* m_pb = nullptr;
        LONG m_cb = 0;
        LONG m_cbCapacity = 0;
    };
    CLineStash m_lineStash;
    // Set while a page header is being produced: a page end inside it goes
    // on without asking for another header, so a header longer than the
    // body cannot recurse.
    BOOL m_bInHeader = 0;
    // End of text output, fonts, lines and pages.

    // Job start and end (control/job_start.cpp, control/job_end.cpp).
    // The abort procedure a job consults before each chunk: runs the
    // calling thread's window messages when the job's owner has a dialog,
    // then answers whether that job still prints.
    static BOOL AbortProc(LONG hPort, int nReserved);
    // The first registered instance whose port is hPort, or null.
    static CPressel* FindInstanceByPort(LONG hPort);
    // The last reference is going while a job is open: the job is finished
    // so that the port is closed and no registry keeps the object.
    void EndJobOnRelease();
    // End of job start and end.

    // Bitmap printing (bitmap/bitmap_print.cpp).
    // Sends the graphics-mode enter sequence with the pass count filled in,
    // then cPasses passes of cbPerPass bytes taken in place from pArray, each
    // between the prefix and postfix sequences, then the exit sequence;
    // stops at once when the job ends during a send.
    void SendGraphics(const BYTE* pArray, LONG cbPerPass, LONG cPasses);
    // End of bitmap printing.

    // Automation (automation/): identity with aggregation, dispatch through
    // the registered type library, and the OLE embedding interfaces.
    // QueryInterface, AddRef and Release delegate to the controlling unknown
    // when the control is aggregated; these are the object's own.
    HRESULT InnerQueryInterface(REFIID riid, void** ppv);
    ULONG InnerAddRef();
    ULONG InnerRelease();
    // A new control inside pUnkOuter: only IUnknown may be asked for (it is
    // the inner unknown); otherwise CLASS_E_NOAGGREGATION.
    static HRESULT CreateAggregated(IUnknown* pUnkOuter, REFIID riid, void** ppv);
    class CInnerUnknown final : public IUnknown {
    public:
        explicit CInnerUnknown(CPressel* pOwner) : m_pOwner(pOwner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            return m_pOwner->InnerQueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_pOwner->InnerAddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pOwner->InnerRelease(); }

    private:
        CPressel* m_pOwner;
    };
    CInnerUnknown m_innerUnknown{this};
    IUnknown* m_pUnkOuter = nullptr;  // not counted: the outer object owns us
    CPresselOle m_ole{this};
    // End of automation.

private:
    // Only Release destroys the object.
    ~CPressel();

    ULONG m_cRef = 0;
    CPresselEventsCP m_eventsCP{this};
};

// Module-wide registries, shared by all instances of the process and
// unlocked (all instances live on their creating thread).
constexpr int kMaxInstances = 32;
// Instances with a job, each in the lowest slot free when its job started.
extern CPressel* g_apInstances[kMaxInstances];
// The instance that most recently started a job.
extern CPressel* g_pCurrentInstance;

// Removes every reference the registries hold to pInstance.
void ForgetInstance(CPressel* pInstance);
