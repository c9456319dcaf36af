// What the verbs that print share: the profile and destination options, a
// sink for the control's events that reports in plain words, and one job run
// from StartLP to Finish.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/pressel/automation_client.h"
#include "tools/pressel/verbs.h"

namespace pressel_tool {

// Exit statuses of the printing verbs: 0 printed, 1 the job did not
// complete, kBadUsage (2) bad command line or unreadable input.
constexpr int kPrinted = 0;
constexpr int kNotCompleted = 1;

struct JobOptions {
    std::string ini, reg, printer, output, header, footer;
    bool quiet = false;
};

// Takes argv[*i] if it is one of the job options (--ini, --reg, --output,
// --header, --footer, --quiet), with its value; false when it is not one.
// *ok turns false when the option lacks its value.
bool TakeJobOption(int argc, char** argv, int* i, JobOptions* o, bool* ok);

// The verb's own options: takes argv[*i] (and its value, moving *i on) and
// returns true when it is one of them; *ok turns false when its value is
// missing or bad.
using OwnOption = std::function<bool(int* i, bool* ok)>;

// Walks argv[1] on: the job options, then the verb's own (own may be
// empty), everything else positional ("-" too). False, said on stderr, for
// an unknown option or one without its value.
bool TakeArgs(const char* verb, int argc, char** argv, JobOptions* o, const OwnOption& own,
              std::vector<std::string>* positional);

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

// Text jobs (text_job.cpp). The whole file, or standard input for "-".
bool ReadTextInput(const std::string& name, std::string* text);
// Sends the text line by line, a form feed character starting a page, with
// progress on stderr for long jobs unless quiet; false when the job stopped
// on the way.
bool PrintText(PresselClient& control, const char* verb, const std::string& text, bool quiet);

// Bitmap jobs (image_job.cpp): where the image goes, in character cells.
struct ImageOptions {
    LONG col = 1, height = 0, width = 0;
    bool haveHeight = false, haveWidth = false;
};

// Takes argv[*i] if it is --col, --height or --width, with its number;
// false when it is not one. *ok turns false when the number is missing or bad.
bool TakeImageOption(int argc, char** argv, int* i, ImageOptions* o, bool* ok);

// --height and --width given, each at least 1; says so on stderr otherwise.
bool CheckImageOptions(const char* verb, const ImageOptions& o);

// The image's name as the control should get it.
std::u16string ControlImagePath(const std::string& image);

// Prints the image; false, with the reason on stderr, when the control
// refused it, or when the job stopped.
bool PrintImage(PresselClient& control, const char* verb, const ImageOptions& o, const std::u16string& image);

}  // namespace pressel_tool
