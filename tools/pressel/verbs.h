// Verbs of the pressel command; each returns the process exit status.
//
// A verb is one entry of kVerbs: its name, a one-line summary for
// "pressel help", its whole usage text and the function that runs it. The
// command answers "pressel help VERB" and "pressel VERB --help" from the
// usage text on standard output with status 0, so a verb never sees --help;
// on a wrong command line the verb calls BadUsage with the same text.
#pragma once

namespace pressel_tool {

struct Verb {
    const char* name;
    const char* summary;  // one line, shown by "pressel help"
    const char* usage;    // starts "usage: pressel NAME", ends without a newline
    int (*run)(int argc, char** argv);  // argv[0] is the verb
};

// The verbs, in the order "pressel help" lists them.
extern const Verb kVerbs[];
extern const int kVerbCount;

// The usage texts, each defined beside its verb.
extern const char kRegUsage[];
extern const char kProfileUsage[];
extern const char kPrintUsage[];
extern const char kBitmapUsage[];
extern const char kPreviewUsage[];
extern const char kVersionUsage[];
extern const char kRegisterUsage[];
extern const char kUnregisterUsage[];

// Exit status of a wrong command line, after the usage went to stderr.
constexpr int kBadUsage = 2;

// Writes usage to standard error and returns kBadUsage.
int BadUsage(const char* usage);

}  // namespace pressel_tool
