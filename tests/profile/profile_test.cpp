#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profile/IniFile.h"
#include "profile/Profile.h"
#include "profile_fixture.h"
#include "win/registry.h"
#include "win/wcs.h"

namespace {

using profile_test::ScratchDir;

std::vector<int> Codes(const EscSeq& seq) { return std::vector<int>(seq.codes, seq.codes + seq.count); }

// Writes values into one of the two profile stores and says where they are.
class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    virtual void Put(const std::u16string& section, const std::u16string& key, const std::u16string& value) = 0;
    virtual ProfileSource Source() = 0;
};

class IniStore : public ProfileStore {
public:
    explicit IniStore(std::string path) : m_path(std::move(path)), m_widePath(m_path.begin(), m_path.end()) {}
    void Put(const std::u16string& section, const std::u16string& key, const std::u16string& value) override {
        m_sections[std::string(section.begin(), section.end())] +=
            std::string(key.begin(), key.end()) + "=" + std::string(value.begin(), value.end()) + "\n";
    }
    ProfileSource Source() override {
        std::string text;
        for (const auto& [name, lines] : m_sections) text += "[" + name + "]\n" + lines;
        std::ofstream(m_path, std::ios::binary) << text;
        return ProfileSource{0, nullptr, m_widePath.c_str()};
    }

private:
    std::string m_path;
    std::u16string m_widePath;
    std::map<std::string, std::string> m_sections;
};

class RegistryStore : public ProfileStore {
public:
    void Put(const std::u16string& section, const std::u16string& key, const std::u16string& value) override {
        SetValue(section, key, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    }
    static void SetValue(const std::u16string& section, const std::u16string& key, DWORD type, const void* data,
                         DWORD bytes) {
        std::u16string path = std::u16string(kPath) + u"\\" + section;
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(h, key.c_str(), 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
        RegCloseKey(h);
    }
    ProfileSource Source() override { return ProfileSource{1, kPath, nullptr}; }
    static constexpr const char16_t* kPath = u"Software\\Test\\Printers";
};

class ProfileRead : public ScratchDir, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        if (GetParam())
            m_store = std::make_unique<RegistryStore>();
        else
            m_store = std::make_unique<IniStore>((m_dir / "profile.ini").string());
    }
    void TearDown() override {
        FreeIniCache();
        ScratchDir::TearDown();
    }
    std::unique_ptr<ProfileStore> m_store;
};

TEST_P(ProfileRead, IntegersReadTheLeadingDecimal) {
    struct {
        const char16_t* key;
        std::optional<std::u16string> text;  // nullopt: key absent
        LONG expected;
    } cases[] = {
        {u"Plain", u"60", 60},       {u"Empty", u"", 56},           {u"Absent", std::nullopt, 56},
        {u"Hex", u"0x3C", 0},        {u"Signed", u"  -12abc", -12}, {u"Plus", u"+7", 7},
        {u"Word", u"abc", 0},        {u"Zero", u"0", 0},            {u"Huge", u"99999999999", 2147483647},
        {u"Octal", u"012", 12},
    };
    for (const auto& c : cases)
        if (c.text) m_store->Put(u"P", c.key, *c.text);
    ProfileSource source = m_store->Source();
    for (const auto& c : cases)
        EXPECT_EQ(ReadProfileInt(source, u"P", c.key, 56), c.expected) << std::string(c.key, c.key + wcslen(c.key));
}

TEST_P(ProfileRead, SequencesKeepTheirNotation) {
    // "1,2,...,40": the first 32 are kept.
    std::u16string forty;
    std::vector<int> first32;
    for (int i = 1; i <= 40; ++i) {
        std::string number = std::to_string(i);
        forty += (i > 1 ? u"," : u"") + std::u16string(number.begin(), number.end());
        if (i <= 32) first32.push_back(i);
    }
    struct {
        const char16_t* key;
        std::optional<std::u16string> text;
        const char16_t* def;
        std::vector<int> expected;
    } cases[] = {
        {u"FormFeedSeq", u"", u"12,13,10", {}},
        {u"AbsentSeq", std::nullopt, u"12,13,10", {12, 13, 10}},
        {u"CrLfSeq", u"0x0D, 0x0A", u"", {13, 32}},
        {u"Letters", u"27,E", u"", {27, 69}},
        {u"Placeholder", u"27,42,n,n", u"", {27, 42, 110, 110}},
        {u"Forty", forty, u"", first32},
        {u"EmptyTokens", u",,27,,64,", u"", {27, 64}},
    };
    for (const auto& c : cases)
        if (c.text) m_store->Put(u"P", c.key, *c.text);
    ProfileSource source = m_store->Source();
    for (const auto& c : cases) {
        EscSeq seq;
        ParseSeq(ReadProfileString(source, u"P", c.key, c.def).c_str(), &seq);
        EXPECT_EQ(Codes(seq), c.expected) << std::string(c.key, c.key + wcslen(c.key));
    }
}

TEST_P(ProfileRead, MissingStoreGivesDefaults) {
    ProfileSource source = m_store->Source();
    // Nothing was put: no section (INI) or no key (registry).
    EXPECT_EQ(ReadProfileString(source, u"P", u"K", u"dflt"), u"dflt");
    EXPECT_EQ(ReadProfileInt(source, u"P", u"K", 56), 56);
    source.m_bstrIniName = u"/nonexistent/dir/profile.ini";
    source.m_bstrIniFile = u"Software\\Nowhere";
    EXPECT_EQ(ReadProfileString(source, u"P", u"K", u"dflt"), u"dflt");
}

TEST_P(ProfileRead, OverlongNamesReadTheDefault) {
    m_store->Put(u"P", u"K", u"1");
    ProfileSource source = m_store->Source();
    std::u16string longName(300, u'k');
    EXPECT_EQ(ReadProfileString(source, u"P", longName.c_str(), u"dflt"), u"dflt");
    EXPECT_EQ(ReadProfileString(source, longName.c_str(), u"K", u"dflt"), u"dflt");
    EXPECT_EQ(ReadProfileString(source, u"P", u"K", u"dflt"), u"1");
}

TEST_P(ProfileRead, DotDensityIsReadBesideTheJobKeys) {
    m_store->Put(u"P", u"GraphXDpi", u"203");
    m_store->Put(u"P", u"GraphYDpi", u"-5");
    m_store->Put(u"Q", u"GraphXDpi", u"");
    ProfileSource source = m_store->Source();
    DotDensity density = LoadDotDensity(source, u"P");
    EXPECT_EQ(density.lAcross, 203);
    EXPECT_EQ(density.lDown, 0);  // negative: not given
    density = LoadDotDensity(source, u"Q");
    EXPECT_EQ(density.lAcross, 0);
    EXPECT_EQ(density.lDown, 0);
    EXPECT_EQ(g_pIniCache, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Backends, ProfileRead, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Registry" : "Ini"; });

class RegistryProfile : public ScratchDir {};

TEST_F(RegistryProfile, ValuesAreTextUpToTheirFirstZero) {
    ProfileSource source{1, RegistryStore::kPath, nullptr};
    std::u16string fits(255, u'v');
    std::u16string tooLong(256, u'w');
    RegistryStore::SetValue(u"P", u"Fits", REG_SZ, fits.c_str(), 512);
    RegistryStore::SetValue(u"P", u"TooLong", REG_SZ, tooLong.c_str(), 514);
    const WCHAR embedded[] = u"ab\0cd";
    RegistryStore::SetValue(u"P", u"Embedded", REG_SZ, embedded, sizeof embedded);
    DWORD dword = 0x3C;  // the type is not examined: bytes 3C 00 read as "<"
    RegistryStore::SetValue(u"P", u"Dword", REG_DWORD, &dword, sizeof dword);
    const WCHAR unterminated[] = {u'x', u'y'};
    RegistryStore::SetValue(u"P", u"NoZero", REG_BINARY, unterminated, sizeof unterminated);

    EXPECT_EQ(ReadProfileString(source, u"P", u"Fits", u"D"), fits);
    EXPECT_EQ(ReadProfileString(source, u"P", u"TooLong", u"D"), u"D");
    EXPECT_EQ(ReadProfileString(source, u"P", u"Embedded", u"D"), u"ab");
    EXPECT_EQ(ReadProfileString(source, u"P", u"Dword", u"D"), u"<");
    EXPECT_EQ(ReadProfileInt(source, u"P", u"Dword", 56), 0);
    EXPECT_EQ(ReadProfileString(source, u"P", u"NoZero", u"D"), u"xy");
}

TEST_F(RegistryProfile, EmptyPathIsTheUserRoot) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"RootPrinter", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, u"K", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"ok"), 6), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(ReadProfileString(ProfileSource{1, nullptr, nullptr}, u"RootPrinter", u"K", u"D"), u"ok");
    EXPECT_EQ(ReadProfileString(ProfileSource{1, u"", nullptr}, u"RootPrinter", u"K", u"D"), u"ok");
}

class Loader : public ScratchDir {
protected:
    void TearDown() override {
        FreeIniCache();
        ScratchDir::TearDown();
    }
    BOOL LoadIni(const std::string& text, PrinterSettings* settings, std::u16string* description,
                 std::u16string* portName = nullptr, std::u16string* entry = nullptr) {
        std::string path = WriteFile("job.ini", text);
        m_path.assign(path.begin(), path.end());
        return LoadPrinterProfile(ProfileSource{0, nullptr, m_path.c_str()}, u"LX", settings, description, portName,
                                  entry);
    }
    std::u16string m_path;
};

TEST_F(Loader, AbsentProfileLoadsEveryDefault) {
    PrinterSettings s;
    s.m_lPrintableLines = -1;
    std::u16string description = u"sentinel";
    std::u16string portName = u"sentinel";
    m_path = (m_dir / "absent.ini").u16string();
    EXPECT_FALSE(LoadPrinterProfile(ProfileSource{0, nullptr, m_path.c_str()}, u"LX", &s, &description, &portName));
    EXPECT_EQ(description, u"");
    EXPECT_EQ(portName, u"");
    EXPECT_EQ(s.m_lPrintableLines, 56);
    EXPECT_EQ(s.m_bUnicode, 0);
    EXPECT_EQ(Codes(s.m_seqFormFeed), (std::vector<int>{12, 13, 10}));
    EXPECT_EQ(Codes(s.m_seqCrLf), (std::vector<int>{13, 10}));
    EXPECT_EQ(Codes(s.m_seqShutdownChar), (std::vector<int>{0}));
    EXPECT_EQ(Codes(s.m_seqStartupChar), (std::vector<int>{0}));
    EXPECT_EQ(s.m_lShutdownDelay, 1000);
    EXPECT_EQ(s.m_lStartupDelay, 500);
    EXPECT_EQ(s.m_lStartupCharCount, 0);
    EXPECT_EQ(s.m_lGraphNumPins, 0);
    EXPECT_EQ(s.m_seqInit.count, 0);
    EXPECT_EQ(s.m_seqGraphModeInit.count, 0);
}

TEST_F(Loader, EntryNameLeadsToThePortDescription) {
    struct {
        const char* what;
        std::string file;
        BOOL ok;
        std::u16string description;
    } cases[] = {
        {"entry with port line", "[LX]\nEntryName=E1\n[PrinterPorts]\nE1=COM1:,9600,N,8,1,X\n", TRUE,
         u"COM1:,9600,N,8,1,X"},
        {"entry name case-insensitive", "[LX]\nEntryName=e1\n[PrinterPorts]\nE1=IRDA\n", TRUE, u"IRDA"},
        {"no entry name", "[LX]\nPortName=out.prn\n[PrinterPorts]\nE1=IRDA\n", FALSE, u""},
        {"empty entry name", "[LX]\nEntryName=\n[PrinterPorts]\n=IRDA\n", FALSE, u""},
        {"entry without port line", "[LX]\nEntryName=E2\n[PrinterPorts]\nE1=IRDA\n", FALSE, u""},
        {"entry with empty port line", "[LX]\nEntryName=E1\n[PrinterPorts]\nE1=\n", FALSE, u""},
        {"no PrinterPorts section", "[LX]\nEntryName=E1\n", FALSE, u""},
    };
    for (const auto& c : cases) {
        PrinterSettings s;
        std::u16string description = u"sentinel";
        EXPECT_EQ(LoadIni(c.file, &s, &description), c.ok) << c.what;
        EXPECT_EQ(description, c.description) << c.what;
        EXPECT_EQ(g_pIniCache, nullptr) << c.what << ": cache left loaded";
    }
}

TEST_F(Loader, ReadsTheFileAfreshForEveryJob) {
    PrinterSettings s;
    std::u16string description, portName, entry;
    ASSERT_TRUE(LoadIni("[LX]\nEntryName=E\nPortName=a.prn\nPrintableLines=10\n[PrinterPorts]\nE=IRDA\n", &s,
                        &description, &portName, &entry));
    EXPECT_EQ(entry, u"E");
    EXPECT_EQ(portName, u"a.prn");
    EXPECT_EQ(s.m_lPrintableLines, 10);
    ASSERT_TRUE(LoadIni("[LX]\nEntryName=E\nPrintableLines=20\n[PrinterPorts]\nE=KTSB,COM2:\n", &s, &description,
                        &portName));
    EXPECT_EQ(s.m_lPrintableLines, 20);
    EXPECT_EQ(portName, u"");
    EXPECT_EQ(description, u"KTSB,COM2:");
}

}  // namespace
