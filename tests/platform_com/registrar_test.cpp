// The registrar: registration scripts written to and removed from a scratch
// registry.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "pressel/registrar.h"
#include "scratch_registry.h"
#include "tests/platform_com/test_calc.h"
#include "win/objbase.h"

namespace {

const char16_t* const kScript = uR"(
HKCR
{
    Demo.Thing.1 = s 'Demo Thing'
    {
        CLSID = s '{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}'
        'Insertable'
    }
    NoRemove CLSID
    {
        ForceRemove {3A7D0C11-52E4-4F0B-8C21-6E9014A27B01} = s 'Demo Thing'
        {
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            ToolboxBitmap32 = s '%MODULE%, 101'
            MiscStatus = s '0'
            {
                '1' = s '%%132497'
            }
            Quote = s 'it''s'
        }
    }
}
HKLM
{
    NoRemove Software
    {
        NoRemove Demo
        {
            val Count = d '0x2A'
            val Blob = b '00FF10'
        }
    }
}
)";

const WCHAR* const kMap[] = {u"Module", u"/opt/demo/libdemo.so", nullptr};

class RegistrarTest : public ScratchRegistry {};

TEST_F(RegistrarTest, WritesKeysValuesAndReplacements) {
    ASSERT_EQ(PresselRunRegistrationScript(kScript, TRUE, kMap), S_OK);
    const char16_t* clsid = u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}";
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, u"Demo.Thing.1"), "Demo Thing");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"Demo.Thing.1\\Insertable"));
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, clsid), "Demo Thing");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (std::u16string(clsid) + u"\\InprocServer32").c_str()),
              "/opt/demo/libdemo.so");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (std::u16string(clsid) + u"\\InprocServer32").c_str(), u"ThreadingModel"),
              "Apartment");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (std::u16string(clsid) + u"\\ToolboxBitmap32").c_str()),
              "/opt/demo/libdemo.so, 101");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (std::u16string(clsid) + u"\\MiscStatus\\1").c_str()), "%132497");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, (std::u16string(clsid) + u"\\Quote").c_str()), "it's");
    EXPECT_NE(Export("HKEY_LOCAL_MACHINE\\Software\\Demo").find("\"Count\"=dword:0000002a\n\"Blob\"=hex:00,ff,10"),
              std::string::npos)
        << Export("HKEY_LOCAL_MACHINE\\Software\\Demo");
}

TEST_F(RegistrarTest, ForceRemoveReplacesTheWholeKey) {
    Import("[HKEY_CLASSES_ROOT\\CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}\\Stale\\Deeper]\n@=\"old\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}]\n\"Leftover\"=\"x\"\n");
    ASSERT_EQ(PresselRunRegistrationScript(kScript, TRUE, kMap), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}\\Stale"));
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}", u"Leftover"), "<absent>");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}\\InprocServer32"));
}

TEST_F(RegistrarTest, UnregisterKeepsNoRemoveKeysAndRemovesTheRest) {
    Import("[HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}]\n@=\"neighbour\"\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Demo]\n\"Other\"=\"kept\"\n");
    ASSERT_EQ(PresselRunRegistrationScript(kScript, TRUE, kMap), S_OK);
    ASSERT_EQ(PresselRunRegistrationScript(kScript, FALSE, kMap), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Demo.Thing.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}"));
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, u"CLSID\\{00000000-1111-2222-3333-444444444444}"), "neighbour");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, u"Software\\Demo", u"Count"), "<absent>");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, u"Software\\Demo", u"Other"), "kept");
    // Again, with nothing left to remove.
    EXPECT_EQ(PresselRunRegistrationScript(kScript, FALSE, kMap), S_OK);
}

TEST_F(RegistrarTest, DeleteRemovesOnRegistration) {
    Import("[HKEY_CURRENT_USER\\Software\\Old\\Sub]\n@=\"x\"\n");
    ASSERT_EQ(PresselRunRegistrationScript(u"HKCU { NoRemove Software { Delete Old } }", TRUE, nullptr), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Software\\Old"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Software"));
}

TEST_F(RegistrarTest, MalformedScriptsWriteNothingAndSayWhere) {
    struct Case {
        const char16_t* script;
        const char* where;
    } cases[] = {
        {u"HKCR\n{\n  A = s 'x'\n", "line 4: '}' missing"},
        {u"HKU { A }", "line 1: unknown root key"},
        {u"HKCR {\n A = s '%NOPE%' }", "line 2: no replacement for %NOPE%"},
        {u"HKCR { A { val N = d '12x' } }", "is not a DWORD"},
        {u"HKCR { A { val N = d '-1' } }", "is not a DWORD"},
        {u"HKCR { A = s 'open }", "unterminated"},
        {u"HKCR { A = b '0F1' }", "odd number"},
        {u"HKCR { A { val N } }", "'=' expected"},
        {u"HKCR { A = q 'x' }", "unsupported value type"},
        {u"HKCR { A = s x }", "quoted value expected"},
    };
    for (const Case& c : cases) {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(PresselRunRegistrationScript(c.script, TRUE, kMap), DISP_E_EXCEPTION);
        IErrorInfo* info = nullptr;
        ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
        BSTR description = nullptr;
        info->GetDescription(&description);
        std::string text;
        for (const OLECHAR* p = description; p && *p; ++p) text += char(*p);
        EXPECT_NE(text.find(c.where), std::string::npos) << text;
        SysFreeString(description);
        info->Release();
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"A"));
    }
    // Deep nesting is refused, not followed down the stack.
    std::u16string deep = u"HKCR { ";
    for (int i = 0; i < 5000; ++i) deep += u"K { ";
    EXPECT_EQ(PresselRunRegistrationScript(deep.c_str(), TRUE, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(PresselRunRegistrationScript(nullptr, TRUE, nullptr), E_INVALIDARG);
}

TEST_F(RegistrarTest, ServerRegistersFromItsScriptResource) {
    const std::string server = PRESSEL_LIB_DIR "/libpressel_test_server.so";
    void* lib = dlopen(server.c_str(), RTLD_NOW);
    ASSERT_NE(lib, nullptr);
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
    auto unreg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllUnregisterServer"));
    ASSERT_TRUE(reg && unreg);
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}\\InprocServer32"), server);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Test.Calc", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_TestCalc);
    EXPECT_EQ(unreg(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{3A7D0C11-52E4-4F0B-8C21-6E9014A27B01}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Test.Calc"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID"));
    dlclose(lib);
}

}  // namespace
