#include <gtest/gtest.h>

#include <string>

#include "win/wcs.h"

namespace {

TEST(Wcstok, SkipsEmptyTokensAndKeepsStatePerThread) {
    WCHAR text[] = u",,COM1:,,9600,N,,8,";
    std::u16string tokens;
    for (WCHAR* t = wcstok(text, u","); t; t = wcstok(nullptr, u",")) tokens += std::u16string(t) + u"|";
    EXPECT_EQ(tokens, u"COM1:|9600|N|8|");
    EXPECT_EQ(wcstok(nullptr, u","), nullptr);
    WCHAR blank[] = u",,,";
    EXPECT_EQ(wcstok(blank, u","), nullptr);
}

TEST(Wcstol, BaseZeroReadsHexOctalAndDecimal) {
    struct Case {
        const WCHAR* text;
        LONG value;
        size_t consumed;
    } cases[] = {
        {u"0x1B", 27, 4},  {u"0X40", 64, 4},  {u"012", 10, 3},     {u"08", 0, 1},
        {u"9600", 9600, 4}, {u" -12x", -12, 4}, {u"+7", 7, 2},       {u"abc", 0, 0},
        {u"0x", 0, 1},      {u"99999999999", 2147483647, 11}, {u"-99999999999", -2147483647 - 1, 12},
    };
    for (const auto& c : cases) {
        WCHAR* end = nullptr;
        EXPECT_EQ(wcstol(c.text, &end, 0), c.value) << std::string(c.text, c.text + wcslen(c.text));
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed);
    }
}

TEST(Wcsicmp, FoldsAsciiAndLatin1) {
    EXPECT_EQ(_wcsicmp(u"Printer1", u"printer1"), 0);
    EXPECT_EQ(_wcsicmp(u"\u00c9TIQUETTE", u"\u00e9tiquette"), 0);
    EXPECT_LT(_wcsicmp(u"abc", u"ABD"), 0);
    EXPECT_GT(_wcsicmp(u"abcd", u"ABC"), 0);
    EXPECT_NE(_wcsicmp(u"\u00d7", u"\u00f7"), 0);  // signs do not fold
}

TEST(Snwprintf, FormatsWideAndNarrowArguments) {
    WCHAR buf[64];
    EXPECT_EQ(_snwprintf(buf, 64, u"[%s] RegisterDevice Error = %d", u"ktsbdrv.dll", 126), 40);
    EXPECT_EQ(std::u16string(buf), u"[ktsbdrv.dll] RegisterDevice Error = 126");
    _snwprintf(buf, 64, u"%hs|%5d|%-3c|%04X|%%", "ab", -42, u'x', 0xBEEFu);
    EXPECT_EQ(std::u16string(buf), u"ab|  -42|x  |BEEF|%");
    // Cut output is terminated and reported.
    EXPECT_EQ(_snwprintf(buf, 4, u"%s", u"abcdef"), -1);
    EXPECT_EQ(std::u16string(buf), u"abc");
}

}  // namespace
