#include "printer-app/catalogue.h"

#include <set>

#include "profile/ProfileCatalog.h"
#include "tools/pressel/automation_client.h"
#include "win/base.h"
#include "win/registry.h"
#include "win/wcs.h"

namespace printer_app {
namespace {

std::u16string ReadSettingsString(const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    WCHAR buffer[256] = {};
    DWORD type = 0, bytes = sizeof buffer - sizeof(WCHAR);
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
    return std::u16string(buffer);
}

// The printers (subkeys other than "PrinterPorts") under the profile key.
std::vector<std::string> RegistryPrinters(const std::string& profileKey) {
    std::vector<std::string> printers;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, pressel_tool::Wide(profileKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return printers;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD units = 256;
        if (RegEnumKeyExW(key, i, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::u16string printer(name, units);
        if (_wcsicmp(printer.c_str(), kPrinterPortsSection) != 0) printers.push_back(pressel_tool::Narrow(printer));
    }
    RegCloseKey(key);
    return printers;
}

// Adds an entry, its name made unique by a number when two profiles give
// the same keyword.
void Add(std::vector<DriverEntry>* drivers, std::set<std::string>* taken, std::string name, std::string description,
         ProfileRef profile) {
    std::string unique = name;
    for (int n = 2; !taken->insert(unique).second; ++n) unique = name + "-" + std::to_string(n);
    drivers->push_back({unique, std::move(description), std::move(profile)});
}

}  // namespace

std::string DriverKeyword(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (keep) out.push_back(static_cast<char>(c));
        else if (!out.empty() && out.back() != '-') out.push_back('-');
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out.empty() ? "printer" : out;
}

std::string RegistryProfileKey() {
    std::u16string key = ReadSettingsString(kProfileKeyValue);
    return key.empty() ? kDefaultProfileKey : pressel_tool::Narrow(key);
}

std::vector<DriverEntry> ListDrivers() {
    std::vector<DriverEntry> drivers;
    std::set<std::string> taken;
    for (const pressel_catalog::ProfilePrinter& p : pressel_catalog::ListProfilePrinters()) {
        std::string stem = p.file.stem().string();
        std::string name = (p.user ? "user." : "") + DriverKeyword(stem) + "." + DriverKeyword(p.printer);
        ProfileRef ref;
        ref.file = p.file.string();
        ref.printer = p.printer;
        Add(&drivers, &taken, name, p.printer + " (" + p.file.filename().string() + (p.user ? ", yours)" : ")"), ref);
    }
    std::string profileKey = RegistryProfileKey();
    for (const std::string& printer : RegistryPrinters(profileKey)) {
        ProfileRef ref;
        ref.registry = true;
        ref.key = profileKey;
        ref.printer = printer;
        Add(&drivers, &taken, "registry." + DriverKeyword(printer), printer + " (registry)", ref);
    }
    return drivers;
}

bool FindDriver(const std::string& name, DriverEntry* entry) {
    for (DriverEntry& d : ListDrivers()) {
        if (d.name == name) {
            *entry = std::move(d);
            return true;
        }
    }
    return false;
}

}  // namespace printer_app
