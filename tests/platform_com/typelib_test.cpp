// Type libraries: loading from a library's resource, the descriptions they
// give, registration and loading through the registry.
#include <gtest/gtest.h>

#include <fstream>

#include "server_fixture.h"

namespace {

class TypeLibTest : public RegisteredServer {
protected:
    ITypeLib* Load() {
        ITypeLib* lib = nullptr;
        EXPECT_EQ(LoadTypeLib(Wide(kServerPath).c_str(), &lib), S_OK);
        return lib;
    }
};

TEST_F(TypeLibTest, LibraryAttributesAndDocumentation) {
    ITypeLib* lib = Load();
    ASSERT_NE(lib, nullptr);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == LIBID_TestCalcLib);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 2);
    lib->ReleaseTLibAttr(attr);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Narrow(name), "TestCalcLib");
    EXPECT_EQ(Narrow(doc), "Test Calc Library");
    SysFreeString(name);
    SysFreeString(doc);

    ASSERT_EQ(lib->GetTypeInfoCount(), 3u);
    struct Case {
        UINT index;
        TYPEKIND kind;
        const char* name;
    } cases[] = {{0, TKIND_DISPATCH, "_ITestCalcEvents"}, {1, TKIND_INTERFACE, "ITestCalc"}, {2, TKIND_COCLASS, "TestCalc"}};
    for (const Case& c : cases) {
        TYPEKIND kind;
        EXPECT_EQ(lib->GetTypeInfoType(c.index, &kind), S_OK);
        EXPECT_EQ(kind, c.kind);
        ASSERT_EQ(lib->GetDocumentation(static_cast<INT>(c.index), &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(Narrow(name), c.name);
        SysFreeString(name);
    }
    ITypeInfo* info = nullptr;
    EXPECT_EQ(lib->GetTypeInfo(3, &info), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IDispatch, &info), TYPE_E_ELEMENTNOTFOUND);
    lib->Release();
}

TEST_F(TypeLibTest, DualInterfaceDescription) {
    ITypeLib* lib = Load();
    ASSERT_NE(lib, nullptr);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ITestCalc, &info), S_OK);
    lib->Release();

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE |
                                    TYPEFLAG_FNONEXTENSIBLE);
    EXPECT_EQ(attr->cFuncs, 10);
    EXPECT_EQ(attr->cImplTypes, 1);
    EXPECT_EQ(attr->cbSizeVft, (7 + 10) * 8);
    EXPECT_EQ(attr->lcid, 0x409u);
    info->ReleaseTypeAttr(attr);

    // Function index, DISPID, kind, parameter count and virtual-table offset.
    struct Case {
        UINT index;
        MEMBERID id;
        INVOKEKIND kind;
        SHORT params, offset;
    } cases[] = {
        {0, 1, INVOKE_FUNC, 3, 56},        {2, 3, INVOKE_PROPERTYGET, 1, 72}, {3, 3, INVOKE_PROPERTYPUT, 1, 80},
        {8, 8, INVOKE_FUNC, 9, 120},       {9, 9, INVOKE_FUNC, 0, 128},
    };
    for (const Case& c : cases) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(c.index, &f), S_OK);
        EXPECT_EQ(f->memid, c.id);
        EXPECT_EQ(f->invkind, c.kind);
        EXPECT_EQ(f->cParams, c.params);
        EXPECT_EQ(f->oVft, c.offset);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        info->ReleaseFuncDesc(f);
    }
    FUNCDESC* add = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &add), S_OK);
    EXPECT_EQ(add->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(add->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
    EXPECT_EQ(add->lprgelemdescParam[2].tdesc.vt, VT_PTR);
    EXPECT_EQ(add->lprgelemdescParam[2].tdesc.lptdesc->vt, VT_I4);
    EXPECT_EQ(add->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    info->ReleaseFuncDesc(add);
    FUNCDESC* fail = nullptr;
    ASSERT_EQ(info->GetFuncDesc(4, &fail), S_OK);
    EXPECT_EQ(fail->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_NONE);
    info->ReleaseFuncDesc(fail);

    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(1, names, 4, &count), S_OK);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(Narrow(names[0]) + "," + Narrow(names[1]) + "," + Narrow(names[2]) + "," + Narrow(names[3]),
              "Add,a,b,pResult");
    for (BSTR n : names) SysFreeString(n);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(3, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Narrow(name) + "/" + Narrow(doc), "Value/property Value");
    SysFreeString(name);
    SysFreeString(doc);
    EXPECT_EQ(info->GetDocumentation(77, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);

    HREFTYPE base = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &base), S_OK);
    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(info->GetRefTypeInfo(base, &dispatch), S_OK);
    ASSERT_EQ(dispatch->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Narrow(name), "IDispatch");
    SysFreeString(name);
    dispatch->Release();

    ITypeLib* container = nullptr;
    UINT index = 99;
    ASSERT_EQ(info->GetContainingTypeLib(&container, &index), S_OK);
    EXPECT_EQ(index, 1u);
    container->Release();
    info->Release();
}

TEST_F(TypeLibTest, CoclassNamesItsInterfacesWithTheirFlags) {
    ITypeLib* lib = Load();
    ASSERT_NE(lib, nullptr);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_TestCalc, &coclass), S_OK);
    lib->Release();
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cImplTypes, 2);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
    coclass->ReleaseTypeAttr(attr);
    struct Case {
        UINT index;
        INT flags;
        const char* name;
    } cases[] = {{0, IMPLTYPEFLAG_FDEFAULT, "ITestCalc"},
                 {1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, "_ITestCalcEvents"}};
    for (const Case& c : cases) {
        INT flags = -1;
        HREFTYPE ref = 0;
        ITypeInfo* impl = nullptr;
        BSTR name = nullptr;
        ASSERT_EQ(coclass->GetImplTypeFlags(c.index, &flags), S_OK);
        EXPECT_EQ(flags, c.flags);
        ASSERT_EQ(coclass->GetRefTypeOfImplType(c.index, &ref), S_OK);
        ASSERT_EQ(coclass->GetRefTypeInfo(ref, &impl), S_OK);
        impl->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        EXPECT_EQ(Narrow(name), c.name);
        SysFreeString(name);
        impl->Release();
    }
    INT flags;
    EXPECT_EQ(coclass->GetImplTypeFlags(2, &flags), TYPE_E_ELEMENTNOTFOUND);
    // The type info creates its class.
    IUnknown* object = nullptr;
    ASSERT_EQ(coclass->CreateInstance(nullptr, IID_ITestCalc, reinterpret_cast<void**>(&object)), S_OK);
    object->Release();
    coclass->Release();
}

TEST_F(TypeLibTest, RegistrationEntries) {
    const std::u16string version = u"TypeLib\\{3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}\\1.2";
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, version.c_str()), "Test Calc Library");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (version + u"\\409\\win32").c_str()), kServerPath);
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (version + u"\\FLAGS").c_str()), "0");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (version + u"\\HELPDIR").c_str()), PRESSEL_LIB_DIR);
    const std::u16string dual = u"Interface\\{3A7D0C12-52E4-4F0B-8C21-6E9014A27B01}";
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, dual.c_str()), "ITestCalc");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (dual + u"\\ProxyStubClsid32").c_str()),
              "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (dual + u"\\TypeLib").c_str()), "{3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (dual + u"\\TypeLib").c_str(), u"Version"), "1.2");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, u"Interface\\{3A7D0C13-52E4-4F0B-8C21-6E9014A27B01}\\ProxyStubClsid32"),
              "{00020420-0000-0000-C000-000000000046}");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Interface\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}"));
}

TEST_F(TypeLibTest, LoadRegTypeLibMatchesVersionsAndLocales) {
    struct Case {
        WORD major, minor;
        LCID lcid;
        HRESULT expected;
    } cases[] = {
        {1, 0, 0, S_OK},      {1, 2, 0x409, S_OK},  {1, 1, 0x809, S_OK},  // minor at least; locale fallbacks
        {1, 3, 0, TYPE_E_LIBNOTREGISTERED},         {2, 0, 0, TYPE_E_LIBNOTREGISTERED},
    };
    for (const Case& c : cases) {
        ITypeLib* lib = nullptr;
        EXPECT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, c.major, c.minor, c.lcid, &lib), c.expected);
        if (lib) lib->Release();
    }
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(IID_IDispatch, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);

    ASSERT_EQ(UnRegisterTypeLib(LIBID_TestCalcLib, 1, 2, 0x409, SYS_WIN32), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Interface\\{3A7D0C12-52E4-4F0B-8C21-6E9014A27B01}"));
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestCalcLib, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(UnRegisterTypeLib(LIBID_TestCalcLib, 1, 2, 0x409, SYS_WIN32), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibTest, UnloadableLibrariesAndMalformedText) {
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadTypeLib(u"/nonexistent/lib.so", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(u"" PRESSEL_LIB_DIR "/libpressel_rsrc_probe.so", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(lib, nullptr);

    const std::string bad = dir_ + "/bad.tlb";
    std::ofstream(bad) << "library L\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}\ninterface I : IFoo\n";
    EXPECT_EQ(LoadTypeLib(Wide(bad).c_str(), &lib), TYPE_E_INVDATAREAD);
    IErrorInfo* error = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
    BSTR text = nullptr;
    error->GetDescription(&text);
    EXPECT_NE(Narrow(text).find("line 3: interfaces derive from IUnknown or IDispatch"), std::string::npos)
        << Narrow(text);
    SysFreeString(text);
    error->Release();

    // A text file is a type library too.
    const std::string good = dir_ + "/good.tlb";
    std::ofstream(good) << "library L\n    uuid {3A7D0C10-52E4-4F0B-8C21-6E9014A27B01}\n";
    ASSERT_EQ(LoadTypeLib(Wide(good).c_str(), &lib), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 0u);
    lib->Release();
}

}  // namespace
