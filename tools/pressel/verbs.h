// Verbs of the pressel command; each returns the process exit status.
#pragma once

namespace pressel_tool {

struct Verb {
    const char* name;
    const char* usage;  // one line, shown by "pressel help"
    int (*run)(int argc, char** argv);  // argv[0] is the verb
};

// The verbs, in the order "pressel help" lists them.
extern const Verb kVerbs[];
extern const int kVerbCount;

}  // namespace pressel_tool
