#include <string>
#include <vector>

#include "profile/IniFile.h"
#include "profile_fixture.h"
#include "win/wcs.h"

namespace {

using profile_test::ScratchDir;

class IniReader : public ScratchDir {
protected:
    void TearDown() override {
        FreeIniCache();
        ScratchDir::TearDown();
    }
    std::u16string Get(const std::string& file, const char* section, const char* key, const char* def = "DEF",
                       int size = 128) {
        std::vector<WCHAR> out(static_cast<size_t>(size) + 1, 0xAAAA);
        int n = GetIniString(section, key, def, out.data(), size, file.c_str());
        EXPECT_EQ(out[static_cast<size_t>(size)], 0xAAAA) << "wrote past the buffer";
        std::u16string text(out.data());
        EXPECT_EQ(n, static_cast<int>(text.size()));
        FreeIniCache();
        return text;
    }
};

struct QuirkCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    std::u16string expected;
};

TEST_F(IniReader, FileQuirks) {
    const std::string longLine(261, 'x');
    const std::string fullLine = "C=" + std::string(258, 'y');  // 260 bytes: still a line
    const QuirkCase cases[] = {
        {"blank before = belongs to the key", "[P]\nSpeed = 96\n", "P", "Speed", u"DEF"},
        {"key with its blank matches", "[P]\nSpeed = 96\n", "P", "Speed ", u"96"},
        {"leading blanks skipped, trailing kept", "[P]\nSpeed=   96  \n", "P", "Speed", u"96  "},
        {"tabs after = skipped", "[P]\nSpeed=\t \t7\n", "P", "Speed", u"7"},
        {"empty value is not the default", "[P]\nSpeed=\n", "P", "Speed", u""},
        {"blanks only is an empty value", "[P]\nSpeed=   \n", "P", "Speed", u""},
        {"key without = matches, empty value", "[P]\nSpeed\n", "P", "Speed", u""},
        {"value keeps later =", "[P]\nK=a=b\n", "P", "K", u"a=b"},
        {"comment line ignored", "[P]\n;Speed=1\nSpeed=2\n", "P", "Speed", u"2"},
        {"commented key alone", "[P]\n;Speed=1\n", "P", "Speed", u"DEF"},
        {"section case-insensitive", "[printer1]\nA=1\n", "Printer1", "A", u"1"},
        {"key case-insensitive", "[P]\nspeed=3\n", "P", "SPEED", u"3"},
        {"blanks inside brackets count", "[ P ]\nA=1\n", "P", "A", u"DEF"},
        {"bytes after ] ignored", "[P] old\nA=1\n", "P", "A", u"1"},
        {"unterminated header hides later sections", "[broken\n[P]\nA=1\n", "P", "A", u"DEF"},
        {"unterminated header after is harmless", "[P]\nA=1\n[broken\n", "P", "A", u"1"},
        {"first of two sections only", "[P]\nA=1\n[P]\nB=2\n", "P", "B", u"DEF"},
        {"first matching key wins", "[P]\nA=1\nA=2\n", "P", "A", u"1"},
        {"search stops at the next section", "[P]\n[Q]\nA=1\n", "P", "A", u"DEF"},
        {"lines before any section are not keys", "A=1\n[P]\n", "P", "A", u"DEF"},
        {"last line without line end", "[P]\nA=1\nB=2", "P", "B", u"2"},
        {"runs of CR and LF", "\r\n\r\n\r[P]\r\r\n\nA=1\r", "P", "A", u"1"},
        {"CR alone ends a line", "[P]\rA=1\rB=2\r", "P", "B", u"2"},
        {"section at end of file", "[P]", "P", "A", u"DEF"},
        {"missing section", "[P]\nA=1\n", "Q", "A", u"DEF"},
        {"line before an over-long one stays", "[P]\nA=1\n" + longLine + "\nB=2\n", "P", "A", u"1"},
        {"over-long line ends the file", "[P]\nA=1\n" + longLine + "\nB=2\n", "P", "B", u"DEF"},
        {"260 bytes is still a line", "[P]\n" + fullLine + "\nB=2\n", "P", "B", u"2"},
        {"over-long last line without end", "[P]\nA=1\n" + longLine, "P", "A", u"1"},
        {"empty file", "", "P", "A", u"DEF"},
    };
    for (const auto& c : cases) {
        std::string path = WriteFile("quirk.ini", c.file);
        EXPECT_EQ(Get(path, c.section, c.key), c.expected) << c.what;
    }
}

TEST_F(IniReader, ValuesAndDefaultsAreCutToTheBuffer) {
    std::string path = WriteFile("long.ini", "[P]\nV=" + std::string(200, 'v') + "\n");
    EXPECT_EQ(Get(path, "P", "V"), std::u16string(127, u'v'));
    EXPECT_EQ(Get(path, "P", "V", "", 4), u"vvv");
    EXPECT_EQ(Get(path, "P", "missing", "abcdef", 4), u"abc");
    EXPECT_EQ(Get(path, "P", "V", "", 1), u"");
}

TEST_F(IniReader, MissingFileGivesDefaultAndIsRetried) {
    std::string path = (m_dir / "later.ini").string();
    EXPECT_EQ(Get(path, "P", "A"), u"DEF");
    EXPECT_EQ(g_pIniCache, nullptr);
    WriteFile("later.ini", "[P]\nA=1\n");
    EXPECT_EQ(Get(path, "P", "A"), u"1");
}

TEST_F(IniReader, CacheServesEveryFileUntilFreed) {
    std::string first = WriteFile("first.ini", "[P]\nA=first\n");
    std::string second = WriteFile("second.ini", "[P]\nA=second\n");
    WCHAR out[128];
    GetIniString("P", "A", "", out, 128, first.c_str());
    EXPECT_EQ(std::u16string(out), u"first");
    GetIniString("P", "A", "", out, 128, second.c_str());
    EXPECT_EQ(std::u16string(out), u"first");
    // A changed file is seen only after the cache is released.
    WriteFile("first.ini", "[P]\nA=changed\n");
    GetIniString("P", "A", "", out, 128, first.c_str());
    EXPECT_EQ(std::u16string(out), u"first");
    FreeIniCache();
    GetIniString("P", "A", "", out, 128, first.c_str());
    EXPECT_EQ(std::u16string(out), u"changed");
}

TEST_F(IniReader, EightBitNamesAndValuesUseTheAnsiCodePage) {
    // Windows-1252: 0xFC u-umlaut, 0xDC U-umlaut, 0xE9 e-acute.
    std::string path = WriteFile("ansi.ini", "[Dr\xFC" "cker]\nT\xE9te=caf\xE9\n");
    EXPECT_EQ(Get(path, "DR\xDC" "CKER", "T\xC9TE"), u"caf\u00E9");
}

}  // namespace
