// What the verbs that print share: the profile and destination options, a
// sink for the control's events that reports in plain words, and one job run
// from StartLP to Finish.
#pragma once

#include <functional>
#include <string>

#include "tools/pressel/automation_client.h"

namespace pressel_tool {

// Exit statuses of the printing verbs: 0 printed, 1 the job did not
// complete, 2 bad command line or unreadable input.
constexpr int kPrinted = 0;
constexpr int kNotCompleted = 1;
constexpr int kBadUsage = 2;

struct JobOptions {
    std::string ini, reg, printer, output, header, footer;
    bool quiet = false;
};

// Takes argv[*i] if it is one of the job options (--ini, --reg, --output,
// --header, --footer, --quiet), with its value; false when it is not one.
// *ok turns false when the option lacks its value.
bool TakeJobOption(int argc, char** argv, int* i, JobOptions* o, bool* ok);

// Exactly one of --ini and --reg; says so on stderr otherwise.
bool CheckProfileOptions(const char* verb, const JobOptions& o);

// True once SIGINT arrived during RunJob: the body should abort the job.
bool JobInterrupted();

// Creates a control as an automation client, starts the job with the options' profile, printer and
// output, runs body while the job runs (body returns false when it stopped
// early), finishes the job and reports failures and printer conditions on
// stderr as "pressel VERB: ...". Page headers and footers come from the
// options. True when the job completed.
bool RunJob(const char* verb, const JobOptions& o, const std::function<bool(PresselClient&)>& body);

}  // namespace pressel_tool
