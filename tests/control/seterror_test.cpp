#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "control/Pressel.h"

namespace {

constexpr HRESULT kEntryNameMissing = static_cast<HRESULT>(0x80040D01);

// A scratch registry file per test, holding the class description when asked.
class SetErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pressel-control-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setenv("PRESSEL_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        ASSERT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&pressel_)), S_OK);
        control_ = static_cast<CPressel*>(pressel_);
        ClearThreadError();
    }
    void TearDown() override {
        pressel_->Release();
        ClearThreadError();
        unsetenv("PRESSEL_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    void RegisterClassDescription(const std::string& description) {
        std::ofstream(dir_ + "/registry.reg") << "Windows Registry Editor Version 5.00\n\n"
                                                 "[HKEY_CLASSES_ROOT\\CLSID\\{6F1B2C4A-3D8E-4B71-9A52-0C7E4D9B1F31}]\n"
                                                 "@=\"" << description << "\"\n";
    }
    static void ClearThreadError() { SetErrorInfo(0, nullptr); }

    static std::u16string Take(BSTR b) {
        std::u16string s = b ? std::u16string(b, SysStringLen(b)) : u"<null>";
        SysFreeString(b);
        return s;
    }

    LONG LastError() {
        LONG v = 0x5A5A5A5A;
        pressel_->get_LastError(&v);
        return v;
    }
    LONG MethodId() {
        LONG v = 0x5A5A5A5A;
        pressel_->get_ErrorMethodID(&v);
        return v;
    }

    std::string dir_;
    IPressel* pressel_ = nullptr;
    CPressel* control_ = nullptr;
};

TEST_F(SetErrorTest, ReturnsTheCodeOnlyWhenErrorReturnStateIsOne) {
    const struct {
        LONG state;
        HRESULT hr;
        LONG method;
        HRESULT returned;
    } cases[] = {
        {0, kEntryNameMissing, 11, S_OK},
        {1, kEntryNameMissing, 11, kEntryNameMissing},
        {1, 0, 0, S_OK},
        {7, static_cast<HRESULT>(0x80040D08), 7, static_cast<HRESULT>(0x80040D08)},
    };
    for (auto c : cases) {
        pressel_->put_ErrorReturnState(c.state);
        EXPECT_EQ(control_->SetError(c.hr, u"CPressel::Something..", c.method), c.returned);
        EXPECT_EQ(LastError(), c.hr);  // read back as a signed long
        EXPECT_EQ(MethodId(), c.method);
    }
}

TEST_F(SetErrorTest, PropertiesLeaveTheErrorState) {
    control_->SetError(kEntryNameMissing, u"CPressel::EntryName missing..", 11);
    LONG v;
    VARIANT_BOOL b;
    pressel_->get_PageNo(&v);
    pressel_->get_StillPrinting(&b);
    pressel_->put_ErrorReturnState(1);
    EXPECT_EQ(LastError(), kEntryNameMissing);
    EXPECT_EQ(MethodId(), 11);
    control_->SetError(0, u"CPressel::No error..", 0);
    EXPECT_EQ(LastError(), 0);
    EXPECT_EQ(MethodId(), 0);
}

TEST_F(SetErrorTest, PublishesTheErrorObjectWithTheRegisteredSource) {
    RegisterClassDescription("Quendrix Pressel Class V01.14");
    control_->SetError(kEntryNameMissing, u"CPressel::EntryName missing..", 11);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    GUID g{};
    info->GetGUID(&g);
    EXPECT_TRUE(g == IID_IPressel);
    BSTR text = nullptr;
    info->GetDescription(&text);
    EXPECT_EQ(Take(text), u"CPressel::EntryName missing..");
    info->GetSource(&text);
    EXPECT_EQ(Take(text), u"Quendrix Pressel Class V01.14");
    info->GetHelpFile(&text);
    EXPECT_EQ(Take(text), u"<null>");
    DWORD context = 0xDEADBEEF;
    info->GetHelpContext(&context);
    EXPECT_EQ(context, 0u);
    info->Release();
}

TEST_F(SetErrorTest, UnregisteredClassStillPublishesWithoutSource) {
    control_->SetError(static_cast<HRESULT>(0x80040D04), u"CPressel::No printer DC..", 11);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR text = nullptr;
    info->GetSource(&text);
    EXPECT_EQ(Take(text), u"<null>");
    info->GetDescription(&text);
    EXPECT_EQ(Take(text), u"CPressel::No printer DC..");
    info->Release();
}

TEST_F(SetErrorTest, SuccessPublishesNothing) {
    RegisterClassDescription("Quendrix Pressel Class V01.14");
    control_->SetError(0, u"CPressel::No error..", 0);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
    EXPECT_EQ(info, nullptr);
}

TEST_F(SetErrorTest, OverlongSourceIsCutSafely) {
    RegisterClassDescription(std::string(1000, 'x'));
    EXPECT_EQ(control_->SetError(E_FAIL, u"CPressel::Failed..", 7), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR text = nullptr;
    info->GetSource(&text);
    // Too long for the source buffer: left out rather than overrun.
    EXPECT_EQ(Take(text), u"<null>");
    info->Release();
}

}  // namespace
