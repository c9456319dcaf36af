#include "printer-app/system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "printer-app/catalogue.h"
#include "printer-app/driver.h"
#include "printer-app/job_order.h"
#include "printer-app/job_phases.h"
#include "tools/pressel/automation_client.h"
#include "win/ole.h"

namespace printer_app {
namespace {

constexpr const char* kSystemName = "Pressel Printer App";
constexpr const char* kStateName = "pressel-printer-app.state";
constexpr const char* kSharedAuthService = "login";
// Images above this (grey bytes, pixels across or down) are refused.
constexpr size_t kMaxImageBytes = 64u << 20;
constexpr int kMaxImageSide = 16384;

std::string g_subcommand = "server";
std::string g_stateFile;

pappl_loglevel_t LogLevel(const char* value) {
    if (!value) return PAPPL_LOGLEVEL_WARN;
    if (!std::strcmp(value, "debug")) return PAPPL_LOGLEVEL_DEBUG;
    if (!std::strcmp(value, "info")) return PAPPL_LOGLEVEL_INFO;
    if (!std::strcmp(value, "error")) return PAPPL_LOGLEVEL_ERROR;
    if (!std::strcmp(value, "fatal")) return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_WARN;
}

// A decimal option within [0, max], else def.
int NumberOption(const char* value, int def, int max) {
    if (!value || !*value) return def;
    char* end = nullptr;
    long n = std::strtol(value, &end, 10);
    return (*end || n < 0 || n > max) ? def : static_cast<int>(n);
}

// Workers create the control by its program identifier. Registered here,
// once, before any job: workers starting together would otherwise all
// register it at the same time and find it half-registered.
void RegisterControl(pappl_system_t* system) {
    CLSID clsid;
    if (SUCCEEDED(CLSIDFromProgID(u"Quendrix.Pressel", &clsid))) return;
    std::string why;
    std::string path = pressel_tool::DefaultServerPath();
    if (FAILED(pressel_tool::RunServerEntry(path, true, &why)))
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "The Pressel control (%s) cannot be registered: %s", path.c_str(),
                 why.c_str());
}

// Documents sent as octet streams that PAPPL cannot type: text when they
// read as UTF-8 text (line ends, tabs and form feeds the only controls),
// else the printer's own format, passed to the port as it is.
const char* TypeUnknownDocument(const unsigned char* header, size_t size, void*) {
    size_t i = 0;
    while (i < size) {
        unsigned char c = header[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') return kRawFormat;
            if (c == 0x7F) return kRawFormat;
            ++i;
            continue;
        }
        int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
        if (extra < 0) return kRawFormat;
        // A sequence cut off by the end of the header still counts as text.
        for (int k = 1; k <= extra && i + static_cast<size_t>(k) < size; ++k)
            if ((header[i + static_cast<size_t>(k)] & 0xC0) != 0x80) return kRawFormat;
        i += static_cast<size_t>(extra) + 1;
    }
    return size > 0 ? "text/plain" : kRawFormat;
}

void AddFilters(pappl_system_t* system) {
    papplSystemAddMIMEFilter(system, "text/plain", kRawFormat, TextFilter, nullptr);
    papplSystemAddMIMEFilter(system, "application/octet-stream", kRawFormat, RawFilter, nullptr);
    papplSystemAddMIMEFilter(system, "image/png", kRawFormat, ImageFilter, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", kRawFormat, ImageFilter, nullptr);
}

}  // namespace

pappl_pr_driver_t* MainloopDrivers(int* count) {
    // Strings and array live as long as the program.
    static std::vector<DriverEntry> entries = ListDrivers();
    static std::vector<pappl_pr_driver_t> drivers;
    drivers.clear();
    for (const DriverEntry& e : entries) drivers.push_back({e.name.c_str(), e.description.c_str(), "", nullptr});
    *count = static_cast<int>(drivers.size());
    return drivers.data();
}

void SetSubcommand(const std::string& subcommand) { g_subcommand = subcommand; }

bool IsLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "127.0.0.1" || host == "::1" || host == "[::1]" ||
           host.rfind("localhost:", 0) == 0;
}

std::string StateFilePath(const char* option) {
    if (option && *option) return option;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/" + kStateName;
    std::filesystem::path dir;
    if (getuid() == 0) {
        dir = "/var/lib/pressel-printer-app";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = std::filesystem::path(home) / ".local" / "state";
    } else {
        dir = std::filesystem::temp_directory_path();
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return (dir / kStateName).string();
}

pappl_system_t* SystemCallback(int num_options, cups_option_t* options, void*) {
    const bool server = g_subcommand == "server";
    const char* listen = cupsGetOption("listen-hostname", num_options, options);
    std::string host = listen && *listen ? listen : "localhost";
    const bool shared = !IsLoopbackHost(host);
    const char* auth = cupsGetOption("auth-service", num_options, options);
    if (shared && (!auth || !*auth)) auth = kSharedAuthService;

    pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG;
    // Remote administration needs TLS; a loopback server has no use for it.
    if (!shared) soptions |= PAPPL_SOPTIONS_NO_TLS;
    else soptions |= PAPPL_SOPTIONS_WEB_REMOTE | PAPPL_SOPTIONS_WEB_SECURITY | PAPPL_SOPTIONS_WEB_TLS;

    const char* logFile = cupsGetOption("log-file", num_options, options);
    pappl_system_t* system = papplSystemCreate(
        soptions, kSystemName, NumberOption(cupsGetOption("server-port", num_options, options), 0, 65535),
        "_print,_universal", cupsGetOption("spool-directory", num_options, options), logFile ? logFile : "-",
        LogLevel(cupsGetOption("log-level", num_options, options)), auth && *auth ? auth : nullptr, false);
    if (!system) return nullptr;
    if (const char* group = cupsGetOption("admin-group", num_options, options)) papplSystemSetAdminGroup(system, group);

    int count = 0;
    pappl_pr_driver_t* drivers = MainloopDrivers(&count);
    papplSystemSetPrinterDrivers(system, count, drivers, nullptr, nullptr, DriverCallback, nullptr);
    AddFilters(system);
    papplSystemSetMIMECallback(system, TypeUnknownDocument, nullptr);
    papplSystemSetMaxImageSize(system, kMaxImageBytes, kMaxImageSide, kMaxImageSide);
    SetWorkerHangSeconds(NumberOption(cupsGetOption("worker-timeout", num_options, options), 300, 86400));
    papplSystemSetFooterHTML(system, "Pressel Printer App: every printer profile an IPP Everywhere printer.");

    if (server) {
        // A private server (started by a sub-command) has only its socket.
        if (!cupsGetOption("private-server", num_options, options))
            papplSystemAddListeners(system, host == "*" ? nullptr : host.c_str());
        RegisterControl(system);
        papplSystemAddTimerCallback(system, 0, 1, ReleaseJobsOfIdlePrinters, nullptr);
        g_stateFile = StateFilePath(cupsGetOption("state-file", num_options, options));
        papplSystemLoadState(system, g_stateFile.c_str());
        papplSystemSetSaveCallback(system, reinterpret_cast<pappl_save_cb_t>(papplSystemSaveState),
                                   const_cast<char*>(g_stateFile.c_str()));
    }
    return system;
}

}  // namespace printer_app
