// The Pressel control's automation interface, for clients of libstavlo.so:
// class and interface identities, the dual interface IPressel with its
// virtual table in the fixed order, the DISPIDs and the event interface.
#pragma once

#include "win/ole.h"

// Fixed identities: the same in the registry, the type library and the code.
inline constexpr CLSID CLSID_Pressel = {0x6F1B2C4A, 0x3D8E, 0x4B71, {0x9A, 0x52, 0x0C, 0x7E, 0x4D, 0x9B, 0x1F, 0x31}};
inline constexpr IID IID_IPressel = {0x6F1B2C4B, 0x3D8E, 0x4B71, {0x9A, 0x52, 0x0C, 0x7E, 0x4D, 0x9B, 0x1F, 0x31}};
inline constexpr IID DIID__IPresselEvents = {0x6F1B2C4C, 0x3D8E, 0x4B71,
                                             {0x9A, 0x52, 0x0C, 0x7E, 0x4D, 0x9B, 0x1F, 0x31}};
inline constexpr GUID LIBID_STAVLOLib = {0x6F1B2C49, 0x3D8E, 0x4B71,
                                         {0x9A, 0x52, 0x0C, 0x7E, 0x4D, 0x9B, 0x1F, 0x31}};

// DISPIDs of IPressel.
enum : DISPID {
    DISPID_Cancel = 1,
    DISPID_FontSelect = 2,
    DISPID_NewLine = 3,
    DISPID_FormFeed = 4,
    DISPID_ActualFormFeed = 5,
    DISPID_Finish = 6,
    DISPID_Bitmap = 7,
    DISPID_NoOrphan = 8,
    DISPID_InvokeEventMessage = 9,
    DISPID_InvokeHeaderMsg = 10,
    DISPID_StartLP = 11,
    DISPID_Write = 12,
    DISPID_WriteBytes = 13,
    DISPID_UserAbort = 14,
    DISPID_LastError = 15,
    DISPID_StillPrinting = 16,
    DISPID_PageNo = 17,
    DISPID_LineNo = 18,
    DISPID_PrinterDC = 19,
    DISPID_ErrorMethodID = 20,
    DISPID_ErrorReturnState = 21,
};

// DISPIDs of _IPresselEvents.
enum : DISPID {
    DISPID_HeaderEvent = 1,    // (MsgFooter I4, MsgIgnore I4)
    DISPID_NotifyMessage = 2,  // (MsgType I4, MsgError I4)
};

// Every member returns an HRESULT; the order is the virtual-table order.
interface IPressel : public IDispatch {
    STDMETHOD(Cancel)() PURE;
    STDMETHOD(FontSelect)(LONG FontType, LONG FontStyle, LONG FontEffect) PURE;
    STDMETHOD(NewLine)() PURE;
    STDMETHOD(FormFeed)() PURE;
    STDMETHOD(ActualFormFeed)() PURE;
    STDMETHOD(Finish)() PURE;
    STDMETHOD(Bitmap)(LONG _dwStartCol, LONG _dwHeight, LONG _dwWidth, BSTR _bsFilename) PURE;
    STDMETHOD(NoOrphan)(LONG _dwLines, LONG _OrphanMode) PURE;
    STDMETHOD(InvokeEventMessage)(LONG lmsg, LONG ltype) PURE;
    STDMETHOD(InvokeHeaderMsg)(LONG lmsg, LONG ltype) PURE;
    STDMETHOD(StartLP)(BSTR bsIniFile, BSTR bsPrinterName, BSTR bsDebugFile, LONG lInst, BSTR bsIniName,
                       LONG* pVal) PURE;
    STDMETHOD(Write)(BSTR bBuffer) PURE;
    STDMETHOD(WriteBytes)(BSTR bBuffer, LONG lBytes) PURE;
    STDMETHOD(UserAbort)() PURE;
    STDMETHOD(get_LastError)(LONG* pVal) PURE;
    STDMETHOD(get_StillPrinting)(VARIANT_BOOL* pVal) PURE;
    STDMETHOD(get_PageNo)(LONG* pVal) PURE;
    STDMETHOD(get_LineNo)(LONG* pVal) PURE;
    STDMETHOD(get_PrinterDC)(LONG* pVal) PURE;
    STDMETHOD(get_ErrorMethodID)(LONG* pVal) PURE;
    STDMETHOD(get_ErrorReturnState)(LONG* pVal) PURE;
    STDMETHOD(put_ErrorReturnState)(LONG newVal) PURE;
};

// The outgoing event interface: dispatch only, reached through IDispatch::Invoke.
interface _IPresselEvents : public IDispatch {};
