// pressel register / pressel unregister: run the control library's own
// registration entry points, so that automation clients find the control by
// its program identifier.
#include <cstdio>
#include <string>

#include "tools/pressel/automation_client.h"
#include "tools/pressel/verbs.h"

namespace pressel_tool {

const char kRegisterUsage[] =
    "usage: pressel register [LIBRARY]\n"
    "  Registers the Pressel control of LIBRARY for automation clients: its class,\n"
    "  program identifiers and type library. LIBRARY defaults to the libstavlo.so\n"
    "  beside the platform library pressel runs on.";
const char kUnregisterUsage[] =
    "usage: pressel unregister [LIBRARY]\n"
    "  Removes the registration of the Pressel control of LIBRARY (the type\n"
    "  library stays registered). LIBRARY defaults to the libstavlo.so beside\n"
    "  the platform library pressel runs on.";

namespace {

int Run(int argc, char** argv, bool bRegister) {
    const char* verb = bRegister ? "register" : "unregister";
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) return BadUsage(bRegister ? kRegisterUsage : kUnregisterUsage);
    std::string path = argc == 2 ? argv[1] : DefaultServerPath();
    std::string why;
    if (FAILED(RunServerEntry(path, bRegister, &why))) {
        std::fprintf(stderr, "pressel %s: %s\n", verb, why.c_str());
        return 1;
    }
    std::fprintf(stderr, "pressel %s: %s %s\n", verb, bRegister ? "registered" : "unregistered", path.c_str());
    return 0;
}

}  // namespace

int RunRegister(int argc, char** argv) { return Run(argc, argv, true); }
int RunUnregister(int argc, char** argv) { return Run(argc, argv, false); }

}  // namespace pressel_tool
