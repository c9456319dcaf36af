// The drivers the app offers: one per printer profile it knows. They come
// from the installed profile directory, the user's profile directory
// ($XDG_DATA_HOME/pressel/profiles, else ~/.local/share/pressel/profiles)
// and the printers under the registry profile key of the app's settings.
// Both are read afresh whenever the list is asked for, so that a profile
// added later is offered without rebuilding or restarting anything.
//
// Driver names are keywords made from where the profile lives:
//   <file>.<printer>        an installed INI file   (epson-9pin.epson-lx-350)
//   user.<file>.<printer>   an INI file of the user's
//   registry.<printer>      a printer under the registry key
#pragma once

#include <string>
#include <vector>

#include "printer-app/profile_ref.h"

namespace printer_app {

struct DriverEntry {
    std::string name;         // the driver keyword
    std::string description;  // the printer and where its profile lives
    ProfileRef profile;
};

// The app's settings live under this key of HKEY_CURRENT_USER; its value
// "ProfileKey" names the registry profile key (under HKEY_CURRENT_USER too).
inline constexpr const char16_t* kSettingsKey = u"Software\\Quendrix\\Pressel Printer App";
inline constexpr const char16_t* kProfileKeyValue = u"ProfileKey";
inline constexpr const char* kDefaultProfileKey = "Software\\Quendrix\\Printers";

// The registry profile key the settings name (the default when they do not).
std::string RegistryProfileKey();

// Every driver, INI profiles first (installed, then the user's), in a
// stable order.
std::vector<DriverEntry> ListDrivers();

// The driver called name, looked up in a fresh list; false when there is none.
bool FindDriver(const std::string& name, DriverEntry* entry);

// Lower-case letters, digits and single hyphens made from text; "printer"
// when nothing is left.
std::string DriverKeyword(const std::string& text);

}  // namespace printer_app
