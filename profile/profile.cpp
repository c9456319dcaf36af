#include <algorithm>
#include <cstring>

#include "profile/IniFile.h"
#include "profile/Profile.h"
#include "win/base.h"
#include "win/registry.h"
#include "win/wcs.h"

namespace {

const WCHAR* OrEmpty(const WCHAR* s) { return s ? s : u""; }

// Values are read into 512 bytes: 255 units and their terminator.
constexpr DWORD kRegValueBytes = 512;
// INI names and values pass through 256-byte buffers in the ANSI code page.
constexpr int kAnsiNameBytes = 256;
// Callers of the INI reader take values of up to 127 units.
constexpr int kIniValueUnits = 128;

std::u16string ReadRegistryString(const ProfileSource& source, const WCHAR* section, const WCHAR* key,
                                  const WCHAR* def) {
    HKEY hRoot = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OrEmpty(source.m_bstrIniFile), 0, KEY_ALL_ACCESS, &hRoot) != ERROR_SUCCESS)
        return OrEmpty(def);
    HKEY hSection = nullptr;
    LONG rc = RegOpenKeyExW(hRoot, OrEmpty(section), 0, KEY_ALL_ACCESS, &hSection);
    RegCloseKey(hRoot);
    if (rc != ERROR_SUCCESS) return OrEmpty(def);

    WCHAR buffer[kRegValueBytes / sizeof(WCHAR)] = {};
    DWORD type = 0;
    DWORD bytes = kRegValueBytes;
    rc = RegQueryValueExW(hSection, OrEmpty(key), nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &bytes);
    RegCloseKey(hSection);
    if (rc != ERROR_SUCCESS) return OrEmpty(def);
    // The type is not looked at: the data is text up to its first 0, and a
    // value that fills the buffer without one ends with the buffer.
    size_t units = bytes / sizeof(WCHAR);
    size_t length = 0;
    while (length < units && buffer[length]) ++length;
    return std::u16string(buffer, length);
}

// UTF-16 to the ANSI code page in a zeroed 256-byte buffer. FALSE when the
// text does not fit in 255 bytes: the profile format assumes shorter names,
// and a cut name could find another key.
BOOL ToAnsiName(const WCHAR* text, char (&out)[kAnsiNameBytes]) {
    std::memset(out, 0, sizeof out);
    if (!text || !*text) return TRUE;
    int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(wcslen(text)), out, kAnsiNameBytes - 1, nullptr,
                                nullptr);
    return n > 0;
}

std::u16string ReadIniString(const ProfileSource& source, const WCHAR* section, const WCHAR* key, const WCHAR* def) {
    char ansiSection[kAnsiNameBytes];
    char ansiKey[kAnsiNameBytes];
    char ansiDefault[kAnsiNameBytes];
    char ansiFile[kAnsiNameBytes];
    if (!ToAnsiName(section, ansiSection) || !ToAnsiName(key, ansiKey) || !ToAnsiName(def, ansiDefault) ||
        !ToAnsiName(source.m_bstrIniName, ansiFile))
        return OrEmpty(def);
    WCHAR value[kIniValueUnits] = {};
    GetIniString(ansiSection, ansiKey, ansiDefault, value, kIniValueUnits, ansiFile);
    return value;
}

LONG LeadingDecimal(const std::u16string& text) {
    // Base 10 on purpose: "0x3C" reads as 0.
    return wcstol(text.c_str(), nullptr, 10);
}

}  // namespace

std::u16string ReadProfileString(const ProfileSource& source, const WCHAR* section, const WCHAR* key,
                                 const WCHAR* def) {
    return source.m_bUseRegistry ? ReadRegistryString(source, section, key, def)
                                 : ReadIniString(source, section, key, def);
}

LONG ReadProfileInt(const ProfileSource& source, const WCHAR* section, const WCHAR* key, LONG def) {
    std::u16string text = ReadProfileString(source, section, key, u"");
    if (text.empty()) return def;
    return LeadingDecimal(text);
}

// clang-format off
const ProfileKey kProfileKeys[] = {
    {u"PrintableLines",    ProfileKeyKind::Integer,   56,   nullptr,     &PrinterSettings::m_lPrintableLines, nullptr},
    {u"Unicode",           ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_bUnicode, nullptr},
    {u"EntryName",         ProfileKeyKind::EntryName, 0,    nullptr,     nullptr, nullptr},
    {u"PortName",          ProfileKeyKind::PortName,  0,    nullptr,     nullptr, nullptr},
    {u"InitSeq",           ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqInit},
    {u"NormalFontSeq",     ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqNormalFont},
    {u"DoubleWideFontSeq", ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqDoubleWideFont},
    {u"CompressFontSeq",   ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqCompressFont},
    {u"BoldOnSeq",         ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqBoldOn},
    {u"BoldOffSeq",        ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqBoldOff},
    {u"ItalicOnSeq",       ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqItalicOn},
    {u"ItalicOffSeq",      ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqItalicOff},
    {u"UnderlineOnSeq",    ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqUnderlineOn},
    {u"UnderlineOffSeq",   ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqUnderlineOff},
    {u"StrikeOutOnSeq",    ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqStrikeOutOn},
    {u"StrikeOutOffSeq",   ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqStrikeOutOff},
    {u"FormFeedSeq",       ProfileKeyKind::Sequence,  0,    u"12,13,10", nullptr, &PrinterSettings::m_seqFormFeed},
    {u"CrLfSeq",           ProfileKeyKind::Sequence,  0,    u"0x0D,0x0A", nullptr, &PrinterSettings::m_seqCrLf},
    {u"ShutdownChar",      ProfileKeyKind::Sequence,  0,    u"0x00",     nullptr, &PrinterSettings::m_seqShutdownChar},
    {u"StartupChar",       ProfileKeyKind::Sequence,  0,    u"0x00",     nullptr, &PrinterSettings::m_seqStartupChar},
    {u"ShutdownCharCount", ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_lShutdownCharCount, nullptr},
    {u"StartupCharCount",  ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_lStartupCharCount, nullptr},
    {u"ShutdownDelay",     ProfileKeyKind::Integer,   1000, nullptr,     &PrinterSettings::m_lShutdownDelay, nullptr},
    {u"StartupDelay",      ProfileKeyKind::Integer,   500,  nullptr,     &PrinterSettings::m_lStartupDelay, nullptr},
    {u"GraphNumPins",      ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_lGraphNumPins, nullptr},
    {u"GraphXDots",        ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_lGraphXDots, nullptr},
    {u"GraphCharHeight",   ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_lGraphCharHeight, nullptr},
    {u"GraphCharWidth",    ProfileKeyKind::Integer,   0,    nullptr,     &PrinterSettings::m_lGraphCharWidth, nullptr},
    {u"GraphModeInitSeq",  ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqGraphModeInit},
    {u"GraphPrefixSeq",    ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqGraphPrefix},
    {u"GraphPostfixSeq",   ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqGraphPostfix},
    {u"GraphModeExitSeq",  ProfileKeyKind::Sequence,  0,    u"",         nullptr, &PrinterSettings::m_seqGraphModeExit},
};
// clang-format on
const int kProfileKeyCount = sizeof kProfileKeys / sizeof kProfileKeys[0];

BOOL LoadPrinterProfile(const ProfileSource& source, const WCHAR* printerName, PrinterSettings* settings,
                        std::u16string* portDescription, std::u16string* portName, std::u16string* entryName) {
    const WCHAR* section = OrEmpty(printerName);
    std::u16string description;
    std::u16string output;
    for (int i = 0; i < kProfileKeyCount; ++i) {
        const ProfileKey& key = kProfileKeys[i];
        switch (key.kind) {
        case ProfileKeyKind::Integer:
            settings->*key.intField = ReadProfileInt(source, section, key.name, key.intDefault);
            break;
        case ProfileKeyKind::Sequence: {
            std::u16string text = ReadProfileString(source, section, key.name, key.seqDefault);
            ParseSeq(text.c_str(), &(settings->*key.seqField));
            break;
        }
        case ProfileKeyKind::EntryName:
            description = ReadProfileString(source, section, key.name, u"");
            if (entryName) *entryName = description;
            // The entry names a line under "PrinterPorts"; a name without a
            // line there leaves no port description.
            if (!description.empty())
                description = ReadProfileString(source, kPrinterPortsSection, description.c_str(), u"");
            break;
        case ProfileKeyKind::PortName:
            output = ReadProfileString(source, section, key.name, u"");
            break;
        }
    }
    FreeIniCache();
    if (portDescription) *portDescription = description;
    if (portName) *portName = output;
    return description.empty() ? FALSE : TRUE;
}

DotDensity LoadDotDensity(const ProfileSource& source, const WCHAR* printerName) {
    const WCHAR* section = OrEmpty(printerName);
    DotDensity density;
    density.lAcross = std::max<LONG>(0, ReadProfileInt(source, section, kDotDensityAcrossKey, 0));
    density.lDown = std::max<LONG>(0, ReadProfileInt(source, section, kDotDensityDownKey, 0));
    FreeIniCache();
    return density;
}
