// ITypeLib and ITypeInfo over a parsed type library, loading from a
// library's "TYPELIB" resource or a text file, and registration.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "com/regread.h"
#include "com/rsrc.h"
#include "com/typelib_model.h"
#include "core/utf.h"
#include "win/base.h"
#include "win/objbase.h"
#include "win/registry.h"

#define TYPE_E_BADMODULEKIND ((HRESULT)0x800288BDL)

namespace platform::typelib {
namespace {

using LibraryPtr = std::shared_ptr<const Library>;

BSTR Bstr(const std::u16string& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

void SetErrorText(const std::string& text) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    std::u16string wide = FromUtf8(text);
    create->SetDescription(wide.data());
    create->SetSource(const_cast<LPOLESTR>(u"LoadTypeLib"));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

template <class Interface>
class RefCounted : public Interface {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;
    HRESULT Answer(REFIID riid, REFIID own, void** ppv) {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == own) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> refs_{1};
};

ITypeLib* NewTypeLib(LibraryPtr lib);

class TypeInfo final : public RefCounted<ITypeInfo> {
public:
    TypeInfo(LibraryPtr lib, size_t index) : lib_(std::move(lib)), index_(index) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Answer(riid, IID_ITypeInfo, ppv); }

    STDMETHODIMP GetTypeAttr(TYPEATTR** ppTypeAttr) override {
        if (!ppTypeAttr) return E_INVALIDARG;
        const Type& t = type();
        auto* attr = new TYPEATTR{};
        attr->guid = t.guid;
        attr->lcid = lib_->lcid;
        attr->memidConstructor = MEMBERID_NIL;
        attr->memidDestructor = MEMBERID_NIL;
        attr->cbSizeInstance = sizeof(void*);
        attr->typekind = t.kind;
        attr->cFuncs = static_cast<WORD>(t.funcs.size());
        attr->cImplTypes = static_cast<WORD>(t.kind == TKIND_COCLASS ? t.impls.size() : (t.base ? 1 : 0));
        if (t.kind == TKIND_INTERFACE) attr->cbSizeVft = static_cast<WORD>((t.baseSlots + t.funcs.size()) * 8);
        if (t.kind == TKIND_DISPATCH) attr->cbSizeVft = 7 * 8;
        attr->cbAlignment = 8;
        attr->wTypeFlags = t.flags;
        attr->wMajorVerNum = lib_->major;
        attr->wMinorVerNum = lib_->minor;
        attr->tdescAlias.vt = VT_EMPTY;
        *ppTypeAttr = attr;
        return S_OK;
    }
    STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
        if (!ppFuncDesc) return E_INVALIDARG;
        *ppFuncDesc = nullptr;
        const Type& t = type();
        if (index >= t.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
        const Func& f = t.funcs[index];
        size_t extras = 0;
        for (const Param& p : f.params) extras += static_cast<size_t>(p.type.pointers);
        // One block: the FUNCDESC, its parameters, then the pointed-to type descriptions.
        size_t size = sizeof(FUNCDESC) + f.params.size() * sizeof(ELEMDESC) + extras * sizeof(TYPEDESC);
        auto* block = static_cast<unsigned char*>(std::calloc(1, size));
        if (!block) return E_OUTOFMEMORY;
        auto* desc = reinterpret_cast<FUNCDESC*>(block);
        auto* params = reinterpret_cast<ELEMDESC*>(block + sizeof(FUNCDESC));
        auto* extra = reinterpret_cast<TYPEDESC*>(block + sizeof(FUNCDESC) + f.params.size() * sizeof(ELEMDESC));
        desc->memid = f.id;
        desc->lprgelemdescParam = f.params.empty() ? nullptr : params;
        desc->funckind = t.kind == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        desc->invkind = f.kind;
        desc->callconv = CC_STDCALL;
        desc->cParams = static_cast<SHORT>(f.params.size());
        desc->oVft = t.kind == TKIND_DISPATCH ? 0 : f.vtableOffset;
        desc->elemdescFunc.tdesc.vt = t.kind == TKIND_DISPATCH ? VT_VOID : VT_HRESULT;
        desc->wFuncFlags = f.flags;
        for (size_t i = 0; i < f.params.size(); ++i) {
            TYPEDESC* d = &params[i].tdesc;
            const TypeSpec& type = f.params[i].type;
            for (int k = 0; k < type.pointers; ++k) {
                d->vt = VT_PTR;
                d->lptdesc = extra++;
                d = d->lptdesc;
            }
            d->vt = type.vt;
            if (type.vt == VT_USERDEFINED) d->hreftype = type.ref;
            params[i].paramdesc.wParamFlags = f.params[i].flags;
        }
        *ppFuncDesc = desc;
        return S_OK;
    }
    STDMETHODIMP GetVarDesc(UINT, VARDESC** ppVarDesc) override {
        if (ppVarDesc) *ppVarDesc = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;  // no type here has variables
    }
    STDMETHODIMP GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override {
        if (!pcNames || (cMaxNames && !rgBstrNames)) return E_INVALIDARG;
        *pcNames = 0;
        const Func* f = FindFunc(memid);
        if (!f) return TYPE_E_ELEMENTNOTFOUND;
        std::vector<const std::u16string*> names{&f->name};
        for (const Param& p : f->params)
            if (!p.name.empty()) names.push_back(&p.name);
        UINT n = 0;
        for (; n < names.size() && n < cMaxNames; ++n) rgBstrNames[n] = Bstr(*names[n]);
        *pcNames = n;
        return S_OK;
    }
    STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override {
        if (!pRefType) return E_INVALIDARG;
        HREFTYPE ref = 0;
        INT flags = 0;
        if (!ImplType(index, &ref, &flags)) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = ref;
        return S_OK;
    }
    STDMETHODIMP GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override {
        if (!pImplTypeFlags) return E_INVALIDARG;
        HREFTYPE ref = 0;
        INT flags = 0;
        if (!ImplType(index, &ref, &flags)) return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = flags;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override {
        if (!rgszNames || !pMemId || cNames == 0) return E_INVALIDARG;
        for (UINT i = 0; i < cNames; ++i) pMemId[i] = DISPID_UNKNOWN;
        const Type& t = type();
        const Func* member = nullptr;
        for (const Func& f : t.funcs)
            if (rgszNames[0] && SameName(f.name, rgszNames[0])) {
                member = &f;
                break;
            }
        if (!member) return DISP_E_UNKNOWNNAME;
        pMemId[0] = member->id;
        HRESULT hr = S_OK;
        // Parameter names: their positions, looked for in every function of
        // that name (a property's get and put share it).
        for (UINT i = 1; i < cNames; ++i) {
            for (const Func& f : t.funcs) {
                if (f.id != member->id || !rgszNames[i]) continue;
                for (size_t p = 0; p < f.params.size(); ++p)
                    if (!f.params[p].name.empty() && SameName(f.params[p].name, rgszNames[i]))
                        pMemId[i] = static_cast<MEMBERID>(p);
                if (pMemId[i] != DISPID_UNKNOWN) break;
            }
            if (pMemId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                        EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        const WORD kinds = DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
        if (!(wFlags & kinds)) return E_INVALIDARG;
        const Type& t = type();
        const Func* chosen = nullptr;
        for (const Func& f : t.funcs) {
            if (f.id != memid) continue;
            bool fits = (wFlags & f.kind) != 0 ||
                        (f.kind == INVOKE_FUNC && (wFlags & DISPATCH_PROPERTYGET) && f.HasRetval());
            if (fits) {
                chosen = &f;
                break;
            }
        }
        if (!chosen) return DISP_E_MEMBERNOTFOUND;
        if (!pvInstance) return E_INVALIDARG;
        if (t.kind == TKIND_DISPATCH) {
            // An IDispatch::Invoke that forwards here again would recurse
            // without end; legitimate nesting (event handlers) stays shallow.
            thread_local int depth = 0;
            if (depth >= 64) return DISP_E_BADCALLEE;
            ++depth;
            auto* dispatch = static_cast<IDispatch*>(pvInstance);
            HRESULT hr = dispatch->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, pDispParams, pVarResult,
                                          pExcepInfo, puArgErr);
            --depth;
            return hr;
        }
        return InvokeVtable(*chosen, pvInstance, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    }
    STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                  BSTR* pBstrHelpFile) override {
        const std::u16string* name;
        const std::u16string* help;
        DWORD context;
        if (memid == MEMBERID_NIL) {
            name = &type().name;
            help = &type().help;
            context = type().helpContext;
        } else {
            const Func* f = FindFunc(memid);
            if (!f) return TYPE_E_ELEMENTNOTFOUND;
            name = &f->name;
            help = &f->help;
            context = f->helpContext;
        }
        if (pBstrName) *pBstrName = Bstr(*name);
        if (pBstrDocString) *pBstrDocString = help->empty() ? nullptr : Bstr(*help);
        if (pdwHelpContext) *pdwHelpContext = context;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_BADMODULEKIND; }
    STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (hRefType == kRefIUnknown || hRefType == kRefIDispatch) {
            static const LibraryPtr builtin(&BuiltinLibrary(), [](const Library*) {});
            *ppTInfo = new TypeInfo(builtin, hRefType - kRefIUnknown);
            return S_OK;
        }
        if (hRefType >= lib_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = new TypeInfo(lib_, hRefType);
        return S_OK;
    }
    STDMETHODIMP AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) override {
        if (ppv) *ppv = nullptr;
        return TYPE_E_BADMODULEKIND;
    }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override {
        if (!ppvObj) return E_INVALIDARG;
        *ppvObj = nullptr;
        if (type().kind != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;
        return CoCreateInstance(type().guid, pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
    }
    STDMETHODIMP GetMops(MEMBERID, BSTR* pBstrMops) override {
        if (pBstrMops) *pBstrMops = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override {
        if (ppTLib) *ppTLib = NewTypeLib(lib_);
        if (pIndex) *pIndex = static_cast<UINT>(index_);
        return S_OK;
    }
    STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR* pTypeAttr) override { delete pTypeAttr; }
    STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC* pFuncDesc) override { std::free(pFuncDesc); }
    STDMETHODIMP_(void) ReleaseVarDesc(VARDESC*) override {}

private:
    const Type& type() const { return lib_->types[index_]; }
    // The index'th implemented type: a coclass lists its interfaces, an
    // interface has at most its base (with no flags).
    bool ImplType(UINT index, HREFTYPE* ref, INT* flags) const {
        const Type& t = type();
        if (t.kind == TKIND_COCLASS) {
            if (index >= t.impls.size()) return false;
            *ref = t.impls[index].ref;
            *flags = t.impls[index].flags;
            return true;
        }
        if (index != 0 || !t.base) return false;
        *ref = t.base;
        *flags = 0;
        return true;
    }
    const Func* FindFunc(MEMBERID memid) const {
        for (const Func& f : type().funcs)
            if (f.id == memid) return &f;
        return nullptr;
    }

    LibraryPtr lib_;
    size_t index_;
};

class TypeLib final : public RefCounted<ITypeLib> {
public:
    explicit TypeLib(LibraryPtr lib) : lib_(std::move(lib)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return Answer(riid, IID_ITypeLib, ppv); }

    STDMETHODIMP_(UINT) GetTypeInfoCount() override { return static_cast<UINT>(lib_->types.size()); }
    STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (index >= lib_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = new TypeInfo(lib_, index);
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
        if (!pTKind) return E_INVALIDARG;
        if (index >= lib_->types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = lib_->types[index].kind;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_INVALIDARG;
        *ppTinfo = nullptr;
        for (size_t i = 0; i < lib_->types.size(); ++i)
            if (lib_->types[i].guid == guid) return GetTypeInfo(static_cast<UINT>(i), ppTinfo);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_INVALIDARG;
        auto* attr = new TLIBATTR{};
        attr->guid = lib_->guid;
        attr->lcid = lib_->lcid;
        attr->syskind = SYS_WIN32;
        attr->wMajorVerNum = lib_->major;
        attr->wMinorVerNum = lib_->minor;
        attr->wLibFlags = lib_->flags;
        *ppTLibAttr = attr;
        return S_OK;
    }
    STDMETHODIMP GetTypeComp(ITypeComp** ppTComp) override {
        if (ppTComp) *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                  BSTR* pBstrHelpFile) override {
        const std::u16string* name;
        const std::u16string* help;
        DWORD context;
        if (index == -1) {
            name = &lib_->name;
            help = &lib_->help;
            context = lib_->helpContext;
        } else if (index >= 0 && static_cast<size_t>(index) < lib_->types.size()) {
            name = &lib_->types[index].name;
            help = &lib_->types[index].help;
            context = lib_->types[index].helpContext;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        if (pBstrName) *pBstrName = Bstr(*name);
        if (pBstrDocString) *pBstrDocString = help->empty() ? nullptr : Bstr(*help);
        if (pdwHelpContext) *pdwHelpContext = context;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        return S_OK;
    }
    STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) override {
        if (!szNameBuf || !pfName) return E_INVALIDARG;
        *pfName = FALSE;
        auto check = [&](const std::u16string& name) {
            if (*pfName || !SameName(name, szNameBuf)) return;
            *pfName = TRUE;
            name.copy(szNameBuf, name.size());  // the stored spelling, as documented
        };
        for (const Type& t : lib_->types) {
            check(t.name);
            for (const Func& f : t.funcs) {
                check(f.name);
                for (const Param& p : f.params)
                    if (!p.name.empty()) check(p.name);
            }
        }
        return S_OK;
    }
    STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                          USHORT* pcFound) override {
        if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound) return E_INVALIDARG;
        USHORT found = 0;
        for (size_t i = 0; i < lib_->types.size() && found < *pcFound; ++i) {
            const Type& t = lib_->types[i];
            MEMBERID id = MEMBERID_NIL;
            bool hit = SameName(t.name, szNameBuf);
            for (const Func& f : t.funcs)
                if (!hit && SameName(f.name, szNameBuf)) {
                    hit = true;
                    id = f.id;
                }
            if (!hit) continue;
            ppTInfo[found] = new TypeInfo(lib_, i);
            rgMemId[found] = id;
            ++found;
        }
        *pcFound = found;
        return S_OK;
    }
    STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR* pTLibAttr) override { delete pTLibAttr; }

private:
    LibraryPtr lib_;
};

ITypeLib* NewTypeLib(LibraryPtr lib) { return new TypeLib(std::move(lib)); }

std::u16string Hex(DWORD v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", v);
    return FromUtf8(buffer);
}

// The file a type library is loaded from: the name itself, else a module
// found as LoadLibraryW finds it.
std::string ResolvePath(LPCOLESTR file) {
    std::string path = ToUtf8(file);
    if (path.find('/') != std::string::npos || ::access(path.c_str(), F_OK) == 0) return path;
    HMODULE module = LoadLibraryW(file);
    if (!module) return path;
    std::string full = rsrc::ModulePath(module);
    FreeLibrary(module);
    return full.empty() ? path : full;
}

LONG SetText(const std::u16string& keyPath, const WCHAR* name, const std::u16string& text) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    return rc;
}

std::vector<std::u16string> SubKeys(const std::u16string& path) {
    std::vector<std::u16string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD len = 256;
        if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    RegCloseKey(key);
    return names;
}

// "TypeLib\{libid}\<major>.<minor>" of the best registered version, or "".
std::u16string VersionKey(REFGUID libid, WORD major, WORD minor) {
    std::u16string base = u"TypeLib\\" + com::GuidText(libid);
    int bestMinor = -1;
    std::u16string best;
    for (const std::u16string& name : SubKeys(base)) {
        unsigned ma = 0, mi = 0;
        char tail = 0;
        if (std::sscanf(ToUtf8(name).c_str(), "%x.%x%c", &ma, &mi, &tail) != 2) continue;
        if (ma == major && mi >= minor && static_cast<int>(mi) > bestMinor) {
            bestMinor = static_cast<int>(mi);
            best = base + u"\\" + name;
        }
    }
    return best;
}

}  // namespace
}  // namespace platform::typelib

using namespace platform::typelib;

WINOLEAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    if (!szFile || !pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    std::string path = ResolvePath(szFile);
    std::string_view text;
    std::string fileText;
    LONG rc = platform::rsrc::FindInFile(path, {0, "TYPELIB"}, {1, {}}, &text);
    if (rc == ERROR_BAD_FORMAT) {  // not ELF: a type-library text file
        std::ifstream in(path, std::ios::binary);
        fileText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        text = fileText;
    } else if (rc != ERROR_SUCCESS) {
        return TYPE_E_CANTLOADLIBRARY;
    }
    auto library = std::make_shared<Library>();
    std::string error;
    if (!Parse(text, library.get(), &error)) {
        SetErrorText(path + ": " + error);
        return TYPE_E_INVDATAREAD;
    }
    *pptlib = NewTypeLib(std::move(library));
    return S_OK;
}

WINOLEAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
    HRESULT hr = LoadTypeLib(szFile, pptlib);
    if (FAILED(hr) || regkind != REGKIND_REGISTER) return hr;
    std::u16string full = platform::FromUtf8(ResolvePath(szFile));
    hr = RegisterTypeLib(*pptlib, full.c_str(), nullptr);
    if (FAILED(hr)) {
        (*pptlib)->Release();
        *pptlib = nullptr;
    }
    return hr;
}

WINOLEAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    std::u16string title = SysStringLen(doc) ? std::u16string(doc) : std::u16string(name ? name : u"");
    SysFreeString(name);
    SysFreeString(doc);

    const std::u16string libid = platform::com::GuidText(lib.guid);
    const std::u16string version = Hex(lib.wMajorVerNum) + u"." + Hex(lib.wMinorVerNum);
    const std::u16string base = u"TypeLib\\" + libid + u"\\" + version;
    std::u16string path = szFullPath;
    std::u16string helpDir = szHelpDir ? std::u16string(szHelpDir) : path.substr(0, path.find_last_of(u'/') + 1);
    if (helpDir.size() > 1 && helpDir.back() == u'/') helpDir.pop_back();

    LONG rc = SetText(base, nullptr, title);
    if (!rc) rc = SetText(base + u"\\" + Hex(lib.lcid) + u"\\win32", nullptr, path);
    if (!rc) rc = SetText(base + u"\\FLAGS", nullptr, platform::FromUtf8(std::to_string(lib.wLibFlags)));
    if (!rc) rc = SetText(base + u"\\HELPDIR", nullptr, helpDir);
    for (UINT i = 0; !rc && i < ptlib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(ptlib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* ta = nullptr;
        BSTR typeName = nullptr;
        info->GetTypeAttr(&ta);
        info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
        bool dispatch = ta->typekind == TKIND_DISPATCH;
        bool automation =
            ta->typekind == TKIND_INTERFACE && (ta->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        if (dispatch || automation) {
            // Dispinterfaces go through the dispatch proxy, automation interfaces the universal one.
            const std::u16string proxy = dispatch ? u"{00020420-0000-0000-C000-000000000046}"
                                                  : u"{00020424-0000-0000-C000-000000000046}";
            const std::u16string key = u"Interface\\" + platform::com::GuidText(ta->guid);
            rc = SetText(key, nullptr, typeName ? typeName : u"");
            if (!rc) rc = SetText(key + u"\\ProxyStubClsid", nullptr, proxy);
            if (!rc) rc = SetText(key + u"\\ProxyStubClsid32", nullptr, proxy);
            if (!rc) rc = SetText(key + u"\\TypeLib", nullptr, libid);
            if (!rc) rc = SetText(key + u"\\TypeLib", u"Version", version);
        }
        SysFreeString(typeName);
        info->ReleaseTypeAttr(ta);
        info->Release();
    }
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

WINOLEAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    std::u16string versionKey = VersionKey(guid, wMaj, wMin);
    if (versionKey.empty()) return TYPE_E_LIBNOTREGISTERED;
    std::vector<std::u16string> candidates = {Hex(lcid), Hex(lcid & 0x3FF), u"0"};
    for (const std::u16string& name : SubKeys(versionKey))
        if (name != u"FLAGS" && name != u"HELPDIR") candidates.push_back(name);
    for (const std::u16string& locale : candidates) {
        std::u16string path;
        if (platform::com::ReadRegistryText(HKEY_CLASSES_ROOT, versionKey + u"\\" + locale + u"\\win32", nullptr,
                                            &path) == ERROR_SUCCESS &&
            !path.empty()) {
            *lpbstrPathName = Bstr(path);
            return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

WINOLEAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
    if (FAILED(hr)) return hr;
    hr = LoadTypeLib(path, pptlib);
    SysFreeString(path);
    if (SUCCEEDED(hr)) {
        TLIBATTR* attr = nullptr;
        (*pptlib)->GetLibAttr(&attr);
        bool same = attr->guid == rguid;
        (*pptlib)->ReleaseTLibAttr(attr);
        if (!same) {  // the registered file holds another library
            (*pptlib)->Release();
            *pptlib = nullptr;
            hr = TYPE_E_LIBNOTREGISTERED;
        }
    }
    return hr;
}

WINOLEAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND) {
    const std::u16string libid = platform::com::GuidText(libID);
    const std::u16string libKey = u"TypeLib\\" + libid;
    const std::u16string versionKey = libKey + u"\\" + Hex(wVerMajor) + u"." + Hex(wVerMinor);
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    RegCloseKey(probe);
    // The interfaces that name this library, found through the library itself.
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(libID, wVerMajor, wVerMinor, lcid, &lib))) {
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ITypeInfo* info = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &info))) continue;
            TYPEATTR* ta = nullptr;
            info->GetTypeAttr(&ta);
            std::u16string key = u"Interface\\" + platform::com::GuidText(ta->guid);
            std::u16string owner;
            if (platform::com::ReadRegistryText(HKEY_CLASSES_ROOT, key + u"\\TypeLib", nullptr, &owner) ==
                    ERROR_SUCCESS &&
                SameName(owner, libid))
                RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            info->ReleaseTypeAttr(ta);
            info->Release();
        }
        lib->Release();
    }
    if (RegDeleteTreeW(HKEY_CLASSES_ROOT, versionKey.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    if (SubKeys(libKey).empty()) RegDeleteTreeW(HKEY_CLASSES_ROOT, libKey.c_str());
    return S_OK;
}
