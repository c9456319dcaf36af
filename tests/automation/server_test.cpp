// libstavlo.so as an in-process server: registration, version information,
// the unload check, the class factory and the interfaces an object answers.
#include "automation_fixture.h"

namespace automation_test {
namespace {

const char16_t* const kClsidKey = u"CLSID\\{6F1B2C4A-3D8E-4B71-9A52-0C7E4D9B1F31}";
const char16_t* const kTypeLibKey = u"TypeLib\\{6F1B2C49-3D8E-4B71-9A52-0C7E4D9B1F31}\\1.0";

std::string RegText(const char16_t* path, const char16_t* name = nullptr) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
    WCHAR buf[1024] = {};
    DWORD size = sizeof buf - 2, type = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? Narrow(buf) : "<absent>";
}

bool KeyExists(const std::u16string& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

using ServerTest = AutomationFixture;

TEST_F(ServerTest, RegistrationWritesTheClassAndTheTypeLibrary) {
    ASSERT_EQ(registerServer_(), S_OK);
    std::u16string clsid = kClsidKey;
    const std::string kDescription = "Quendrix Pressel Class V01.14";
    struct Case {
        std::u16string key;
        const char16_t* name;
        std::string value;
    } cases[] = {
        {u"Quendrix.Pressel.1", nullptr, kDescription},
        {u"Quendrix.Pressel.1\\CLSID", nullptr, "{6F1B2C4A-3D8E-4B71-9A52-0C7E4D9B1F31}"},
        {u"Quendrix.Pressel", nullptr, kDescription},
        {u"Quendrix.Pressel\\CLSID", nullptr, "{6F1B2C4A-3D8E-4B71-9A52-0C7E4D9B1F31}"},
        {u"Quendrix.Pressel\\CurVer", nullptr, "Quendrix.Pressel.1"},
        {clsid, nullptr, kDescription},
        {clsid + u"\\ProgID", nullptr, "Quendrix.Pressel.1"},
        {clsid + u"\\VersionIndependentProgID", nullptr, "Quendrix.Pressel"},
        {clsid + u"\\InprocServer32", nullptr, kLibrary},
        {clsid + u"\\InprocServer32", u"ThreadingModel", "Apartment"},
        {clsid + u"\\ToolboxBitmap32", nullptr, kLibrary + ", 101"},
        {clsid + u"\\MiscStatus", nullptr, "0"},
        {clsid + u"\\MiscStatus\\1", nullptr, "132497"},
        {clsid + u"\\TypeLib", nullptr, "{6F1B2C49-3D8E-4B71-9A52-0C7E4D9B1F31}"},
        {clsid + u"\\Version", nullptr, "1.0"},
        {kTypeLibKey, nullptr, "Quendrix Pressel Library V01.14"},
        {std::u16string(kTypeLibKey) + u"\\409\\win32", nullptr, kLibrary},
    };
    for (const Case& c : cases) EXPECT_EQ(RegText(c.key.c_str(), c.name), c.value) << Narrow(c.key.c_str());
    for (const char16_t* bare : {u"\\Programmable", u"\\Control", u"\\Insertable"})
        EXPECT_TRUE(KeyExists(clsid + bare)) << Narrow(bare);
    EXPECT_TRUE(KeyExists(u"Quendrix.Pressel.1\\Insertable"));
}

TEST_F(ServerTest, UnregistrationKeepsTheClsidRootAndTheTypeLibrary) {
    EXPECT_EQ(unregisterServer_(), S_OK);  // nothing registered yet
    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(unregisterServer_(), S_OK);
    EXPECT_FALSE(KeyExists(kClsidKey));
    EXPECT_FALSE(KeyExists(u"Quendrix.Pressel"));
    EXPECT_FALSE(KeyExists(u"Quendrix.Pressel.1"));
    EXPECT_TRUE(KeyExists(u"CLSID"));
    EXPECT_EQ(RegText(kTypeLibKey), "Quendrix Pressel Library V01.14");
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_STAVLOLib, 1, 0, 0, &lib), S_OK);
    if (lib) lib->Release();
    EXPECT_EQ(unregisterServer_(), S_OK);  // twice is still fine
}

TEST_F(ServerTest, RegistrationReplacesTheWholeClassKey) {
    ASSERT_EQ(registerServer_(), S_OK);
    HKEY stale = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::u16string(kClsidKey) + u"\\Stale").c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stale);
    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_FALSE(KeyExists(std::u16string(kClsidKey) + u"\\Stale"));
    EXPECT_TRUE(KeyExists(std::u16string(kClsidKey) + u"\\InprocServer32"));
}

TEST_F(ServerTest, VersionInformationIsReadableFromTheFile) {
    std::u16string file = U16(kLibrary);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, block.data()));
    void* value = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &len));
    auto* fixed = static_cast<VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x0001000Eu);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x0001000Eu);
    EXPECT_EQ(fixed->dwFileType, VFT_DLL);
    EXPECT_EQ(fixed->dwFileOS & 0xFFFFu, VOS__WINDOWS32);
    struct {
        const char16_t* key;
        const char* text;
    } strings[] = {{u"FileDescription", "Pressel Control"}, {u"ProductName", "Pressel Control"},
                   {u"FileVersion", "1.14"},                {u"ProductVersion", "1.14"},
                   {u"Comments", "Certified."},             {u"OriginalFilename", "Stavlo.DLL"}};
    for (const auto& s : strings) {
        std::u16string path = std::u16string(u"\\StringFileInfo\\040904B0\\") + s.key;
        ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), &value, &len)) << Narrow(s.key);
        EXPECT_EQ(Narrow(static_cast<const WCHAR*>(value)), s.text);
    }
}

TEST_F(ServerTest, UnloadWaitsForObjectsAndServerLocks) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject_(CLSID_Pressel, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);  // the factory alone holds nothing
    IPressel* first = nullptr;
    IPressel* second = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPressel, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPressel, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    first->Release();
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    second->Release();
    EXPECT_EQ(canUnloadNow_(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);
    factory->Release();

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject_(IID_IPressel, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
}

// A controlling object that counts its references.
class Outer final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(ServerTest, AggregationOnlyForIUnknown) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject_(CLSID_Pressel, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    Outer outer;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IPressel, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(canUnloadNow_(), S_OK);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    IPressel* pressel = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IPressel, reinterpret_cast<void**>(&pressel)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the inner object's interfaces count on the outer object
    IUnknown* identity = nullptr;
    ASSERT_EQ(pressel->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, &outer);
    identity->Release();
    pressel->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    outer.inner->Release();
    EXPECT_EQ(canUnloadNow_(), S_OK);
    factory->Release();
}

TEST_F(ServerTest, AnswersExactlyTheControlInterfaces) {
    IDispatch* disp = Create();
    ASSERT_NE(disp, nullptr);
    IUnknown* identity = nullptr;
    ASSERT_EQ(disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    const IID* answered[] = {&IID_IPressel,
                             &IID_IDispatch,
                             &IID_IViewObjectEx,
                             &IID_IViewObject2,
                             &IID_IViewObject,
                             &IID_IOleInPlaceObjectWindowless,
                             &IID_IOleInPlaceObject,
                             &IID_IOleWindow,
                             &IID_IOleInPlaceActiveObject,
                             &IID_IOleControl,
                             &IID_IOleObject,
                             &IID_IPersistStreamInit,
                             &IID_IPersist,
                             &IID_IConnectionPointContainer,
                             &IID_ISpecifyPropertyPages,
                             &IID_IQuickActivate,
                             &IID_IPersistStorage,
                             &IID_IDataObject,
                             &IID_IProvideClassInfo,
                             &IID_IProvideClassInfo2,
                             &IID_IObjectSafety};
    for (size_t i = 0; i < std::size(answered); ++i) {
        IUnknown* itf = nullptr;
        ASSERT_EQ(disp->QueryInterface(*answered[i], reinterpret_cast<void**>(&itf)), S_OK) << "entry " << i;
        IUnknown* back = nullptr;
        ASSERT_EQ(itf->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, identity) << "entry " << i;
        back->Release();
        itf->Release();
    }
    for (const IID* refused : {&IID_ISupportErrorInfo, &IID_IClassFactory, &IID_IOleClientSite, &IID_IStream}) {
        void* itf = reinterpret_cast<void*>(1);
        EXPECT_EQ(disp->QueryInterface(*refused, &itf), E_NOINTERFACE);
        EXPECT_EQ(itf, nullptr);
    }
    identity->Release();
    disp->Release();
}

}  // namespace
}  // namespace automation_test
