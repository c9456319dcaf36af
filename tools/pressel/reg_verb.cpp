// pressel reg import FILE | pressel reg export [KEY]: moves .reg text into
// and out of the registry store.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "pressel/registry.h"
#include "tools/pressel/verbs.h"
#include "win/errors.h"

namespace pressel_tool {

const char kRegUsage[] =
    "usage: pressel reg import FILE\n"
    "       pressel reg export [KEY]\n"
    "  import merges the .reg file FILE (REGEDIT4, or version 5.00 in UTF-8 or\n"
    "  UTF-16LE) into the registry; a file with an error changes nothing.\n"
    "  export prints the whole registry, or KEY with everything below it;\n"
    "  HKCU, HKLM and HKCR abbreviate the root names. The registry is the file\n"
    "  $PRESSEL_REGISTRY, else $XDG_CONFIG_HOME/pressel/registry.reg, else\n"
    "  ~/.config/pressel/registry.reg.";

namespace {

int Import(const char* file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "pressel reg import: cannot read %s\n", file);
        return 1;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "pressel reg import: cannot read %s\n", file);
        return 1;
    }
    std::string message;
    LONG rc = pressel_registry::Import(bytes, &message);
    if (rc != ERROR_SUCCESS) {
        if (rc == ERROR_INVALID_DATA)
            std::fprintf(stderr, "pressel reg import: %s: %s; nothing imported\n", file, message.c_str());
        else
            std::fprintf(stderr, "pressel reg import: %s (%s, error %d); nothing imported\n", message.c_str(),
                         pressel_registry::StorePath().c_str(), int(rc));
        return 1;
    }
    return 0;
}

int Export(const char* key) {
    std::string text;
    LONG rc = pressel_registry::Export(key ? key : "", &text);
    switch (rc) {
        case ERROR_SUCCESS:
            std::fwrite(text.data(), 1, text.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case ERROR_INVALID_PARAMETER:
            std::fprintf(stderr, "pressel reg export: bad key name '%s' (start with HKEY_CLASSES_ROOT, "
                                 "HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKCR, HKCU or HKLM)\n", key);
            return 1;
        case ERROR_FILE_NOT_FOUND:
            std::fprintf(stderr, "pressel reg export: no key '%s'\n", key);
            return 1;
        case ERROR_REGISTRY_CORRUPT:
            std::fprintf(stderr, "pressel reg export: the registry file %s is malformed\n",
                         pressel_registry::StorePath().c_str());
            return 1;
        default:
            std::fprintf(stderr, "pressel reg export: cannot read %s (error %d)\n",
                         pressel_registry::StorePath().c_str(), int(rc));
            return 1;
    }
}

}  // namespace

int RunReg(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "import") == 0) return Import(argv[2]);
    if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "export") == 0) return Export(argc == 3 ? argv[2] : nullptr);
    return BadUsage(kRegUsage);
}

}  // namespace pressel_tool
