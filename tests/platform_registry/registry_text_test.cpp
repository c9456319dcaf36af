// .reg text: every value type survives import -> export -> import, the
// foreign encodings import to the same tree, bad files change nothing.
#include <cstring>
#include <sstream>

#include "registry_fixture.h"

namespace {

using RegistryTextTest = RegistryTest;

const char kAllTypes[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "; every way a value is written\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{0C6E2B1A-55A1-4C7E-9E0B-4C1D3A2B1C0D}]\n"
    "@=\"Quendrix Pressel Class V01.14\"\n"
    "[HKEY_CURRENT_USER\\Software\\Quendrix\\Types]\n"
    "\"Sz\"=\"quote \\\" and backslash \\\\ and \xC3\xA9\xE2\x82\xAC\"\n"
    "\"Empty\"=\"\"\n"
    "\"Dword\"=dword:deadBEEF\n"
    "\"Short\"=dword:7\n"
    "\"Binary\"=hex:00,01,fe,FF\n"
    "\"NoData\"=hex:\n"
    "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"
    "\"BigEndian\"=hex(5):00,00,00,01\n"
    "\"None\"=hex(0):\n"
    "\"Odd\"=hex(1):41,00,42\n"
    "\"Lines\"=hex(1):41,00,0a,00,42,00,00,00\n"
    "\"Custom\"=hex(123456):01\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
    "  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30,\\\n"
    "  31,32,33\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\Farlink]\n"
    "\"FLPort\"=\"COM3:\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\EmptyKey]\n";

TEST_F(RegistryTextTest, RoundTripOfEveryType) {
    Import(kAllTypes);
    std::string first = Export();
    // The export is a fixed point: importing it into an empty store gives
    // the same text, byte for byte.
    std::filesystem::remove(path_);
    Import(first);
    EXPECT_EQ(Export(), first);

    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Quendrix\\Types", 0, KEY_READ, &key), ERROR_SUCCESS);
    struct Case {
        const WCHAR* name;
        DWORD type;
        std::string bytes;
    } cases[] = {
        {u"Sz", REG_SZ, std::string()},  // checked as text below
        {u"Empty", REG_SZ, std::string("\0\0", 2)},
        {u"Dword", REG_DWORD, "\xEF\xBE\xAD\xDE"},
        {u"Short", REG_DWORD, std::string("\x07\0\0\0", 4)},
        {u"Binary", REG_BINARY, std::string("\x00\x01\xFE\xFF", 4)},
        {u"NoData", REG_BINARY, ""},
        {u"Expand", REG_EXPAND_SZ, std::string("%\0P\0A\0T\0H\0%\0\0\0", 14)},
        {u"Multi", REG_MULTI_SZ, std::string("a\0\0\0b\0\0\0\0\0", 10)},
        {u"Qword", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"},
        {u"BigEndian", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x01", 4)},
        {u"None", REG_NONE, ""},
        {u"Odd", REG_SZ, std::string("A\0B", 3)},
        {u"Lines", REG_SZ, std::string("A\0\n\0B\0\0\0", 8)},
        {u"Custom", 0x123456, "\x01"},
    };
    for (const auto& c : cases) {
        BYTE buf[128];
        DWORD type = 0, size = sizeof buf;
        ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, buf, &size), ERROR_SUCCESS) << Narrow(c.name);
        EXPECT_EQ(type, c.type) << Narrow(c.name);
        if (c.name == std::u16string_view(u"Sz")) continue;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), c.bytes) << Narrow(c.name);
    }
    EXPECT_EQ(QueryString(key, u"Sz"), u"quote \" and backslash \\ and \u00E9\u20AC");
    BYTE buf[64];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExW(key, u"Long", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
    ASSERT_EQ(size, 52u);
    for (DWORD i = 0; i < size; ++i) EXPECT_EQ(buf[i], i);
    RegCloseKey(key);

    // Written as the system's editor does: quoted REG_SZ, dword:, hex for
    // the rest, nothing wider than 80 columns.
    EXPECT_NE(first.find("\"Dword\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(first.find("\"Odd\"=hex(1):41,00,42\n"), std::string::npos);
    EXPECT_NE(first.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\EmptyKey]\n"), std::string::npos);
    std::istringstream lines(first);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST_F(RegistryTextTest, ForeignEncodingsImportAlike) {
    // REGEDIT4: Windows-1252 text; string data in hex(2)/hex(7) is 8-bit.
    Import(std::string("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Q]\r\n"
                       "\"Euro\"=\"\x80 \xE9\"\r\n"
                       "\"Path\"=hex(2):25,54,4d,50,25,00\r\n"
                       "\"List\"=hex(7):61,00,80,00,00\r\n"));
    // Version 5.00 in UTF-16LE with a BOM, CRLF, as the device's tools write.
    std::u16string wide = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\W]\r\n"
                          u"\"Euro\"=\"\u20AC \u00E9\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) bytes += {char(c & 0xFF), char(c >> 8)};
    Import(bytes);
    // UTF-8 with a BOM.
    Import("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKCU\\Software\\U]\n\"Euro\"=\"\xE2\x82\xAC \xC3\xA9\"\n");

    for (const WCHAR* name : {u"Software\\Q", u"Software\\W", u"Software\\U"}) {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name, 0, KEY_READ, &key), ERROR_SUCCESS) << Narrow(name);
        EXPECT_EQ(QueryString(key, u"Euro"), u"\u20AC \u00E9") << Narrow(name);
        RegCloseKey(key);
    }
    HKEY q;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Q", 0, KEY_READ, &q), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(q, u"Path"), u"%TMP%");
    BYTE buf[32];
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExW(q, u"List", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(buf), size / 2), std::u16string(u"a\0\u20AC\0\0", 5));
    RegCloseKey(q);
}

TEST_F(RegistryTextTest, DeletionsAndSubtreeExport) {
    Import(kAllTypes);
    Import("Windows Registry Editor Version 5.00\n"
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\EmptyKey]\n"
           "[hkey_current_user\\software\\quendrix\\types]\n"
           "\"Sz\"=-\n"
           "\"Absent\"=-\n");
    std::string text;
    EXPECT_EQ(pressel_registry::Export("HKLM\\SOFTWARE\\Quendrix\\EmptyKey", &text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(pressel_registry::Export("HKEY_USERS\\x", &text), ERROR_INVALID_PARAMETER);
    std::string types = Export("hkcu\\SOFTWARE\\quendrix\\TYPES");
    EXPECT_EQ(types.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quendrix\\Types]\n"
                          "\"Empty\"=\"\"\n",
                          0),
              0u)
        << types;
    EXPECT_EQ(Export("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix"),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix]\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\Farlink]\n"
              "\"FLPort\"=\"COM3:\"\n");
}

TEST_F(RegistryTextTest, ParseErrorsNameTheLineAndChangeNothing) {
    Import("Windows Registry Editor Version 5.00\n[HKCU\\Keep]\n\"a\"=\"1\"\n");
    std::string before = FileBytes();
    struct Case {
        std::string text;
        int line;
    } cases[] = {
        {"", 0},
        {"Not a header\n", 1},
        {"Windows Registry Editor Version 5.00\n\"v\"=\"outside\"\n", 2},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=\"unterminated\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=dword:123456789\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=hex:1g\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=hex(zz):00\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=hex:00,\\\n  01,zz\n\"w\"=\"\"\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=\"x\" junk\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\nv=\"x\"\n", 3},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\A]\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A\\\\B]\n", 2},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A\n", 2},
        {"Windows Registry Editor Version 5.00\n[-HKCU]\n", 2},
        {"Windows Registry Editor Version 5.00\n[-HKCU\\A]\n\"v\"=\"1\"\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKCU\\A]\n\"v\"=\"\xC3\x28\"\n", 3},
        {"\xFF\xFEW\0i\0n", 0},
    };
    for (const auto& c : cases) {
        std::string message;
        EXPECT_EQ(pressel_registry::Import(c.text, &message), ERROR_INVALID_DATA) << c.text;
        if (c.line) {
            EXPECT_EQ(message.rfind("line " + std::to_string(c.line) + ":", 0), 0u) << message;
        }
        EXPECT_FALSE(message.empty());
    }
    EXPECT_EQ(FileBytes(), before);
}

}  // namespace
