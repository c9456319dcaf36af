// pressel-printer-app: every Pressel printer profile as an IPP Everywhere
// printer, on PAPPL's standard main loop and sub-commands. Its jobs print
// through pressel-print-worker (print_worker.cpp).
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "printer-app/device_scheme.h"
#include "printer-app/device_uri.h"
#include "printer-app/driver.h"
#include "printer-app/system.h"

namespace {

constexpr const char* kVersion = "1.0";

void Usage(void*) {
    std::puts(
        "Usage: pressel-printer-app SUB-COMMAND [OPTIONS] [FILENAME]\n"
        "\n"
        "Sub-commands:\n"
        "  server           run the server (loopback only unless -o listen-hostname=... says otherwise)\n"
        "  drivers          list the drivers: one per printer profile\n"
        "  devices          list devices\n"
        "  add              add a printer: -d NAME -m DRIVER [-v DEVICE]\n"
        "  modify, delete   change or remove a printer (-d NAME)\n"
        "  printers         list the printers\n"
        "  default          show or set the default printer\n"
        "  submit           print files (-d NAME, -o name=value for job options)\n"
        "  jobs, status     list jobs, show states\n"
        "  cancel           cancel a job (-d NAME -j JOB-ID, -a for all)\n"
        "  pause, resume    stop or restart printing on a printer\n"
        "  options          list a printer's options\n"
        "  shutdown         stop the running server\n"
        "\n"
        "Devices: pressel:profile (the port the profile names; the default), pressel:/path (a file\n"
        "or device), pressel:PORT-DESCRIPTION (COM1:,9600,N,8,1,X  FLPORT  KTSB,COM2:  IRDA\n"
        "TCP:host:port).\n"
        "Job options: pressel-header=TEXT, pressel-footer=TEXT ({page} {job} {user} {date}),\n"
        "pressel-font=normal|double-wide|compressed.\n"
        "Server options (-o name=value): listen-hostname, auth-service, admin-group, server-port,\n"
        "log-file, log-level, spool-directory, state-file, worker-timeout.");
}

// "add" without a device uses the profile's own port.
std::vector<char*> WithDefaultDevice(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    if (argc > 1 && !std::strcmp(argv[1], "add")) {
        bool hasDevice = false;
        for (int i = 2; i < argc; ++i)
            if (!std::strcmp(argv[i], "-v") || !std::strncmp(argv[i], "--device", 8)) hasDevice = true;
        if (!hasDevice) {
            args.push_back(const_cast<char*>("-v"));
            args.push_back(const_cast<char*>(printer_app::kProfilePortUri));
        }
    }
    args.push_back(nullptr);
    return args;
}

}  // namespace

// gcc says it builds with AddressSanitizer by a macro, clang by a feature.
#if defined(__SANITIZE_ADDRESS__)
#define PRESSEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PRESSEL_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(PRESSEL_ADDRESS_SANITIZER)
// PAPPL's sub-commands leave their options and their system to the end of
// the process; the sanitizer build reports only the app's own leaks.
#define PRESSEL_SANITIZER_HOOK extern "C" __attribute__((visibility("default"), used))
PRESSEL_SANITIZER_HOOK const char* __lsan_default_suppressions() { return "leak:libpappl.so\nleak:libcups.so\n"; }
PRESSEL_SANITIZER_HOOK const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

int main(int argc, char** argv) {
    // A worker that has gone must not take the server with it.
    std::signal(SIGPIPE, SIG_IGN);
    printer_app::AddDeviceScheme();
    printer_app::SetSubcommand(argc > 1 && argv[1][0] != '-' ? argv[1] : "server");
    int count = 0;
    pappl_pr_driver_t* drivers = printer_app::MainloopDrivers(&count);
    std::vector<char*> args = WithDefaultDevice(argc, argv);
    return papplMainloop(static_cast<int>(args.size()) - 1, args.data(), kVersion, nullptr, count, drivers, nullptr,
                         printer_app::DriverCallback, nullptr, nullptr, printer_app::SystemCallback, Usage, nullptr);
}
