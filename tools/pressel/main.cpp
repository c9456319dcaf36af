// pressel: prints jobs through the control, manages the registry store and
// shows printer profiles.
#include <cstdio>
#include <cstring>

#include "tools/pressel/verbs.h"

namespace pressel_tool {

int RunReg(int argc, char** argv);
int RunProfile(int argc, char** argv);
int RunPrint(int argc, char** argv);
int RunBitmap(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunVersion(int argc, char** argv);
int RunRegister(int argc, char** argv);
int RunUnregister(int argc, char** argv);

const Verb kVerbs[] = {
    {"help", "pressel help                      this text", nullptr},
    {"reg", "pressel reg import FILE | export [KEY]  merge a .reg file into the registry, or print it", RunReg},
    {"profile", "pressel profile show --ini FILE | --reg KEYPATH PRINTER  show a printer profile as a job loads it; pressel profile list  the installed profiles and your own", RunProfile},
    {"print", "pressel print (--ini FILE | --reg KEYPATH) PRINTER [--output FILE] [--header T] [--footer T] TEXTFILE  print a text file as a job", RunPrint},
    {"bitmap", "pressel bitmap (--ini FILE | --reg KEYPATH) PRINTER [--output FILE] [--col N] --height LINES --width COLUMNS IMAGE  print a bitmap file", RunBitmap},
    {"preview", "pressel preview (--ini FILE | --reg KEYPATH) PRINTER --output FILE.png (--stream CAPTURED | TEXTFILE | --height L --width C IMAGE)  draw what the printer would print", RunPreview},
    {"version", "pressel version FILE               show the version information of a library file", RunVersion},
    {"register", "pressel register [LIBRARY]        register the Pressel control for automation clients", RunRegister},
    {"unregister", "pressel unregister [LIBRARY]      remove the Pressel control's registration", RunUnregister},
};
const int kVerbCount = sizeof kVerbs / sizeof kVerbs[0];

}  // namespace pressel_tool

namespace {

int Usage(FILE* out) {
    std::fprintf(out, "usage:\n");
    for (int i = 0; i < pressel_tool::kVerbCount; ++i) std::fprintf(out, "  %s\n", pressel_tool::kVerbs[i].usage);
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(stderr);
    for (int i = 0; i < pressel_tool::kVerbCount; ++i) {
        const auto& verb = pressel_tool::kVerbs[i];
        if (std::strcmp(argv[1], verb.name) == 0) return verb.run ? verb.run(argc - 1, argv + 1) : Usage(stdout);
    }
    std::fprintf(stderr, "pressel: unknown verb '%s'\n", argv[1]);
    return Usage(stderr);
}
