// Which printer profile a driver stands for, and what of it the app reads
// itself (the control reads the whole profile at every job).
#pragma once

#include <map>
#include <string>

#include "printer-app/page_plan.h"
#include "profile/Profile.h"

namespace printer_app {

struct ProfileRef {
    bool registry = false;
    std::string file;     // INI profile (a path)
    std::string key;      // registry profile: the key under HKEY_CURRENT_USER
    std::string printer;  // the printer's section or subkey
};

// As job description fields ("profile-file", "profile-key", "printer") and
// back; false when the fields name no profile.
void PutProfileFields(const ProfileRef& ref, std::map<std::string, std::string>* fields);
bool GetProfileFields(const std::map<std::string, std::string>& fields, ProfileRef* ref);

// A ProfileSource and the strings it points into.
class ProfileHandle {
public:
    explicit ProfileHandle(const ProfileRef& ref);
    ProfileHandle(const ProfileHandle&) = delete;
    ProfileHandle& operator=(const ProfileHandle&) = delete;
    const ProfileSource& Source() const { return m_source; }
    const WCHAR* Printer() const { return m_printer.c_str(); }

private:
    std::u16string m_file, m_key, m_printer;
    ProfileSource m_source;
};

// What the app lays out pages and media with.
struct ProfileFacts {
    LONG printableLines = 0;  // 0: a roll without pages
    GraphicsGeometry geometry;
    bool graphics = false;    // the geometry prints bitmaps
    int xDpi = 0, yDpi = 0;   // the dot density, defaults applied
    bool hasPort = false;     // the profile names a port for the printer
};

// Density assumed when the profile gives none.
inline constexpr int kDefaultDpi = 180;

// Reads the profile as a job would; false when it has no such printer
// section (a profile without a port still loads).
bool LoadProfileFacts(const ProfileRef& ref, ProfileFacts* facts);

}  // namespace printer_app
