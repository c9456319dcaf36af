// The table of units against ICU converting alone: every unit, surrogate
// pairs, and mixed texts into targets of every size give the same result,
// bytes, last error and default-character flag.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codepage/codepage.h"
#include "win/base.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;
// Every code page the tests convert to, single- and double-byte.
constexpr UINT kPages[] = {1252, 1250, 1251, 1254, 437, 932, 936};

struct Conversion {
    int result;
    DWORD error;
    BOOL usedDefault;
    std::string target;  // the whole target, sentinel bytes past what was written included

    bool operator==(const Conversion&) const = default;
};

std::string Hex(const std::u16string& text) {
    std::string out;
    char b[8];
    for (char16_t u : text) {
        std::snprintf(b, sizeof b, "%04X ", static_cast<unsigned>(u));
        out += b;
    }
    return out;
}

Conversion Convert(UINT page, const std::u16string& text, int capacity, bool useTable) {
    std::string target(static_cast<size_t>(capacity) + 4, '\xAA');
    BOOL used = 7;
    SetLastError(kSentinel);
    int n = platform::WideToMultiByte(page, 0, text.data(), static_cast<int>(text.size()),
                                      capacity ? target.data() : nullptr, capacity, nullptr, &used, useTable);
    return {n, GetLastError(), used, target};
}

void ExpectSame(UINT page, const std::u16string& text, int capacity) {
    EXPECT_EQ(Convert(page, text, capacity, true), Convert(page, text, capacity, false))
        << "code page " << page << ", units " << Hex(text) << ", target of " << capacity;
}

// Tables are shared by the threads of a process: threads that learn the
// same blocks at once (first here, before the other tests learn the page)
// each get ICU's results.
TEST(UnitTable, ThreadsLearnAndReadTogether) {
    constexpr UINT kPage = 1254;
    std::u16string text;
    for (unsigned block = 0; block < 0x100; ++block) text += static_cast<char16_t>(block << 8 | 0x41);
    std::vector<Conversion> expected;
    for (int capacity : {0, 100, 300}) expected.push_back(Convert(kPage, text, capacity, false));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                size_t k = 0;
                for (int capacity : {0, 100, 300}) wrong[t] += Convert(kPage, text, capacity, true) != expected[k++];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(wrong.size(), 0));
}

TEST(UnitTable, EveryUnitAloneAsIcu) {
    for (UINT page : kPages) {
        for (unsigned u = 0; u <= 0xFFFF; ++u) {
            const std::u16string text(1, static_cast<char16_t>(u));
            Conversion fast = Convert(page, text, 4, true);
            if (fast != Convert(page, text, 4, false)) {
                ADD_FAILURE() << "code page " << page << ", unit " << Hex(text);
                break;
            }
        }
    }
}

TEST(UnitTable, SurrogatesAsIcu) {
    const char16_t lows[] = {0xDC00, 0xDC01, 0xDD35, 0xDFFF};
    const char16_t highs[] = {0xD800, 0xD835, 0xD83D, 0xDBFF};
    for (UINT page : kPages) {
        SCOPED_TRACE(page);
        // Every pair of one half with a few of the other, between units of
        // the table; the pairs of mathematical letters have a best fit.
        for (char16_t high = 0xD800; high <= 0xDBFF; ++high)
            for (char16_t low : lows) ExpectSame(page, std::u16string{u'a', high, low, u'\u00E9'}, 8);
        for (char16_t low = 0xDC00; low <= 0xDFFF; ++low)
            for (char16_t high : highs) ExpectSame(page, std::u16string{u'z', high, low, high, low}, 10);
        // Halves alone, reversed, doubled, at either end, and cut by a
        // target that ends inside the run.
        const std::u16string texts[] = {
            {0xD835, u'x'}, {u'x', 0xDC00}, {0xDC00, 0xD835}, {0xD835, 0xD835, 0xDC00}, {u'x', 0xD835},
            {0xD835, 0xDC00, 0xD835, 0xDC01, u'y', 0xDFFF, 0xD800},
        };
        for (const auto& text : texts)
            for (int capacity = 0; capacity <= 8; ++capacity) ExpectSame(page, text, capacity);
    }
}

// Random texts of units the pages map, fit or lack, into every target size
// from the size query to one that is large enough.
TEST(UnitTable, MixedTextsAndShortTargetsAsIcu) {
    const std::vector<char16_t> pool = {
        u'A',     u'z',     u'0',     u' ',     u'\r',    u'\n',    0x0000,   0x007F,   0x0080,   0x00A0,
        0x00E9,   0x00FF,   0x0100,   0x0107,   0x0141,   0x0416,   0x20AC,   0x2591,   0x201C,   0x3042,
        0x4E2D,   0x6F22,   0xAC00,   0xFF21,   0xFB01,   0xE000,   0xFFFD,   0xFFFF,   0xD835,   0xDC00,
    };
    std::mt19937 random(20261209);
    for (UINT page : kPages) {
        for (int i = 0; i < 300; ++i) {
            std::u16string text(1 + random() % 24, u'?');
            for (char16_t& u : text) u = pool[random() % pool.size()];
            const int enough = static_cast<int>(text.size()) * 2 + 2;
            for (int capacity = 0; capacity <= enough; capacity += 1 + static_cast<int>(random() % 3))
                ExpectSame(page, text, capacity);
        }
    }
}

// Runs of ASCII are copied several units at a time: one other unit at any
// place of a run, and targets that end anywhere near it, give ICU's result.
TEST(UnitTable, AsciiRunsBrokenAnywhereAsIcu) {
    for (UINT page : kPages) {
        for (int length = 1; length <= 40; ++length) {
            for (int at = 0; at <= length; ++at) {  // at == length: none
                std::u16string text;
                for (int i = 0; i < length; ++i) text += static_cast<char16_t>(u'a' + i % 26);
                if (at < length) text[static_cast<size_t>(at)] = 0x20AC;
                for (int capacity : {0, at, at + 1, at + 2, length, 2 * length + 1}) ExpectSame(page, text, capacity);
            }
        }
    }
}

// The table holds the results with best fit and '?': calls without best fit
// or with a default character of their own are ICU's, even for units the
// table has learnt.
TEST(UnitTable, OtherRulesAreNotTakenFromTheTable) {
    char out[8];
    BOOL used = FALSE;
    ASSERT_EQ(WideCharToMultiByte(1252, 0, u"\u0100\u4E2D", 2, out, 8, nullptr, &used), 2);
    EXPECT_EQ(std::string(out, 2), "A?");
    ASSERT_EQ(WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, u"\u0100\u4E2D", 2, out, 8, nullptr, &used), 2);
    EXPECT_EQ(std::string(out, 2), "??");
    ASSERT_EQ(WideCharToMultiByte(1252, 0, u"\u0100\u4E2D", 2, out, 8, "#", &used), 2);
    EXPECT_EQ(std::string(out, 2), "A#");
    EXPECT_TRUE(used);
}

}  // namespace
