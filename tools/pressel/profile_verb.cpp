// pressel profile show: a printer profile as a job would load it, with
// defaults applied, sequences decoded and the port the job would open.
// pressel profile list: the installed profiles and the user's own, with the
// printers each file describes.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "profile/IniFile.h"
#include "profile/Profile.h"
#include "profile/ProfileCatalog.h"
#include "tools/pressel/automation_client.h"
#include "tools/pressel/verbs.h"
#include "win/base.h"
#include "win/registry.h"
#include "win/wcs.h"

namespace pressel_tool {

const char kProfileUsage[] =
    "usage: pressel profile show --ini FILE PRINTER\n"
    "       pressel profile show --reg KEYPATH PRINTER\n"
    "       pressel profile list\n"
    "  Shows the profile of PRINTER as a job loads it, with defaults applied and\n"
    "  sequences decoded, and the port a job would open. The profile is the\n"
    "  section PRINTER of the INI file FILE, or the key KEYPATH\\PRINTER under\n"
    "  HKEY_CURRENT_USER. Exit status 1 when the printer has no port.\n"
    "  list: the installed profiles and your own ($XDG_DATA_HOME/pressel/profiles,\n"
    "  else ~/.local/share/pressel/profiles), with the printers in each file.";

namespace {

std::u16string Wide(const char* text) {
    int length = static_cast<int>(std::strlen(text));
    if (length == 0) return {};
    std::u16string wide(static_cast<size_t>(length), u'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text, length, wide.data(), length);
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT", "LF",
                                       "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                       "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

std::string CodeName(WCHAR code) {
    if (code < 32) return kControlNames[code];
    if (code == 32) return "SP";
    if (code < 127) return std::string(1, static_cast<char>(code));
    if (code == 127) return "DEL";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(code));
    return hex;
}

// "27,64  (ESC @)"; the empty sequence reads "(empty)".
std::string DescribeSeq(const EscSeq& seq, bool passCount) {
    if (seq.count == 0) return "(empty)";
    std::string numbers, names;
    int placeholders = 0;
    for (int i = 0; i < seq.count; ++i) {
        numbers += (i ? "," : "") + std::to_string(seq.codes[i]);
        names += (i ? " " : "") + CodeName(seq.codes[i]);
        if (seq.codes[i] == 110) ++placeholders;
    }
    std::string text = numbers + "  (" + names + ")";
    if (passCount && placeholders == 1) text += "  n = number of passes";
    if (passCount && placeholders == 2) text += "  n,n = number of passes, high byte then low byte";
    if (passCount && placeholders > 2) text += "  three or more n: sent as they are";
    return text;
}

std::vector<std::u16string> Tokens(const std::u16string& text) {
    std::vector<std::u16string> tokens;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(u',', start);
        if (comma == std::u16string::npos) comma = text.size();
        if (comma > start) tokens.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return tokens;
}

std::string DescribeSerialSettings(const std::u16string& description, const std::vector<std::u16string>& tokens) {
    size_t comma = description.find(u',');
    std::u16string settings = comma == std::u16string::npos ? u"" : description.substr(comma + 1);
    bool readWrite = settings.find_first_of(u"Yy") != std::u16string::npos;
    std::string text;
    if (settings.size() <= 1 || tokens.size() < 2) {
        text = "line settings unchanged";
    } else {
        text = std::to_string(wcstol(tokens[1].c_str(), nullptr, 0)) + " baud";
        if (tokens.size() > 2) {
            switch (tokens[2][0]) {
            case u'N': case u'n': text += ", no parity"; break;
            case u'E': case u'e': text += ", even parity"; break;
            case u'O': case u'o': text += ", odd parity"; break;
            default: text += ", parity unchanged"; break;
            }
        }
        if (tokens.size() > 3)
            text += ", " + std::to_string(wcstol(tokens[3].c_str(), nullptr, 0) & 0xFF) + " data bits";
        if (tokens.size() > 4) {
            LONG stop = wcstol(tokens[4].c_str(), nullptr, 0);
            text += stop == 1 ? ", 1 stop bit" : stop == 2 ? ", 2 stop bits" : ", stop bits unchanged";
        }
        if (tokens.size() > 5) {
            std::string flow;
            for (WCHAR c : tokens[5]) {
                const char* name = nullptr;
                switch (c) {
                case u'X': case u'x': name = "XON/XOFF"; break;
                case u'C': case u'c': name = "CTS"; break;
                case u'D': case u'd': name = "DSR"; break;
                case u'T': case u't': name = "DTR on"; break;
                case u'R': case u'r': name = "RTS toggle"; break;
                default: break;
                }
                if (name && flow.find(name) == std::string::npos) flow += (flow.empty() ? "" : "+") + std::string(name);
            }
            text += ", flow control " + (flow.empty() ? std::string("off") : flow);
        }
    }
    return text + (readWrite ? "; read-write, printer status protocol on" : "; write only");
}

// What the port description selects, by the rules the job's port opening
// follows.
std::string DescribeTransport(const std::u16string& description, const std::u16string& portName) {
    if (!portName.empty())
        return "file or device \"" + Narrow(portName) + "\" (PortName replaces the port description)";
    std::vector<std::u16string> tokens = Tokens(description);
    if (tokens.empty()) return "none";
    const std::u16string& port = tokens[0];
    if (_wcsicmp(port.c_str(), u"IRDA") == 0) return "port library farsend.dll, IrDA printing";
    if (_wcsicmp(port.c_str(), u"KTSB") == 0)
        return "KTSB link driver (device LPT9:) over serial port " + (tokens.size() > 1 ? Narrow(tokens[1]) : "COM1:");
    if (port.compare(0, 3, u"COM") == 0 || port.compare(0, 3, u"com") == 0)
        return "serial port " + Narrow(port) + ", " + DescribeSerialSettings(description, tokens);
    if (_wcsicmp(port.c_str(), u"FLPORT") == 0)
        return "serial port named by HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\Farlink \"FLPort\", " +
               DescribeSerialSettings(description, tokens);
    return "port library farsend.dll, port \"" + Narrow(port) + "\"";
}

// One heading per directory, then a line per printer: the file and the
// printer's name, quoted as a command line would need it.
int List(int argc) {
    if (argc != 1) return BadUsage(kProfileUsage);
    std::vector<pressel_catalog::ProfilePrinter> printers = pressel_catalog::ListProfilePrinters();
    const std::pair<bool, std::filesystem::path> places[] = {{false, pressel_catalog::InstalledProfileDir()},
                                                             {true, pressel_catalog::UserProfileDir()}};
    for (const auto& [user, dir] : places) {
        std::printf("%s: %s\n", user ? "Your profiles" : "Installed profiles", dir.empty() ? "(none)" : dir.c_str());
        int shown = 0;
        for (const auto& p : printers) {
            if (p.user != user) continue;
            std::printf("  %-24s \"%s\"\n", p.file.filename().c_str(), p.printer.c_str());
            ++shown;
        }
        if (shown == 0) std::printf("  (no profiles)\n");
    }
    return 0;
}

std::u16string UserKeyPath(std::u16string path) {
    for (const char16_t* prefix : {u"HKEY_CURRENT_USER\\", u"HKCU\\"}) {
        size_t n = std::char_traits<char16_t>::length(prefix);
        if (path.size() >= n && _wcsnicmp(path.c_str(), prefix, n) == 0) return path.substr(n);
    }
    return path;
}

int Show(int argc, char** argv) {
    if (argc != 4) return BadUsage(kProfileUsage);
    const bool fromRegistry = std::strcmp(argv[1], "--reg") == 0;
    if (!fromRegistry && std::strcmp(argv[1], "--ini") != 0) return BadUsage(kProfileUsage);
    const std::u16string location = fromRegistry ? UserKeyPath(Wide(argv[2])) : Wide(argv[2]);
    const std::u16string printer = Wide(argv[3]);

    ProfileSource source;
    source.m_bUseRegistry = fromRegistry ? 1 : 0;
    if (fromRegistry) {
        source.m_bstrIniFile = location.c_str();
        std::printf("Printer \"%s\" under HKEY_CURRENT_USER\\%s\n\n", argv[3], Narrow(location).c_str());
    } else {
        source.m_bstrIniName = location.c_str();
        // The reader treats an unreadable file like an empty one; say so here.
        if (std::FILE* f = std::fopen(argv[2], "rb")) {
            std::fclose(f);
        } else {
            std::fprintf(stderr, "pressel profile show: cannot read %s\n", argv[2]);
            return 1;
        }
        std::printf("Printer \"%s\" in %s\n\n", argv[3], argv[2]);
    }

    PrinterSettings settings;
    std::u16string description, portName, entryName;
    BOOL ok = LoadPrinterProfile(source, printer.c_str(), &settings, &description, &portName, &entryName);

    for (int i = 0; i < kProfileKeyCount; ++i) {
        const ProfileKey& key = kProfileKeys[i];
        std::string name = Narrow(key.name);
        switch (key.kind) {
        case ProfileKeyKind::Integer:
            std::printf("%-18s = %d\n", name.c_str(), static_cast<int>(settings.*key.intField));
            break;
        case ProfileKeyKind::Sequence:
            std::printf("%-18s = %s\n", name.c_str(),
                        DescribeSeq(settings.*key.seqField, key.seqField == &PrinterSettings::m_seqGraphModeInit).c_str());
            break;
        case ProfileKeyKind::EntryName:
            std::printf("%-18s = %s\n", name.c_str(), entryName.empty() ? "(empty)" : Narrow(entryName).c_str());
            std::printf("  %-16s = %s\n", "PrinterPorts",
                        description.empty() ? "(no line)" : Narrow(description).c_str());
            break;
        case ProfileKeyKind::PortName:
            std::printf("%-18s = %s\n", name.c_str(), portName.empty() ? "(empty)" : Narrow(portName).c_str());
            break;
        }
    }
    DotDensity density = LoadDotDensity(source, printer.c_str());
    for (auto [key, value] : {std::pair{kDotDensityAcrossKey, density.lAcross}, {kDotDensityDownKey, density.lDown}}) {
        std::string name = Narrow(key);
        if (value > 0) std::printf("%-18s = %d dots per inch\n", name.c_str(), static_cast<int>(value));
        else std::printf("%-18s = (not given)\n", name.c_str());
    }
    if (!ok) {
        std::printf("\nPort: none\n");
        std::fprintf(stderr,
                     "pressel profile show: printer \"%s\": EntryName missing (%s); a job would fail with "
                     "\"CPressel::EntryName missing..\"\n",
                     argv[3], entryName.empty() ? "no \"EntryName\" key in the printer's section"
                                                : "no line for it under \"PrinterPorts\"");
        return 1;
    }
    std::printf("\nPort: %s\n", DescribeTransport(description, portName).c_str());
    return 0;
}

}  // namespace

int RunProfile(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "show") == 0) return Show(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "list") == 0) return List(argc - 1);
    return BadUsage(kProfileUsage);
}

}  // namespace pressel_tool
