#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "win/ole.h"

namespace {

IErrorInfo* MakeError(const char16_t* description) {
    ICreateErrorInfo* create = nullptr;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetGUID(IID_IDispatch);
    create->SetSource(const_cast<LPOLESTR>(u"Tests"));
    create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    return info;
}

std::u16string Take(BSTR b) {
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : u"<null>";
    SysFreeString(b);
    return s;
}

TEST(ErrorInfo, GetHandsOverAndClears) {
    IErrorInfo* info = MakeError(u"first");
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();  // the thread holds its own reference
    IErrorInfo* got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_EQ(got, info);
    BSTR b = nullptr;
    got->GetDescription(&b);
    EXPECT_EQ(Take(b), u"first");
    EXPECT_EQ(got->Release(), 0u);
    got = reinterpret_cast<IErrorInfo*>(0x1);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(got, nullptr);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
    IErrorInfo* info = MakeError(u"main thread");
    SetErrorInfo(0, info);
    info->Release();
    HRESULT seenOnOther = E_FAIL;
    std::thread other([&] {
        IErrorInfo* got = nullptr;
        seenOnOther = GetErrorInfo(0, &got);
        // Set one that the thread's end must release.
        IErrorInfo* mine = MakeError(u"other thread");
        SetErrorInfo(0, mine);
        mine->Release();
    });
    other.join();
    EXPECT_EQ(seenOnOther, S_FALSE);
    IErrorInfo* got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    BSTR b = nullptr;
    got->GetDescription(&b);
    EXPECT_EQ(Take(b), u"main thread");
    got->Release();
}

}  // namespace
