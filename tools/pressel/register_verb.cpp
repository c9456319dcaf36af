// pressel register / pressel unregister: run the control library's own
// registration entry points, so that automation clients find the control by
// its program identifier.
#include <cstdio>
#include <string>

#include "tools/pressel/automation_client.h"

namespace pressel_tool {
namespace {

int Run(int argc, char** argv, bool bRegister) {
    const char* verb = bRegister ? "register" : "unregister";
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: pressel %s [LIBRARY]\n  LIBRARY defaults to %s\n", verb,
                     DefaultServerPath().c_str());
        return 2;
    }
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
