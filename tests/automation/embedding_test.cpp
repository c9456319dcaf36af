// The control as a container sees it: the embedding calls it leaves out and
// their debug lines, verbs, safety options, persistence round trip, drawing.
#include <cstring>
#include <functional>

#include "automation_fixture.h"

namespace automation_test {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A client site that answers one more interface, Second, besides
// IOleClientSite; it counts references and does nothing else of its own.
template <class Second, const IID& kSecondIid>
class ClientSite : public IOleClientSite, public Second {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *ppv = static_cast<IOleClientSite*>(this);
        } else if (riid == kSecondIid) {
            *ppv = static_cast<Second*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer**) override { return E_NOTIMPL; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    ULONG refs = 0;
};

// A client site whose ambient user mode is given.
class Site final : public ClientSite<IDispatch, IID_IDispatch> {
public:
    explicit Site(bool userMode) : userMode_(userMode) {}
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_BOOL;
        result->boolVal = userMode_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    bool userMode_;
};

// A site that hosts in-place activation and records the calls it gets.
class InPlaceSite final : public ClientSite<IOleInPlaceSite, IID_IOleInPlaceSite> {
public:
    STDMETHODIMP GetWindow(HWND*) override { return E_FAIL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return Note("can", allow ? S_OK : S_FALSE); }
    STDMETHODIMP OnInPlaceActivate() override { return Note("active", S_OK); }
    STDMETHODIMP OnUIActivate() override { return Note("ui", S_OK); }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame**, IOleInPlaceUIWindow**, LPRECT, LPRECT,
                                  LPOLEINPLACEFRAMEINFO) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return Note("ui-off", S_OK); }
    STDMETHODIMP OnInPlaceDeactivate() override { return Note("off", S_OK); }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    HRESULT Note(const char* what, HRESULT hr) {
        calls += std::string(calls.empty() ? "" : " ") + what;
        return hr;
    }
    std::string calls;
    bool allow = true;
};

// An in-memory stream: only Read and Write are used by the control.
class MemoryStream final : public IStream {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        ULONG n = static_cast<ULONG>(std::min<size_t>(cb, bytes.size() - pos));
        std::memcpy(pv, bytes.data() + pos, n);
        pos += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        bytes.append(static_cast<const char*>(pv), cb);
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
    std::string bytes;
    size_t pos = 0;
};

class EmbeddingTest : public AutomationFixture {
protected:
    void SetUp() override {
        AutomationFixture::SetUp();
        disp_ = Create();
        ASSERT_NE(disp_, nullptr);
    }
    void TearDown() override {
        if (disp_) disp_->Release();
        AutomationFixture::TearDown();
    }
    template <typename T>
    T* As(REFIID iid) {
        T* p = nullptr;
        EXPECT_EQ(disp_->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
        return p;
    }
    IDispatch* disp_ = nullptr;
};

TEST_F(EmbeddingTest, UnimplementedCallsAnswerWithTheirDebugLines) {
    IOleObject* ole = As<IOleObject>(IID_IOleObject);
    IDataObject* data = As<IDataObject>(IID_IDataObject);
    IOleInPlaceObject* inPlace = As<IOleInPlaceObject>(IID_IOleInPlaceObject);
    ASSERT_TRUE(ole && data && inPlace);
    FORMATETC metafile = {1, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    FORMATETC global = {1, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    IEnumOLEVERB* verbs = nullptr;
    LPOLESTR userType = nullptr;
    DWORD status = 0xDEADBEEF, connection = 0;
    RECT pos = {1, 2, 30, 40};
    const struct {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT answer;
        const char* line;
    } cases[] = {
        {"EnumVerbs", [&] { return ole->EnumVerbs(&verbs); }, E_NOTIMPL,
         "IOleObjectImpl::EnumVerbs: Not implemented\r\n"},
        {"GetUserType", [&] { return ole->GetUserType(USERCLASSTYPE_FULL, &userType); }, E_NOTIMPL,
         "IOleObjectImpl::GetUserType: Not implemented\r\n"},
        {"GetMiscStatus", [&] { return ole->GetMiscStatus(DVASPECT_CONTENT, &status); }, E_NOTIMPL,
         "IOleObjectImpl::GetMiscStatus: Not implemented\r\n"},
        {"properties verb", [&] { return ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, nullptr, nullptr); },
         E_NOTIMPL, "CComControlBase::DoVerbProperties: Not implemented\r\n"},
        {"open verb", [&] { return ole->DoVerb(OLEIVERB_OPEN, nullptr, nullptr, 0, nullptr, nullptr); }, S_OK, ""},
        {"discard undo",
         [&] { return ole->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, nullptr, 0, nullptr, nullptr); }, S_OK, ""},
        {"positive verb", [&] { return ole->DoVerb(3, nullptr, nullptr, 0, nullptr, nullptr); }, E_NOTIMPL, ""},
        {"DAdvise", [&] { return data->DAdvise(&global, 0, nullptr, &connection); }, E_NOTIMPL,
         "IDataObjectImpl::DAdvise: Not implemented\r\n"},
        {"GetData metafile", [&] { return data->GetData(&metafile, &medium); }, DV_E_FORMATETC,
         "CComControlBase::IDataObject_GetData: WinCE does not support metafiles.\r\n"},
        {"GetData global", [&] { return data->GetData(&global, &medium); }, DV_E_FORMATETC, ""},
        {"SetObjectRects", [&] { return inPlace->SetObjectRects(&pos, &pos); }, S_OK,
         "CComControlBase::IOleInPlaceObject_SetObjectRects: WinCE does not support SetWindowRgn!\r\n"},
    };
    for (const auto& c : cases) {
        CaptureStderr();
        HRESULT hr = c.call();
        EXPECT_EQ(GetCapturedStderr(), c.line) << c.what;
        EXPECT_EQ(hr, c.answer) << c.what;
    }
    EXPECT_EQ(status, 0u);
    inPlace->Release();
    data->Release();
    ole->Release();
}

TEST_F(EmbeddingTest, PrimaryVerbDependsOnTheContainerMode) {
    IOleObject* ole = As<IOleObject>(IID_IOleObject);
    ASSERT_NE(ole, nullptr);
    Site design(false), running(true);
    ASSERT_EQ(ole->SetClientSite(&design), S_OK);
    CaptureStderr();
    EXPECT_EQ(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, &design, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(GetCapturedStderr(), "CComControlBase::DoVerbProperties: Not implemented\r\n");

    // In user mode the primary verb activates in place; this site cannot host
    // it, so the activation fails without a debug line.
    ASSERT_EQ(ole->SetClientSite(&running), S_OK);
    EXPECT_EQ(design.refs, 0u);
    CaptureStderr();
    EXPECT_EQ(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, &running, 0, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(GetCapturedStderr(), "");
    IOleClientSite* site = nullptr;
    EXPECT_EQ(ole->GetClientSite(&site), S_OK);
    EXPECT_EQ(site, &running);
    site->Release();
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(running.refs, 0u);
    ole->Release();
}

TEST_F(EmbeddingTest, SafetyOptionsAreSetFromCreation) {
    IObjectSafety* safety = As<IObjectSafety>(IID_IObjectSafety);
    ASSERT_NE(safety, nullptr);
    DWORD supported = 0, enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 3u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_DATA, 0), S_OK);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPressel, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 1u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x10, 0x10), E_FAIL);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_ISupportErrorInfo, &supported, &enabled), E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    safety->Release();
}

TEST_F(EmbeddingTest, ExtentSurvivesAStreamRoundTrip) {
    IOleObject* ole = As<IOleObject>(IID_IOleObject);
    IPersistStreamInit* persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_TRUE(ole && persist);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_Pressel);
    EXPECT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    SIZEL extent = {1234, 567};
    EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(ole->SetExtent(DVASPECT_ICON, &extent), E_FAIL);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    MemoryStream stream;
    EXPECT_EQ(persist->Save(&stream, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    EXPECT_EQ(stream.bytes.size(), 12u);

    IDispatch* other = Create();
    IPersistStreamInit* otherPersist = nullptr;
    ASSERT_EQ(other->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&otherPersist)), S_OK);
    EXPECT_EQ(otherPersist->Load(&stream), S_OK);
    IOleObject* otherOle = nullptr;
    ASSERT_EQ(other->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&otherOle)), S_OK);
    SIZEL read = {};
    EXPECT_EQ(otherOle->GetExtent(DVASPECT_CONTENT, &read), S_OK);
    EXPECT_EQ(read.cx, 1234);
    EXPECT_EQ(read.cy, 567);

    // Short or foreign content is refused and leaves the extent alone.
    MemoryStream shortStream;
    shortStream.bytes = stream.bytes.substr(0, 7);
    EXPECT_EQ(otherPersist->Load(&shortStream), STG_E_READFAULT);
    MemoryStream foreign;
    foreign.bytes = std::string(12, '\x7f');
    EXPECT_EQ(otherPersist->Load(&foreign), E_FAIL);
    EXPECT_EQ(otherOle->GetExtent(DVASPECT_CONTENT, &read), S_OK);
    EXPECT_EQ(read.cx, 1234);
    otherOle->Release();
    otherPersist->Release();
    other->Release();
    persist->Release();
    ole->Release();
}

TEST_F(EmbeddingTest, DrawsAFramedCentredCaption) {
    IViewObject* view = As<IViewObject>(IID_IViewObject);
    ASSERT_NE(view, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 200;
    info.bmiHeader.biHeight = -40;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 200, 40};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

    RECTL bounds = {0, 0, 200, 40};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
    // The frame is drawn with the current pen, the inside with the white brush.
    EXPECT_EQ(GetPixel(dc, 0, 0), black);
    EXPECT_EQ(GetPixel(dc, 199, 39), black);
    EXPECT_EQ(GetPixel(dc, 2, 2), white);
    // The caption is dark ink somewhere on the middle row, nowhere near the edges.
    int inkMiddle = 0, inkEdges = 0;
    for (int x = 1; x < 199; ++x)
        for (int y = 1; y < 39; ++y) {
            bool ink = GetPixel(dc, x, y) != white;
            if (ink && x > 10 && x < 190 && y > 10 && y < 30) ++inkMiddle;
            if (ink && (x < 5 || x > 195 || y < 5 || y > 35)) ++inkEdges;
        }
    EXPECT_GT(inkMiddle, 50);
    EXPECT_EQ(inkEdges, 0);
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    view->Release();
}

TEST_F(EmbeddingTest, InPlaceActivationIsNegotiatedWithTheSite) {
    IOleObject* ole = As<IOleObject>(IID_IOleObject);
    IOleInPlaceObject* inPlace = As<IOleInPlaceObject>(IID_IOleInPlaceObject);
    ASSERT_TRUE(ole && inPlace);
    InPlaceSite site;
    site.allow = false;
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(site.calls, "can");
    site.calls.clear();
    site.allow = true;
    RECT pos = {0, 0, 80, 20};
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, &pos), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, nullptr), S_OK);  // already
    EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);  // nothing more to do
    EXPECT_EQ(site.calls, "can active ui ui-off off");
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);  // windowless
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.refs, 0u);
    inPlace->Release();
    ole->Release();
}

TEST_F(EmbeddingTest, QuickActivationConnectsTheEventSink) {
    IQuickActivate* quick = As<IQuickActivate>(IID_IQuickActivate);
    ASSERT_NE(quick, nullptr);
    std::vector<Event> log;
    Sink events(1, &log);
    Site site(true);
    QACONTAINER container = {};
    container.cbSize = sizeof container;
    container.pClientSite = &site;
    container.pUnkEventSink = &events;
    QACONTROL control = {};
    control.cbSize = sizeof control;
    EXPECT_EQ(quick->QuickActivate(&container, &control), S_OK);
    EXPECT_EQ(control.dwMiscStatus, 132497u);
    EXPECT_EQ(control.dwViewStatus, 3u);
    EXPECT_NE(control.dwEventCookie, 0u);
    EXPECT_EQ(Call(disp_, u"InvokeEventMessage", DISPATCH_METHOD, {I4(3), I4(4)}), S_OK);
    EXPECT_EQ(log, (std::vector<Event>{{1, DISPID_NotifyMessage, 3, 4}}));
    QACONTROL small = {};
    small.cbSize = 4;
    EXPECT_EQ(quick->QuickActivate(&container, &small), E_INVALIDARG);

    IConnectionPoint* cp = EventsPoint(disp_);
    EXPECT_EQ(cp->Unadvise(control.dwEventCookie), S_OK);
    cp->Release();
    IOleObject* ole = As<IOleObject>(IID_IOleObject);
    ole->SetClientSite(nullptr);
    ole->Release();
    EXPECT_EQ(site.refs, 0u);
    EXPECT_EQ(events.refs, 0u);
    quick->Release();
}

}  // namespace
}  // namespace automation_test
