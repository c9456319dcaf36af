// Where programs find printer profiles: the directory installed with Pressel
// and the user's own, and the printers each INI profile there describes.
// Used by the programs that offer profiles to choose from; the control reads
// only the profile a job names.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pressel_catalog {

// The installed profiles: share/pressel/profiles beside the program's
// prefix (<bindir>/../share/pressel/profiles), so that a moved or staged
// installation and the build tree find their own.
std::filesystem::path InstalledProfileDir();

// The user's profiles: $XDG_DATA_HOME/pressel/profiles, else
// ~/.local/share/pressel/profiles. Empty when neither can be formed.
std::filesystem::path UserProfileDir();

struct ProfilePrinter {
    std::filesystem::path file;  // the INI file
    std::string printer;         // its section name, UTF-8
    bool user = false;           // found in the user's directory
};

// The section names (other than "PrinterPorts") of one INI profile, in file
// order, decoded from the ANSI code page. A missing or unreadable file has
// none.
std::vector<std::string> PrintersInIniFile(const std::filesystem::path& file);

// Every printer of every *.ini file in the installed and then the user's
// directory, files in name order. Missing directories are skipped.
std::vector<ProfilePrinter> ListProfilePrinters();

}  // namespace pressel_catalog
