// The OLE embedding interfaces a control answers, for containers and tests
// that talk to the Pressel control as a control: identities with their
// Windows values and the interfaces with their Windows virtual-table orders.
// Interfaces the control only passes through (monikers, enumerators, drop
// targets, undo managers) are declared without members.
#pragma once

#include "win/ole.h"
#include "win/user.h"

// ---- Structures ----
typedef struct _RECTL {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECTL, *LPRECTL;
typedef const RECTL* LPCRECTL;
typedef SIZE SIZEL;
typedef SIZEL* LPSIZEL;
typedef WORD CLIPFORMAT;
typedef DWORD OLE_COLOR;
typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    ULONGLONG QuadPart;
} ULARGE_INTEGER;
typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    LONGLONG QuadPart;
} LARGE_INTEGER;
DECLARE_HANDLE(HACCEL);
DECLARE_HANDLE(HPALETTE);
struct tagLOGPALETTE;
typedef struct tagLOGPALETTE LOGPALETTE;

typedef struct tagDVTARGETDEVICE {
    DWORD tdSize;
    WORD tdDriverNameOffset;
    WORD tdDeviceNameOffset;
    WORD tdPortNameOffset;
    WORD tdExtDevmodeOffset;
    BYTE tdData[1];
} DVTARGETDEVICE;

typedef struct tagFORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
} FORMATETC, *LPFORMATETC;
static_assert(sizeof(FORMATETC) == 32, "FORMATETC x64 layout");

interface IStream;
interface IStorage;
typedef IStream* LPSTREAM;

typedef struct tagSTGMEDIUM {
    DWORD tymed;
    union {
        HBITMAP hBitmap;
        void* hMetaFilePict;
        void* hEnhMetaFile;
        HANDLE hGlobal;
        LPOLESTR lpszFileName;
        IStream* pstm;
        IStorage* pstg;
    };
    IUnknown* pUnkForRelease;
} STGMEDIUM, *LPSTGMEDIUM;
static_assert(sizeof(STGMEDIUM) == 24, "STGMEDIUM x64 layout");

enum tagTYMED : DWORD {
    TYMED_HGLOBAL = 1,
    TYMED_FILE = 2,
    TYMED_ISTREAM = 4,
    TYMED_ISTORAGE = 8,
    TYMED_GDI = 16,
    TYMED_MFPICT = 32,
    TYMED_ENHMF = 64,
    TYMED_NULL = 0,
};

enum tagDVASPECT : DWORD {
    DVASPECT_CONTENT = 1,
    DVASPECT_THUMBNAIL = 2,
    DVASPECT_ICON = 4,
    DVASPECT_DOCPRINT = 8,
};

typedef struct tagCONTROLINFO {
    ULONG cb;
    HACCEL hAccel;
    USHORT cAccel;
    DWORD dwFlags;
} CONTROLINFO, *LPCONTROLINFO;

typedef struct tagCAUUID {
    ULONG cElems;
    GUID* pElems;
} CAUUID;

interface IAdviseSinkEx;
interface IPropertyNotifySink;
interface IFont;
interface IOleUndoManager;
interface IBindHost;
interface IOleControlSite;
interface IServiceProvider;
interface IMoniker;
interface IEnumOLEVERB;
interface IEnumSTATDATA;
interface IEnumFORMATETC;
interface IDropTarget;
interface IOleInPlaceUIWindow;
interface IOleInPlaceFrame;
interface IOleContainer;

interface IOleClientSite;
interface IAdviseSink;

typedef struct tagQACONTAINER {
    ULONG cbSize;
    IOleClientSite* pClientSite;
    IAdviseSinkEx* pAdviseSink;
    IPropertyNotifySink* pPropertyNotifySink;
    IUnknown* pUnkEventSink;
    DWORD dwAmbientFlags;
    OLE_COLOR colorFore;
    OLE_COLOR colorBack;
    IFont* pFont;
    IOleUndoManager* pUndoMgr;
    DWORD dwAppearance;
    LONG lcid;
    HPALETTE hpal;
    IBindHost* pBindHost;
    IOleControlSite* pOleControlSite;
    IServiceProvider* pServiceProvider;
} QACONTAINER;

typedef struct tagQACONTROL {
    ULONG cbSize;
    DWORD dwMiscStatus;
    DWORD dwViewStatus;
    DWORD dwEventCookie;
    DWORD dwPropNotifyCookie;
    DWORD dwPointerActivationPolicy;
} QACONTROL;

typedef struct tagDVEXTENTINFO {
    ULONG cb;
    DWORD dwExtentMode;
    SIZEL sizelProposed;
} DVEXTENTINFO;

typedef struct tagOIFI {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
} OLEINPLACEFRAMEINFO, *LPOLEINPLACEFRAMEINFO;

typedef struct tagSTATSTG STATSTG;

// ---- Constants ----
#define OLEIVERB_PRIMARY 0L
#define OLEIVERB_SHOW (-1L)
#define OLEIVERB_OPEN (-2L)
#define OLEIVERB_HIDE (-3L)
#define OLEIVERB_UIACTIVATE (-4L)
#define OLEIVERB_INPLACEACTIVATE (-5L)
#define OLEIVERB_DISCARDUNDOSTATE (-6L)
#define OLEIVERB_PROPERTIES (-7L)

#define OLEMISC_RECOMPOSEONRESIZE 0x1u
#define OLEMISC_CANTLINKINSIDE 0x10u
#define OLEMISC_INSIDEOUT 0x80u
#define OLEMISC_ACTIVATEWHENVISIBLE 0x100u
#define OLEMISC_INVISIBLEATRUNTIME 0x400u
#define OLEMISC_SETCLIENTSITEFIRST 0x20000u

#define USERCLASSTYPE_FULL 1
#define USERCLASSTYPE_SHORT 2
#define USERCLASSTYPE_APPNAME 3

#define OLECLOSE_SAVEIFDIRTY 0
#define OLECLOSE_NOSAVE 1
#define OLECLOSE_PROMPTSAVE 2

#define VIEWSTATUS_OPAQUE 1u
#define VIEWSTATUS_SOLIDBKGND 2u

#define HITRESULT_OUTSIDE 0u
#define HITRESULT_HIT 3u

#define GUIDKIND_DEFAULT_SOURCE_DISP_IID 1u

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x1u
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x2u

#define DISPID_AMBIENT_USERMODE (-709)

#define DV_E_FORMATETC ((HRESULT)0x80040064L)
#define DV_E_LINDEX ((HRESULT)0x80040068L)
#define DV_E_DVASPECT ((HRESULT)0x8004006BL)
#define OLE_E_ADVISENOTSUPPORTED ((HRESULT)0x80040003L)
#define OLE_E_NOCONNECTION ((HRESULT)0x80040004L)
#define OLE_E_NOTRUNNING ((HRESULT)0x80040005L)
#define OLE_E_BLANK ((HRESULT)0x80040007L)
#define OLEOBJ_S_INVALIDVERB ((HRESULT)0x00040180L)
#define OLEOBJ_E_NOVERBS ((HRESULT)0x80040180L)
#define STG_E_READFAULT ((HRESULT)0x8003001EL)
#define STG_E_WRITEFAULT ((HRESULT)0x8003001DL)
#define STG_E_FILENOTFOUND ((HRESULT)0x80030002L)
#define STGM_READ 0x0u
#define STGM_WRITE 0x1u
#define STGM_READWRITE 0x2u
#define STGM_SHARE_EXCLUSIVE 0x10u
#define STGM_CREATE 0x1000u

// ---- Identities ----
#define PRESSEL_OLE_IID(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
    inline constexpr IID name = {d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}}
PRESSEL_OLE_IID(IID_IOleWindow, 0x00000114, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IOleInPlaceObject, 0x00000113, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IOleInPlaceActiveObject, 0x00000117, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IOleObject, 0x00000112, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IOleClientSite, 0x00000118, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IOleInPlaceSite, 0x00000119, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IDataObject, 0x0000010E, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IPersist, 0x0000010C, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IPersistStorage, 0x0000010A, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IViewObject, 0x0000010D, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IViewObject2, 0x00000127, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IAdviseSink, 0x0000010F, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IStream, 0x0000000C, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IStorage, 0x0000000B, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
PRESSEL_OLE_IID(IID_IPersistStreamInit, 0x7FD52380, 0x4E07, 0x101B, 0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13);
PRESSEL_OLE_IID(IID_IOleControl, 0xB196B288, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PRESSEL_OLE_IID(IID_ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D,
                0x07);
PRESSEL_OLE_IID(IID_IProvideClassInfo, 0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
PRESSEL_OLE_IID(IID_IProvideClassInfo2, 0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
PRESSEL_OLE_IID(IID_IQuickActivate, 0xCF51ED10, 0x62FE, 0x11CF, 0xBF, 0x86, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0x36);
PRESSEL_OLE_IID(IID_IViewObjectEx, 0x3AF24292, 0x0C96, 0x11CE, 0xA0, 0xCF, 0x00, 0xAA, 0x00, 0x60, 0x0A, 0xB8);
PRESSEL_OLE_IID(IID_IOleInPlaceObjectWindowless, 0x1C2056CC, 0x5EF4, 0x101B, 0x8B, 0xC8, 0x00, 0xAA, 0x00, 0x3E,
                0x3B, 0x29);
PRESSEL_OLE_IID(IID_IObjectSafety, 0xCB5BDC81, 0x93C1, 0x11CF, 0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64);
#undef PRESSEL_OLE_IID

// ---- Interfaces, in their Windows virtual-table orders ----
interface ISequentialStream : public IUnknown {
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) PURE;
};

interface IStream : public ISequentialStream {
    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) PURE;
    STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) PURE;
    STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) PURE;
    STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
    STDMETHOD(Revert)() PURE;
    STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
    STDMETHOD(Clone)(IStream** ppstm) PURE;
};

interface IStorage : public IUnknown {
    STDMETHOD(CreateStream)(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                            IStream** ppstm) PURE;
    STDMETHOD(OpenStream)(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                          IStream** ppstm) PURE;
    STDMETHOD(CreateStorage)(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                             IStorage** ppstg) PURE;
    STDMETHOD(OpenStorage)(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, void* snbExclude,
                           DWORD reserved, IStorage** ppstg) PURE;
    STDMETHOD(CopyTo)(DWORD ciidExclude, const IID* rgiidExclude, void* snbExclude, IStorage* pstgDest) PURE;
    STDMETHOD(MoveElementTo)(const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName,
                             DWORD grfFlags) PURE;
    STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
    STDMETHOD(Revert)() PURE;
    STDMETHOD(EnumElements)(DWORD reserved1, void* reserved2, DWORD reserved3, IUnknown** ppenum) PURE;
    STDMETHOD(DestroyElement)(const OLECHAR* pwcsName) PURE;
    STDMETHOD(RenameElement)(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) PURE;
    STDMETHOD(SetElementTimes)(const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
                               const FILETIME* pmtime) PURE;
    STDMETHOD(SetClass)(REFCLSID clsid) PURE;
    STDMETHOD(SetStateBits)(DWORD grfStateBits, DWORD grfMask) PURE;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
};

interface IOleClientSite : public IUnknown {
    STDMETHOD(SaveObject)() PURE;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
    STDMETHOD(GetContainer)(IOleContainer** ppContainer) PURE;
    STDMETHOD(ShowObject)() PURE;
    STDMETHOD(OnShowWindow)(BOOL fShow) PURE;
    STDMETHOD(RequestNewObjectLayout)() PURE;
};

interface IAdviseSink : public IUnknown {
    STDMETHOD_(void, OnDataChange)(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) PURE;
    STDMETHOD_(void, OnViewChange)(DWORD dwAspect, LONG lindex) PURE;
    STDMETHOD_(void, OnRename)(IMoniker* pmk) PURE;
    STDMETHOD_(void, OnSave)() PURE;
    STDMETHOD_(void, OnClose)() PURE;
};

interface IOleWindow : public IUnknown {
    STDMETHOD(GetWindow)(HWND* phwnd) PURE;
    STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) PURE;
};

interface IOleInPlaceObject : public IOleWindow {
    STDMETHOD(InPlaceDeactivate)() PURE;
    STDMETHOD(UIDeactivate)() PURE;
    STDMETHOD(SetObjectRects)(LPCRECT lprcPosRect, LPCRECT lprcClipRect) PURE;
    STDMETHOD(ReactivateAndUndo)() PURE;
};

interface IOleInPlaceObjectWindowless : public IOleInPlaceObject {
    STDMETHOD(OnWindowMessage)(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) PURE;
    STDMETHOD(GetDropTarget)(IDropTarget** ppDropTarget) PURE;
};

interface IOleInPlaceActiveObject : public IOleWindow {
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg) PURE;
    STDMETHOD(OnFrameWindowActivate)(BOOL fActivate) PURE;
    STDMETHOD(OnDocWindowActivate)(BOOL fActivate) PURE;
    STDMETHOD(ResizeBorder)(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) PURE;
    STDMETHOD(EnableModeless)(BOOL fEnable) PURE;
};

interface IOleInPlaceSite : public IOleWindow {
    STDMETHOD(CanInPlaceActivate)() PURE;
    STDMETHOD(OnInPlaceActivate)() PURE;
    STDMETHOD(OnUIActivate)() PURE;
    STDMETHOD(GetWindowContext)(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) PURE;
    STDMETHOD(Scroll)(SIZE scrollExtant) PURE;
    STDMETHOD(OnUIDeactivate)(BOOL fUndoable) PURE;
    STDMETHOD(OnInPlaceDeactivate)() PURE;
    STDMETHOD(DiscardUndoState)() PURE;
    STDMETHOD(DeactivateAndUndo)() PURE;
    STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) PURE;
};

interface IOleControl : public IUnknown {
    STDMETHOD(GetControlInfo)(CONTROLINFO* pCI) PURE;
    STDMETHOD(OnMnemonic)(MSG* pMsg) PURE;
    STDMETHOD(OnAmbientPropertyChange)(DISPID dispID) PURE;
    STDMETHOD(FreezeEvents)(BOOL bFreeze) PURE;
};

interface IDataObject;

interface IOleObject : public IUnknown {
    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) PURE;
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) PURE;
    STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) PURE;
    STDMETHOD(Close)(DWORD dwSaveOption) PURE;
    STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) PURE;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
    STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) PURE;
    STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) PURE;
    STDMETHOD(DoVerb)(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                      LPCRECT lprcPosRect) PURE;
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** ppEnumOleVerb) PURE;
    STDMETHOD(Update)() PURE;
    STDMETHOD(IsUpToDate)() PURE;
    STDMETHOD(GetUserClassID)(CLSID* pClsid) PURE;
    STDMETHOD(GetUserType)(DWORD dwFormOfType, LPOLESTR* pszUserType) PURE;
    STDMETHOD(SetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
    STDMETHOD(GetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
    STDMETHOD(Advise)(IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
    STDMETHOD(Unadvise)(DWORD dwConnection) PURE;
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;
    STDMETHOD(GetMiscStatus)(DWORD dwAspect, DWORD* pdwStatus) PURE;
    STDMETHOD(SetColorScheme)(LOGPALETTE* pLogpal) PURE;
};

interface IPersist : public IUnknown {
    STDMETHOD(GetClassID)(CLSID* pClassID) PURE;
};

interface IPersistStreamInit : public IPersist {
    STDMETHOD(IsDirty)() PURE;
    STDMETHOD(Load)(LPSTREAM pStm) PURE;
    STDMETHOD(Save)(LPSTREAM pStm, BOOL fClearDirty) PURE;
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pCbSize) PURE;
    STDMETHOD(InitNew)() PURE;
};

interface IPersistStorage : public IPersist {
    STDMETHOD(IsDirty)() PURE;
    STDMETHOD(InitNew)(IStorage* pStg) PURE;
    STDMETHOD(Load)(IStorage* pStg) PURE;
    STDMETHOD(Save)(IStorage* pStgSave, BOOL fSameAsLoad) PURE;
    STDMETHOD(SaveCompleted)(IStorage* pStgNew) PURE;
    STDMETHOD(HandsOffStorage)() PURE;
};

interface ISpecifyPropertyPages : public IUnknown {
    STDMETHOD(GetPages)(CAUUID* pPages) PURE;
};

interface IQuickActivate : public IUnknown {
    STDMETHOD(QuickActivate)(QACONTAINER* pQaContainer, QACONTROL* pQaControl) PURE;
    STDMETHOD(SetContentExtent)(LPSIZEL pSizel) PURE;
    STDMETHOD(GetContentExtent)(LPSIZEL pSizel) PURE;
};

interface IDataObject : public IUnknown {
    STDMETHOD(GetData)(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) PURE;
    STDMETHOD(GetDataHere)(FORMATETC* pformatetc, STGMEDIUM* pmedium) PURE;
    STDMETHOD(QueryGetData)(FORMATETC* pformatetc) PURE;
    STDMETHOD(GetCanonicalFormatEtc)(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) PURE;
    STDMETHOD(SetData)(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) PURE;
    STDMETHOD(EnumFormatEtc)(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) PURE;
    STDMETHOD(DAdvise)(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
    STDMETHOD(DUnadvise)(DWORD dwConnection) PURE;
    STDMETHOD(EnumDAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;
};

typedef BOOL(STDMETHODCALLTYPE* PFN_VIEWOBJECT_CONTINUE)(ULONG_PTR dwContinue);

interface IViewObject : public IUnknown {
    STDMETHOD(Draw)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hdcTargetDev,
                    HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds, PFN_VIEWOBJECT_CONTINUE pfnContinue,
                    ULONG_PTR dwContinue) PURE;
    STDMETHOD(GetColorSet)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                           LOGPALETTE** ppColorSet) PURE;
    STDMETHOD(Freeze)(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) PURE;
    STDMETHOD(Unfreeze)(DWORD dwFreeze) PURE;
    STDMETHOD(SetAdvise)(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) PURE;
    STDMETHOD(GetAdvise)(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) PURE;
};

interface IViewObject2 : public IViewObject {
    STDMETHOD(GetExtent)(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd, LPSIZEL lpsizel) PURE;
};

interface IViewObjectEx : public IViewObject2 {
    STDMETHOD(GetRect)(DWORD dwAspect, LPRECTL pRect) PURE;
    STDMETHOD(GetViewStatus)(DWORD* pdwStatus) PURE;
    STDMETHOD(QueryHitPoint)(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG lCloseHint,
                             DWORD* pHitResult) PURE;
    STDMETHOD(QueryHitRect)(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG lCloseHint,
                            DWORD* pHitResult) PURE;
    STDMETHOD(GetNaturalExtent)(DWORD dwAspect, LONG lindex, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                                DVEXTENTINFO* pExtentInfo, LPSIZEL pSizel) PURE;
};

interface IProvideClassInfo : public IUnknown {
    STDMETHOD(GetClassInfo)(ITypeInfo** ppTI) PURE;
};

interface IProvideClassInfo2 : public IProvideClassInfo {
    STDMETHOD(GetGUID)(DWORD dwGuidKind, GUID* pGUID) PURE;
};

interface IObjectSafety : public IUnknown {
    STDMETHOD(GetInterfaceSafetyOptions)(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) PURE;
    STDMETHOD(SetInterfaceSafetyOptions)(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) PURE;
};
