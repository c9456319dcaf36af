// The job plumbing the printing verbs share.
#include "tools/pressel/job_common.h"

#include <csignal>
#include <cstdio>

#include "win/base.h"

namespace pressel_tool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// Printer conditions of read-write serial ports and of the link.
const char* ConditionText(LONG code) {
    switch (code) {
    case 222: return "paper jam";
    case 223: return "paper running low";
    case 224: return "battery low";
    case 228: return "print head too hot";
    case 229: return "cover open";
    case 300:
    case 301: return "printer error";
    default: return nullptr;
    }
}

// Receives the control's events: writes headers and footers, reports
// conditions and remembers how the job ended.
class JobSink final : public IDispatch {
public:
    JobSink(const char* verb, const JobOptions& o) : m_verb(verb), m_options(o) {}

    PresselClient* m_pControl = nullptr;
    bool m_bEndedNormally = false;
    bool m_bFailed = false;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPresselEvents) {
            *ppv = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on RunJob's stack, for longer than the connection.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo) *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!dp || dp->cArgs != 2 || dp->rgvarg[0].vt != VT_I4 || dp->rgvarg[1].vt != VT_I4)
            return DISP_E_BADPARAMCOUNT;
        LONG first = dp->rgvarg[1].lVal, second = dp->rgvarg[0].lVal;
        if (id == DISPID_HeaderEvent) OnHeader(first);
        else if (id == DISPID_NotifyMessage) OnNotify(first, second);
        else return DISP_E_MEMBERNOTFOUND;
        return S_OK;
    }

private:
    void OnHeader(LONG lFooter) {
        const std::string& pattern = lFooter ? m_options.footer : m_options.header;
        if (pattern.empty() || !m_pControl) return;
        LONG lPage = m_pControl->PageNo();
        std::string text = pattern;
        for (size_t at; (at = text.find("{page}")) != std::string::npos;)
            text.replace(at, 6, std::to_string(lPage));
        m_pControl->Write(Wide(text));
        m_pControl->NewLine();
    }

    void OnNotify(LONG lType, LONG lError) {
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
        const char* text = "the printer reported a failure";
        if (lType == 1) {
            switch (lError) {
            case 2: text = "writing to the printer failed; the job stopped"; break;
            case 7: text = "the printer's port could not be opened"; break;
            case 8: text = "the profile gives no port for this printer (EntryName and its PrinterPorts line)"; break;
            case 9: text = "closing the printer's port failed; the end of the job may be lost"; break;
            case 10: text = "the job was cancelled"; break;
            default: break;
            }
        }
        std::fprintf(stderr, "pressel %s: %s [%d,%d]\n", m_verb, text, static_cast<int>(lType),
                     static_cast<int>(lError));
    }

    const char* m_verb;
    const JobOptions& m_options;
};

}  // namespace

std::u16string Wide(const std::string& text) {
    if (text.empty()) return {};
    std::u16string wide(text.size(), u'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

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
