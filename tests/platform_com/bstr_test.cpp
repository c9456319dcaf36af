#include <gtest/gtest.h>

#include <cstring>

#include "win/ole.h"

namespace {

DWORD Prefix(BSTR b) {
    DWORD n;
    std::memcpy(&n, reinterpret_cast<BYTE*>(b) - sizeof n, sizeof n);
    return n;
}

TEST(Bstr, PrefixHoldsByteLengthAndTerminatorFollows) {
    struct Case {
        const char* bytes;
        UINT len;
    };
    const Case cases[] = {{"", 0}, {"a", 1}, {"abc", 3}, {"abcd", 4}, {"a\0b\0\0c", 6}};
    for (const Case& c : cases) {
        BSTR b = SysAllocStringByteLen(c.bytes, c.len);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(Prefix(b), c.len);
        EXPECT_EQ(SysStringByteLen(b), c.len);
        EXPECT_EQ(SysStringLen(b), c.len / 2);
        EXPECT_EQ(std::memcmp(b, c.bytes, c.len), 0);
        // A whole NUL character after the content, even for odd lengths.
        const BYTE* end = reinterpret_cast<const BYTE*>(b) + c.len;
        EXPECT_EQ(end[0], 0);
        EXPECT_EQ(end[1], 0);
        SysFreeString(b);
    }
}

TEST(Bstr, EmbeddedNulsAreKept) {
    const WCHAR text[] = {u'a', 0, u'b', 0, u'c'};
    BSTR b = SysAllocStringLen(text, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(b[2], u'b');
    EXPECT_EQ(b[5], 0);
    // SysAllocString stops at the first NUL.
    BSTR c = SysAllocString(b);
    EXPECT_EQ(SysStringLen(c), 1u);
    SysFreeString(c);
    SysFreeString(b);
}

TEST(Bstr, NullCountsAsEmpty) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    // No source: the content is zeroed, not left as it was.
    BSTR b = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(SysStringLen(b), 3u);
    SysFreeString(b);
}

TEST(Bstr, OversizedLengthsAreRefused) {
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFAu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ReallocationMayReadTheOldString) {
    BSTR b = SysAllocString(u"hello world");
    // The new content comes from inside the string being replaced.
    ASSERT_TRUE(SysReAllocStringLen(&b, b + 6, 5));
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(std::u16string(b), u"world");
    ASSERT_TRUE(SysReAllocString(&b, b + 1));
    EXPECT_EQ(std::u16string(b), u"orld");
    // Growing without a source keeps the characters and zero-fills the rest.
    ASSERT_TRUE(SysReAllocStringLen(&b, nullptr, 6));
    EXPECT_EQ(std::u16string(b, 6), std::u16string(u"orld\0\0", 6));
    ASSERT_TRUE(SysReAllocString(&b, nullptr));
    EXPECT_EQ(SysStringLen(b), 0u);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
    SysFreeString(b);
}

}  // namespace
