// pressel: prints jobs through the control, manages the registry store and
// shows printer profiles.
#include <cstdio>
#include <cstring>

#include "tools/pressel/verbs.h"

namespace pressel_tool {

int RunHelp(int argc, char** argv);
int RunReg(int argc, char** argv);
int RunProfile(int argc, char** argv);
int RunPrint(int argc, char** argv);
int RunBitmap(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunVersion(int argc, char** argv);
int RunRegister(int argc, char** argv);
int RunUnregister(int argc, char** argv);

namespace {

const char kHelpUsage[] =
    "usage: pressel help [VERB]\n"
    "  Without VERB: the verbs and what they do. With VERB: its usage, as\n"
    "  \"pressel VERB --help\" shows it.";

}  // namespace

const Verb kVerbs[] = {
    {"help", "the verbs, or the usage of one", kHelpUsage, RunHelp},
    {"reg", "merge a .reg file into the registry, or print the registry", kRegUsage, RunReg},
    {"profile", "show a printer profile as a job loads it, or list the profiles", kProfileUsage, RunProfile},
    {"preview", "draw what the printer would print, as PNG", kPreviewUsage, RunPreview},
    {"print", "print a text file as a job", kPrintUsage, RunPrint},
    {"bitmap", "print a bitmap file", kBitmapUsage, RunBitmap},
    {"version", "show the version information of a library file", kVersionUsage, RunVersion},
    {"register", "register the Pressel control for automation clients", kRegisterUsage, RunRegister},
    {"unregister", "remove the Pressel control's registration", kUnregisterUsage, RunUnregister},
};
const int kVerbCount = sizeof kVerbs / sizeof kVerbs[0];

int BadUsage(const char* usage) {
    std::fprintf(stderr, "%s\n", usage);
    return kBadUsage;
}

namespace {

const Verb* Find(const char* name) {
    for (int i = 0; i < kVerbCount; ++i)
        if (std::strcmp(name, kVerbs[i].name) == 0) return &kVerbs[i];
    return nullptr;
}

// How to call the command and one line per verb: on stdout when asked for,
// on stderr after a wrong command line.
int Overview(FILE* out) {
    std::fprintf(out, "usage: pressel VERB [ARGUMENTS...]\n       pressel --help | --version\n\nverbs:\n");
    for (int i = 0; i < kVerbCount; ++i) std::fprintf(out, "  %-11s %s\n", kVerbs[i].name, kVerbs[i].summary);
    std::fprintf(out, "\n\"pressel help VERB\" or \"pressel VERB --help\" shows the usage of a verb.\n");
    return out == stdout ? 0 : kBadUsage;
}

int ShowUsage(const Verb& verb) {
    std::printf("%s\n", verb.usage);
    return 0;
}

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) return true;
    return false;
}

}  // namespace

int RunHelp(int argc, char** argv) {
    if (argc == 1) return Overview(stdout);
    if (argc != 2) return BadUsage(kHelpUsage);
    if (const Verb* verb = Find(argv[1])) return ShowUsage(*verb);
    std::fprintf(stderr, "pressel help: unknown verb '%s'\n", argv[1]);
    return Overview(stderr);
}

}  // namespace pressel_tool

int main(int argc, char** argv) {
    using namespace pressel_tool;
    if (argc < 2) return Overview(stderr);
    if (std::strcmp(argv[1], "--help") == 0) return Overview(stdout);
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("pressel %s\n", PRESSEL_VERSION);
        return 0;
    }
    const Verb* verb = Find(argv[1]);
    if (!verb) {
        std::fprintf(stderr, "pressel: unknown verb '%s'\n", argv[1]);
        return Overview(stderr);
    }
    // Before the verb sees its arguments, so that every verb answers alike.
    if (AsksForHelp(argc - 1, argv + 1)) return ShowUsage(*verb);
    return verb->run(argc - 1, argv + 1);
}
