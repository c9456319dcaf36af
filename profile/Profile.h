// Access to printer profiles, held in an INI file or under a registry key of
// HKEY_CURRENT_USER, and the loader that reads every key a job needs.
#pragma once

#include <string>

#include "profile/PrinterSettings.h"
#include "win/types.h"

// Where a profile lives; the control fills it from its own fields. Null
// strings read as empty.
struct ProfileSource {
    BOOL m_bUseRegistry = 0;
    const WCHAR* m_bstrIniFile = nullptr;  // registry path under HKEY_CURRENT_USER
    const WCHAR* m_bstrIniName = nullptr;  // INI file path
};

// The value of key in section, or def when it cannot be found. Registry
// values longer than 255 units read as def; INI values are cut to 127
// units. Names that do not fit 255 bytes in the ANSI code page cannot be
// looked up in an INI file and read as def.
std::u16string ReadProfileString(const ProfileSource& source, const WCHAR* section, const WCHAR* key,
                                 const WCHAR* def);

// The leading signed decimal number of the value (0 when there is none);
// def when the value is missing or empty. Hexadecimal is not read here.
LONG ReadProfileInt(const ProfileSource& source, const WCHAR* section, const WCHAR* key, LONG def);

// How the loader treats one key of the printer section.
enum class ProfileKeyKind { Integer, Sequence, EntryName, PortName };

struct ProfileKey {
    const char16_t* name;
    ProfileKeyKind kind;
    LONG intDefault;              // Integer
    const char16_t* seqDefault;   // Sequence
    LONG PrinterSettings::*intField;
    EscSeq PrinterSettings::*seqField;
};

// Every key of the printer section, in the order a job reads them.
extern const ProfileKey kProfileKeys[];
extern const int kProfileKeyCount;

// Section that maps entry names to port descriptions.
inline constexpr const char16_t* kPrinterPortsSection = u"PrinterPorts";

// Reads the printer's profile in the order of a job start, then releases the
// INI cache so that the next job reads the file afresh. portDescription gets
// the "PrinterPorts" line named by "EntryName" (empty when either is
// missing), portName the "PortName" value, entryName (optional) the
// "EntryName" value itself. Returns FALSE when the port description is
// empty: the job cannot start ("EntryName missing"); the settings are loaded
// all the same.
BOOL LoadPrinterProfile(const ProfileSource& source, const WCHAR* printerName, PrinterSettings* settings,
                        std::u16string* portDescription, std::u16string* portName,
                        std::u16string* entryName = nullptr);

// Dot density of the printer's graphics mode, in dots per inch across a line
// ("GraphXDpi") and down the paper ("GraphYDpi"), for programs that lay out
// pictures or previews in real sizes. 0 where the profile does not say. The
// control itself never reads these keys.
struct DotDensity {
    LONG lAcross = 0;
    LONG lDown = 0;
};
inline constexpr const char16_t* kDotDensityAcrossKey = u"GraphXDpi";
inline constexpr const char16_t* kDotDensityDownKey = u"GraphYDpi";

// Reads both density keys of the printer's section (negative values read as
// 0) and releases the INI cache.
DotDensity LoadDotDensity(const ProfileSource& source, const WCHAR* printerName);
