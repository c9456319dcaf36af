#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/handles.h"
#include "core/utf.h"
#include "win/base.h"

namespace {

class CountingObject : public platform::KernelObject {
public:
    explicit CountingObject(int* closes) : closes_(closes) {}
    BOOL Close() override {
        ++*closes_;
        return TRUE;
    }

private:
    int* closes_;
};

TEST(Handles, ValuesFitInThirtyTwoBitsAndCloseOnce) {
    int closes = 0;
    HANDLE h = platform::AddHandle(std::make_shared<CountingObject>(&closes));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // The control keeps its port handle in a 32-bit field.
    auto narrowed = static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<intptr_t>(narrowed)), h);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(closes, 1);
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(closes, 1);
}

TEST(Handles, BogusHandlesAreRefused) {
    for (HANDLE h : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x101)}) {
        DWORD done = 0xAAAA;
        char byte = 0;
        SetLastError(0);
        EXPECT_FALSE(WriteFile(h, &byte, 1, &done, nullptr));
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST(Handles, ObjectsWithoutReadOrWriteSayInvalidFunction) {
    int closes = 0;
    HANDLE h = platform::AddHandle(std::make_shared<CountingObject>(&closes));
    char byte = 0;
    DWORD done = 7;
    EXPECT_FALSE(ReadFile(h, &byte, 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    CloseHandle(h);
}

TEST(Utf, RoundTripsAndReplacesBrokenInput) {
    std::u16string text = u"Pr\u00e9sse\u20ac \U0001F5A8";
    EXPECT_EQ(platform::FromUtf8(platform::ToUtf8(text)), text);
    EXPECT_EQ(platform::ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
    EXPECT_EQ(platform::FromUtf8("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(platform::FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
}

}  // namespace
