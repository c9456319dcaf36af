// The job plumbing the printing verbs share.
#include "tools/pressel/job_common.h"

#include <csignal>
#include <cstdio>

#include "tools/pressel/control_events.h"
#include "tools/pressel/notify_text.h"
#include "win/base.h"

namespace pressel_tool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// Receives the control's events: writes headers and footers, reports
// conditions and remembers how the job ended.
class JobSink final : public ControlEventSink {
public:
    JobSink(const char* verb, const JobOptions& o) : m_verb(verb), m_options(o) {}

    PresselClient* m_pControl = nullptr;
    bool m_bEndedNormally = false;
    bool m_bFailed = false;

private:
    void OnHeader(LONG lFooter) override {
        const std::string& pattern = lFooter ? m_options.footer : m_options.header;
        if (pattern.empty() || !m_pControl) return;
        LONG lPage = m_pControl->PageNo();
        std::string text = pattern;
        for (size_t at; (at = text.find("{page}")) != std::string::npos;)
            text.replace(at, 6, std::to_string(lPage));
        m_pControl->Write(Wide(text));
        m_pControl->NewLine();
    }

    void OnNotify(LONG lType, LONG lError) override {
        if (lType == 2 && lError == 0) {
            m_bEndedNormally = true;
            return;
        }
        if (lType == 1080) {
            const char* what = ConditionText(lError);
            std::fprintf(stderr, "pressel %s: the printer reports condition %d%s%s%s\n", m_verb,
                         static_cast<int>(lError), what ? " (" : "", what ? what : "", what ? ")" : "");
            return;
        }
        m_bFailed = true;
        const char* text = FailureText(lType, lError);
        std::fprintf(stderr, "pressel %s: %s [%d,%d]\n", m_verb, text, static_cast<int>(lType),
                     static_cast<int>(lError));
    }

    const char* m_verb;
    const JobOptions& m_options;
};

}  // namespace

bool TakeJobOption(int argc, char** argv, int* i, JobOptions* o, bool* ok) {
    std::string a = argv[*i];
    auto value = [&](std::string* field) {
        if (*i + 1 >= argc) return false;
        *field = argv[++*i];
        return true;
    };
    if (a == "--ini") *ok = value(&o->ini);
    else if (a == "--reg") *ok = value(&o->reg);
    else if (a == "--output") *ok = value(&o->output);
    else if (a == "--header") *ok = value(&o->header);
    else if (a == "--footer") *ok = value(&o->footer);
    else if (a == "--quiet") o->quiet = true;
    else return false;
    return true;
}

bool TakeArgs(const char* verb, int argc, char** argv, JobOptions* o, const OwnOption& own,
              std::vector<std::string>* positional) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool ok = true;
        if (TakeJobOption(argc, argv, &i, o, &ok) || (own && own(&i, &ok))) {
            // taken
        } else if (a.size() > 1 && a[0] == '-') {
            ok = false;
        } else {
            positional->push_back(a);
        }
        if (!ok) {
            std::fprintf(stderr, "pressel %s: bad or incomplete option '%s'\n", verb, a.c_str());
            return false;
        }
    }
    return true;
}

bool CheckProfileOptions(const char* verb, const JobOptions& o) {
    if (o.ini.empty() != o.reg.empty()) return true;
    std::fprintf(stderr, "pressel %s: name the profile with exactly one of --ini and --reg\n", verb);
    return false;
}

bool JobInterrupted() { return g_interrupted != 0; }

bool RunJob(const char* verb, const JobOptions& o, const std::function<bool(PresselClient&)>& body) {
    if (FAILED(CoInitialize(nullptr))) {
        std::fprintf(stderr, "pressel %s: COM could not be initialised\n", verb);
        return false;
    }
    JobSink sink(verb, o);
    bool sent = false;
    {
        PresselClient control;
        std::string why;
        if (!control.Create(verb, o.quiet, &why)) {
            std::fprintf(stderr, "pressel %s: %s\n", verb, why.c_str());
            CoUninitialize();
            return false;
        }
        if (!control.Advise(&sink)) {
            std::fprintf(stderr, "pressel %s: cannot connect to the control's events\n", verb);
            CoUninitialize();
            return false;
        }
        sink.m_pControl = &control;
        g_interrupted = 0;
        auto previous = std::signal(SIGINT, OnInterrupt);
        LONG lStarted = control.StartLP(Wide(o.reg), Wide(o.printer), Wide(o.output), 0, Wide(o.ini));
        sent = lStarted == 0 && body(control);
        control.Finish();
        std::signal(SIGINT, previous);
        sink.m_pControl = nullptr;
    }
    CoUninitialize();

    bool complete = sent && sink.m_bEndedNormally && !sink.m_bFailed;
    if (!complete && !sink.m_bFailed) std::fprintf(stderr, "pressel %s: the job did not complete\n", verb);
    return complete;
}

}  // namespace pressel_tool
