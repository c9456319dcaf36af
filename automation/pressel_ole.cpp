// The control's OLE embedding interfaces: answers of a full control where the
// control needs them (site, extent, in-place activation, persistence, safety,
// class information, design-time drawing), and openly unimplemented answers,
// with their debug lines, where the control leaves the container's request out.
#include <cstring>

#include "control/Pressel.h"
#include "win/base.h"
#include "win/gdi.h"

namespace {

// Persistent form of the control: a version word, then the extent.
constexpr DWORD kPersistVersion = 0x00010014;
constexpr ULONG kPersistBytes = 12;
constexpr const WCHAR* kContentsStream = u"Contents";

void PutDword(BYTE* p, DWORD v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

DWORD GetDword(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

template <typename T>
void Replace(T*& slot, T* value) {
    if (value) value->AddRef();
    if (slot) slot->Release();
    slot = value;
}

}  // namespace

CPresselOle::CPresselOle(CPressel* pOwner) : m_pOwner(pOwner) { stavlo::LockModule(); }

CPresselOle::~CPresselOle() {
    ReleaseSites();
    for (AdviseSlot& slot : m_oleSinks)
        if (slot.pSink) slot.pSink->Release();
    Replace(m_pViewSink, static_cast<IAdviseSink*>(nullptr));
    stavlo::UnlockModule();
}

void CPresselOle::ReleaseSites() {
    Replace(m_pInPlaceSite, static_cast<IOleInPlaceSite*>(nullptr));
    Replace(m_pClientSite, static_cast<IOleClientSite*>(nullptr));
}

// The list and its order are fixed; IPressel, IDispatch and the connection
// point container come first and are the control's own.
void* CPresselOle::Find(REFIID riid) {
    if (riid == IID_IViewObjectEx) return static_cast<IViewObjectEx*>(this);
    if (riid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
    if (riid == IID_IViewObject) return static_cast<IViewObject*>(this);
    if (riid == IID_IOleInPlaceObjectWindowless) return static_cast<IOleInPlaceObjectWindowless*>(this);
    if (riid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
    if (riid == IID_IOleWindow) return static_cast<IOleWindow*>(static_cast<IOleInPlaceObject*>(this));
    if (riid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
    if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (riid == IID_IPersistStreamInit) return static_cast<IPersistStreamInit*>(this);
    if (riid == IID_IPersist) return static_cast<IPersist*>(static_cast<IPersistStreamInit*>(this));
    if (riid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
    if (riid == IID_IQuickActivate) return static_cast<IQuickActivate*>(this);
    if (riid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
    if (riid == IID_IDataObject) return static_cast<IDataObject*>(this);
    if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
    if (riid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
    if (riid == IID_IObjectSafety) return static_cast<IObjectSafety*>(this);
    return nullptr;
}

HRESULT CPresselOle::QueryInterface(REFIID riid, void** ppv) { return m_pOwner->QueryInterface(riid, ppv); }
ULONG CPresselOle::AddRef() { return m_pOwner->AddRef(); }
ULONG CPresselOle::Release() { return m_pOwner->Release(); }

// ---- Views ----

HRESULT CPresselOle::Draw(DWORD dwDrawAspect, LONG /*lindex*/, void* /*pvAspect*/, DVTARGETDEVICE* /*ptd*/,
                          HDC /*hdcTargetDev*/, HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL /*lprcWBounds*/,
                          PFN_VIEWOBJECT_CONTINUE /*pfnContinue*/, ULONG_PTR /*dwContinue*/) {
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!hdcDraw) return E_INVALIDARG;
    RECT rc;
    if (lprcBounds) {
        rc = {lprcBounds->left, lprcBounds->top, lprcBounds->right, lprcBounds->bottom};
    } else if (m_bInPlaceActive) {
        rc = m_rcPos;
    } else {
        return E_INVALIDARG;
    }
    HGDIOBJ previous = SelectObject(hdcDraw, GetStockObject(WHITE_BRUSH));
    Rectangle(hdcDraw, rc.left, rc.top, rc.right, rc.bottom);
    SelectObject(hdcDraw, previous);
    DrawTextW(hdcDraw, stavlo::kDrawText, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    return S_OK;
}

HRESULT CPresselOle::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) { return E_NOTIMPL; }
HRESULT CPresselOle::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
HRESULT CPresselOle::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT CPresselOle::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) {
    Replace(m_pViewSink, pAdvSink);
    m_dwViewAspects = aspects;
    m_dwViewAdvf = advf;
    return S_OK;
}

HRESULT CPresselOle::GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) {
    if (pAspects) *pAspects = m_dwViewAspects;
    if (pAdvf) *pAdvf = m_dwViewAdvf;
    if (ppAdvSink) {
        *ppAdvSink = m_pViewSink;
        if (m_pViewSink) m_pViewSink->AddRef();
    }
    return S_OK;
}

HRESULT CPresselOle::GetExtent(DWORD dwDrawAspect, LONG, DVTARGETDEVICE*, LPSIZEL lpsizel) {
    return GetExtent(dwDrawAspect, lpsizel);
}

HRESULT CPresselOle::GetRect(DWORD, LPRECTL) { return E_NOTIMPL; }

HRESULT CPresselOle::GetViewStatus(DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    *pdwStatus = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
    return S_OK;
}

HRESULT CPresselOle::QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG, DWORD* pHitResult) {
    if (!pRectBounds || !pHitResult) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT) return E_FAIL;
    bool inside = ptlLoc.x >= pRectBounds->left && ptlLoc.x < pRectBounds->right && ptlLoc.y >= pRectBounds->top &&
                  ptlLoc.y < pRectBounds->bottom;
    *pHitResult = inside ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT CPresselOle::QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG, DWORD* pHitResult) {
    if (!pRectBounds || !pRectLoc || !pHitResult) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT) return E_FAIL;
    bool meet = pRectLoc->left < pRectBounds->right && pRectBounds->left < pRectLoc->right &&
                pRectLoc->top < pRectBounds->bottom && pRectBounds->top < pRectLoc->bottom;
    *pHitResult = meet ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT CPresselOle::GetNaturalExtent(DWORD dwAspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* pExtentInfo,
                                      LPSIZEL pSizel) {
    if (!pExtentInfo || !pSizel) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT || pExtentInfo->dwExtentMode != 0 /* DVEXTENT_CONTENT */) return E_FAIL;
    *pSizel = m_sizeExtent;
    return S_OK;
}

// ---- In-place object ----

HRESULT CPresselOle::GetWindow(HWND* phwnd) {
    if (!phwnd) return E_POINTER;
    *phwnd = nullptr;  // the control has no window of its own
    return E_FAIL;
}

HRESULT CPresselOle::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT CPresselOle::InPlaceDeactivate() {
    if (!m_bInPlaceActive) return S_OK;
    UIDeactivate();
    m_bInPlaceActive = false;
    if (m_pInPlaceSite) m_pInPlaceSite->OnInPlaceDeactivate();
    Replace(m_pInPlaceSite, static_cast<IOleInPlaceSite*>(nullptr));
    return S_OK;
}

HRESULT CPresselOle::UIDeactivate() {
    if (!m_bUIActive) return S_OK;
    m_bUIActive = false;
    if (m_pInPlaceSite) m_pInPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT CPresselOle::SetObjectRects(LPCRECT lprcPosRect, LPCRECT /*lprcClipRect*/) {
    if (!lprcPosRect) return E_POINTER;
    m_rcPos = *lprcPosRect;
    stavlo::DebugLine(u"CComControlBase::IOleInPlaceObject_SetObjectRects: WinCE does not support SetWindowRgn!\r\n");
    return S_OK;
}

HRESULT CPresselOle::ReactivateAndUndo() { return E_NOTIMPL; }

HRESULT CPresselOle::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* plResult) {
    if (plResult) *plResult = 0;
    return S_FALSE;  // the control handles no window messages
}

HRESULT CPresselOle::GetDropTarget(IDropTarget** ppDropTarget) {
    if (ppDropTarget) *ppDropTarget = nullptr;
    return E_NOTIMPL;
}

// ---- In-place active object ----

HRESULT CPresselOle::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT CPresselOle::OnFrameWindowActivate(BOOL) { return S_OK; }

HRESULT CPresselOle::OnDocWindowActivate(BOOL fActivate) {
    if (!fActivate) UIDeactivate();
    return S_OK;
}

HRESULT CPresselOle::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT CPresselOle::EnableModeless(BOOL) { return S_OK; }

// ---- Control ----

HRESULT CPresselOle::GetControlInfo(CONTROLINFO*) { return E_NOTIMPL; }
HRESULT CPresselOle::OnMnemonic(MSG*) { return E_NOTIMPL; }
HRESULT CPresselOle::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT CPresselOle::FreezeEvents(BOOL bFreeze) {
    if (bFreeze) {
        ++m_cFreezeEvents;
    } else if (m_cFreezeEvents > 0) {
        --m_cFreezeEvents;
    }
    return S_OK;
}

// ---- OLE object ----

HRESULT CPresselOle::SetClientSite(IOleClientSite* pClientSite) {
    if (!pClientSite) InPlaceDeactivate();
    Replace(m_pClientSite, pClientSite);
    return S_OK;
}

HRESULT CPresselOle::GetClientSite(IOleClientSite** ppClientSite) {
    if (!ppClientSite) return E_POINTER;
    *ppClientSite = m_pClientSite;
    if (m_pClientSite) m_pClientSite->AddRef();
    return S_OK;
}

HRESULT CPresselOle::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT CPresselOle::Close(DWORD /*dwSaveOption*/) {
    // Nothing of the control is worth saving on close: it has no content.
    InPlaceDeactivate();
    for (AdviseSlot& slot : m_oleSinks)
        if (slot.pSink) slot.pSink->Release();
    m_oleSinks.clear();
    Replace(m_pViewSink, static_cast<IAdviseSink*>(nullptr));
    return S_OK;
}

HRESULT CPresselOle::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT CPresselOle::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    if (ppmk) *ppmk = nullptr;
    return E_NOTIMPL;
}

HRESULT CPresselOle::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT CPresselOle::GetClipboardData(DWORD, IDataObject** ppDataObject) {
    if (ppDataObject) *ppDataObject = nullptr;
    return E_NOTIMPL;
}

bool CPresselOle::AmbientUserMode() {
    if (!m_pClientSite) return true;
    IDispatch* pAmbient = nullptr;
    if (FAILED(m_pClientSite->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pAmbient))) || !pAmbient)
        return true;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = pAmbient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                  &result, nullptr, nullptr);
    pAmbient->Release();
    bool userMode = true;
    if (SUCCEEDED(hr) && result.vt == VT_BOOL) userMode = result.boolVal != VARIANT_FALSE;
    VariantClear(&result);
    return userMode;
}

HRESULT CPresselOle::InPlaceActivate(LONG iVerb) {
    if (!m_pClientSite) return S_OK;
    if (!m_bInPlaceActive) {
        IOleInPlaceSite* pSite = nullptr;
        if (FAILED(m_pClientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&pSite))) || !pSite)
            return E_FAIL;
        if (pSite->CanInPlaceActivate() != S_OK) {
            pSite->Release();
            return E_FAIL;
        }
        Replace(m_pInPlaceSite, pSite);
        pSite->Release();
        m_bInPlaceActive = true;
        m_pInPlaceSite->OnInPlaceActivate();
    }
    bool wantUI = iVerb == OLEIVERB_PRIMARY || iVerb == OLEIVERB_SHOW || iVerb == OLEIVERB_UIACTIVATE;
    if (wantUI && !m_bUIActive) {
        m_bUIActive = true;
        m_pInPlaceSite->OnUIActivate();
    }
    return S_OK;
}

HRESULT CPresselOle::DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT lprcPosRect) {
    static const WCHAR* const kNoProperties = u"CComControlBase::DoVerbProperties: Not implemented\r\n";
    if (lprcPosRect) m_rcPos = *lprcPosRect;
    switch (iVerb) {
        case OLEIVERB_PROPERTIES:
            stavlo::DebugLine(kNoProperties);
            return E_NOTIMPL;
        case OLEIVERB_PRIMARY:
            if (!AmbientUserMode()) {
                stavlo::DebugLine(kNoProperties);
                return E_NOTIMPL;
            }
            return InPlaceActivate(iVerb);
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE:
            return InPlaceActivate(iVerb);
        case OLEIVERB_HIDE:
            UIDeactivate();
            return S_OK;
        case OLEIVERB_OPEN:
        case OLEIVERB_DISCARDUNDOSTATE:
            return S_OK;
        default:
            return E_NOTIMPL;
    }
}

HRESULT CPresselOle::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) {
    if (ppEnumOleVerb) *ppEnumOleVerb = nullptr;
    stavlo::DebugLine(u"IOleObjectImpl::EnumVerbs: Not implemented\r\n");
    return E_NOTIMPL;
}

HRESULT CPresselOle::Update() { return S_OK; }
HRESULT CPresselOle::IsUpToDate() { return S_OK; }

HRESULT CPresselOle::GetUserClassID(CLSID* pClsid) {
    if (!pClsid) return E_POINTER;
    *pClsid = CLSID_Pressel;
    return S_OK;
}

HRESULT CPresselOle::GetUserType(DWORD, LPOLESTR* pszUserType) {
    if (pszUserType) *pszUserType = nullptr;
    stavlo::DebugLine(u"IOleObjectImpl::GetUserType: Not implemented\r\n");
    return E_NOTIMPL;
}

HRESULT CPresselOle::SetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT) return E_FAIL;
    m_sizeExtent = *psizel;
    m_bRequiresSave = true;
    return S_OK;
}

HRESULT CPresselOle::GetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (!psizel) return E_POINTER;
    if (dwDrawAspect != DVASPECT_CONTENT) return E_FAIL;
    *psizel = m_sizeExtent;
    return S_OK;
}

HRESULT CPresselOle::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) {
    if (!pAdvSink || !pdwConnection) return E_INVALIDARG;
    pAdvSink->AddRef();
    m_oleSinks.push_back({++m_dwLastAdviseCookie, pAdvSink});
    *pdwConnection = m_dwLastAdviseCookie;
    return S_OK;
}

HRESULT CPresselOle::Unadvise(DWORD dwConnection) {
    for (auto it = m_oleSinks.begin(); it != m_oleSinks.end(); ++it) {
        if (it->dwCookie != dwConnection) continue;
        IAdviseSink* pSink = it->pSink;
        m_oleSinks.erase(it);
        pSink->Release();
        return S_OK;
    }
    return OLE_E_NOCONNECTION;
}

HRESULT CPresselOle::EnumAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (ppenumAdvise) *ppenumAdvise = nullptr;
    return E_NOTIMPL;
}

HRESULT CPresselOle::GetMiscStatus(DWORD, DWORD* pdwStatus) {
    if (pdwStatus) *pdwStatus = 0;
    stavlo::DebugLine(u"IOleObjectImpl::GetMiscStatus: Not implemented\r\n");
    return E_NOTIMPL;
}

HRESULT CPresselOle::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- Persistence ----

HRESULT CPresselOle::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_Pressel;
    return S_OK;
}

HRESULT CPresselOle::IsDirty() { return m_bRequiresSave ? S_OK : S_FALSE; }

HRESULT CPresselOle::Load(LPSTREAM pStm) {
    if (!pStm) return E_POINTER;
    BYTE bytes[kPersistBytes];
    ULONG got = 0;
    HRESULT hr = pStm->Read(bytes, kPersistBytes, &got);
    if (FAILED(hr)) return hr;
    if (got != kPersistBytes) return STG_E_READFAULT;
    if (GetDword(bytes) != kPersistVersion) return E_FAIL;
    m_sizeExtent.cx = static_cast<LONG>(GetDword(bytes + 4));
    m_sizeExtent.cy = static_cast<LONG>(GetDword(bytes + 8));
    m_bRequiresSave = false;
    return S_OK;
}

HRESULT CPresselOle::Save(LPSTREAM pStm, BOOL fClearDirty) {
    if (!pStm) return E_POINTER;
    BYTE bytes[kPersistBytes];
    PutDword(bytes, kPersistVersion);
    PutDword(bytes + 4, static_cast<DWORD>(m_sizeExtent.cx));
    PutDword(bytes + 8, static_cast<DWORD>(m_sizeExtent.cy));
    ULONG put = 0;
    HRESULT hr = pStm->Write(bytes, kPersistBytes, &put);
    if (FAILED(hr)) return hr;
    if (put != kPersistBytes) return STG_E_WRITEFAULT;
    if (fClearDirty) m_bRequiresSave = false;
    return S_OK;
}

HRESULT CPresselOle::GetSizeMax(ULARGE_INTEGER* pCbSize) {
    if (!pCbSize) return E_POINTER;
    pCbSize->QuadPart = kPersistBytes;
    return S_OK;
}

HRESULT CPresselOle::InitNew() {
    m_bRequiresSave = false;
    return S_OK;
}

HRESULT CPresselOle::InitNew(IStorage*) { return InitNew(); }

HRESULT CPresselOle::Load(IStorage* pStg) {
    if (!pStg) return E_POINTER;
    IStream* pStm = nullptr;
    HRESULT hr = pStg->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &pStm);
    if (FAILED(hr)) return hr;
    if (!pStm) return E_FAIL;
    hr = Load(pStm);
    pStm->Release();
    return hr;
}

HRESULT CPresselOle::Save(IStorage* pStgSave, BOOL fSameAsLoad) {
    if (!pStgSave) return E_POINTER;
    IStream* pStm = nullptr;
    HRESULT hr = pStgSave->CreateStream(kContentsStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &pStm);
    if (FAILED(hr)) return hr;
    if (!pStm) return E_FAIL;
    hr = Save(pStm, fSameAsLoad);
    pStm->Release();
    return hr;
}

HRESULT CPresselOle::SaveCompleted(IStorage*) { return S_OK; }
HRESULT CPresselOle::HandsOffStorage() { return S_OK; }

// ---- Property pages: the control has none ----

HRESULT CPresselOle::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    return S_OK;
}

// ---- Quick activation ----

HRESULT CPresselOle::QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) {
    if (!pQaContainer || !pQaControl) return E_POINTER;
    if (pQaContainer->cbSize < sizeof(QACONTAINER) || pQaControl->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
    ULONG cbControl = pQaControl->cbSize;
    std::memset(pQaControl, 0, sizeof(QACONTROL));
    pQaControl->cbSize = cbControl;
    SetClientSite(pQaContainer->pClientSite);
    if (pQaContainer->pAdviseSink)
        SetAdvise(DVASPECT_CONTENT, 0, reinterpret_cast<IAdviseSink*>(pQaContainer->pAdviseSink));
    if (pQaContainer->pUnkEventSink) {
        IConnectionPoint* pCP = nullptr;
        if (SUCCEEDED(m_pOwner->FindConnectionPoint(DIID__IPresselEvents, &pCP)) && pCP) {
            pCP->Advise(pQaContainer->pUnkEventSink, &pQaControl->dwEventCookie);
            pCP->Release();
        }
    }
    pQaControl->dwMiscStatus = stavlo::kMiscStatus;
    pQaControl->dwViewStatus = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;
    return S_OK;
}

HRESULT CPresselOle::SetContentExtent(LPSIZEL pSizel) { return SetExtent(DVASPECT_CONTENT, pSizel); }
HRESULT CPresselOle::GetContentExtent(LPSIZEL pSizel) { return GetExtent(DVASPECT_CONTENT, pSizel); }

// ---- Data object: no formats ----

HRESULT CPresselOle::GetData(FORMATETC* pformatetcIn, STGMEDIUM* /*pmedium*/) {
    if (pformatetcIn && (pformatetcIn->tymed & TYMED_MFPICT))
        stavlo::DebugLine(u"CComControlBase::IDataObject_GetData: WinCE does not support metafiles.\r\n");
    return DV_E_FORMATETC;
}

HRESULT CPresselOle::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT CPresselOle::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT CPresselOle::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT CPresselOle::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

HRESULT CPresselOle::EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) {
    if (ppenumFormatEtc) *ppenumFormatEtc = nullptr;
    return E_NOTIMPL;
}

HRESULT CPresselOle::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* pdwConnection) {
    if (pdwConnection) *pdwConnection = 0;
    stavlo::DebugLine(u"IDataObjectImpl::DAdvise: Not implemented\r\n");
    return E_NOTIMPL;
}

HRESULT CPresselOle::DUnadvise(DWORD) { return OLE_E_NOCONNECTION; }

HRESULT CPresselOle::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (ppenumAdvise) *ppenumAdvise = nullptr;
    return E_NOTIMPL;
}

// ---- Class information ----

HRESULT CPresselOle::GetClassInfo(ITypeInfo** ppTI) { return stavlo::GetTypeInfoOfGuid(CLSID_Pressel, ppTI); }

HRESULT CPresselOle::GetGUID(DWORD dwGuidKind, GUID* pGUID) {
    if (!pGUID) return E_POINTER;
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *pGUID = GUID_NULL;
        return E_INVALIDARG;
    }
    *pGUID = DIID__IPresselEvents;
    return S_OK;
}

// ---- Safety ----

HRESULT CPresselOle::GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions, DWORD* pdwEnabledOptions) {
    if (!pdwSupportedOptions || !pdwEnabledOptions) return E_POINTER;
    IUnknown* pUnk = nullptr;
    if (FAILED(m_pOwner->QueryInterface(riid, reinterpret_cast<void**>(&pUnk))) || !pUnk) {
        *pdwSupportedOptions = 0;
        *pdwEnabledOptions = 0;
        return E_NOINTERFACE;
    }
    pUnk->Release();
    *pdwSupportedOptions = stavlo::kInitialSafety;
    *pdwEnabledOptions = m_dwCurrentSafety;
    return S_OK;
}

HRESULT CPresselOle::SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask, DWORD dwEnabledOptions) {
    if (dwOptionSetMask & ~stavlo::kInitialSafety) return E_FAIL;
    IUnknown* pUnk = nullptr;
    if (FAILED(m_pOwner->QueryInterface(riid, reinterpret_cast<void**>(&pUnk))) || !pUnk) return E_NOINTERFACE;
    pUnk->Release();
    m_dwCurrentSafety = (m_dwCurrentSafety & ~dwOptionSetMask) | (dwEnabledOptions & dwOptionSetMask);
    return S_OK;
}
