// pressel print: prints a UTF-8 text file as one job through the Pressel
// control, with optional page headers and footers, and tells in plain words
// how the job went.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "control/Pressel.h"
#include "tools/pressel/verbs.h"
#include "win/base.h"

namespace pressel_tool {
namespace {

constexpr const char* kUsage =
    "usage: pressel print (--ini FILE | --reg KEYPATH) PRINTER [--output FILE]\n"
    "                     [--header TEXT] [--footer TEXT] [--quiet] TEXTFILE|-\n"
    "  Prints TEXTFILE (UTF-8; - reads standard input) on PRINTER as the profile\n"
    "  describes it. A form feed character starts a new page. {page} in the\n"
    "  header or footer is replaced by the page number. --output sends the job\n"
    "  to FILE instead of the printer's port.";

struct Options {
    std::string ini, reg, printer, output, header, footer, input;
    bool quiet = false;
};

// Exit statuses: 0 printed, 1 the job did not complete, 2 bad command line
// or unreadable input.
constexpr int kPrinted = 0;
constexpr int kNotCompleted = 1;
constexpr int kBadUsage = 2;

// How many lines make a job long enough for progress reports.
constexpr size_t kProgressEvery = 1000;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

std::u16string Wide(const std::string& text) {
    if (text.empty()) return {};
    std::u16string wide(text.size(), u'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

bool ParseArgs(int argc, char** argv, Options* o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* field) {
            if (i + 1 >= argc) return false;
            *field = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--ini") ok = value(&o->ini);
        else if (a == "--reg") ok = value(&o->reg);
        else if (a == "--output") ok = value(&o->output);
        else if (a == "--header") ok = value(&o->header);
        else if (a == "--footer") ok = value(&o->footer);
        else if (a == "--quiet") o->quiet = true;
        else if (a.size() > 1 && a[0] == '-' && a != "-") ok = false;
        else positional.push_back(a);
        if (!ok) {
            std::fprintf(stderr, "pressel print: bad or incomplete option '%s'\n", a.c_str());
            return false;
        }
    }
    if (o->ini.empty() == o->reg.empty()) {
        std::fprintf(stderr, "pressel print: name the profile with exactly one of --ini and --reg\n");
        return false;
    }
    if (positional.size() != 2) {
        std::fprintf(stderr, "pressel print: expected PRINTER and TEXTFILE\n");
        return false;
    }
    o->printer = positional[0];
    o->input = positional[1];
    return true;
}

bool ReadInput(const std::string& name, std::string* text) {
    if (name == "-") {
        text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

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
class PrintSink final : public IDispatch {
public:
    PrintSink(const Options& o) : m_options(o) {}

    IPressel* m_pControl = nullptr;
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
    // Lives on the verb's stack, for longer than the connection.
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
        LONG lPage = 0;
        m_pControl->get_PageNo(&lPage);
        std::string text = pattern;
        for (size_t at; (at = text.find("{page}")) != std::string::npos;)
            text.replace(at, 6, std::to_string(lPage));
        std::u16string wide = Wide(text);
        BSTR bs = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        m_pControl->Write(bs);
        SysFreeString(bs);
        m_pControl->NewLine();
    }

    void OnNotify(LONG lType, LONG lError) {
        if (lType == 2 && lError == 0) {
            m_bEndedNormally = true;
            return;
        }
        if (lType == 1080) {
            const char* what = ConditionText(lError);
            std::fprintf(stderr, "pressel print: the printer reports condition %d%s%s%s\n", static_cast<int>(lError),
                         what ? " (" : "", what ? what : "", what ? ")" : "");
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
        std::fprintf(stderr, "pressel print: %s [%d,%d]\n", text, static_cast<int>(lType), static_cast<int>(lError));
    }

    const Options& m_options;
};

// Sends the text line by line; false when the job stopped on the way.
bool PrintText(IPressel* ip, const std::string& text, const Options& o) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    bool tty = isatty(STDERR_FILENO);
    bool progress = !o.quiet && lines.size() >= kProgressEvery;
    int lastPercent = -1;

    for (size_t n = 0; n < lines.size(); ++n) {
        if (g_interrupted) {
            ip->UserAbort();
            return false;
        }
        VARIANT_BOOL printing = VARIANT_FALSE;
        ip->get_StillPrinting(&printing);
        if (printing != VARIANT_TRUE) return false;

        // A form feed ends the text before it as a line and starts a page.
        const std::string& line = lines[n];
        bool pending = false, sawFormFeed = false;
        size_t start = 0;
        for (;;) {
            size_t ff = line.find('\f', start);
            std::string piece = line.substr(start, ff == std::string::npos ? std::string::npos : ff - start);
            if (!piece.empty()) {
                std::u16string wide = Wide(piece);
                BSTR bs = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
                ip->Write(bs);
                SysFreeString(bs);
                pending = true;
            }
            if (ff == std::string::npos) break;
            if (pending) ip->NewLine();
            ip->FormFeed();
            pending = false;
            sawFormFeed = true;
            start = ff + 1;
        }
        if (pending || !sawFormFeed) ip->NewLine();

        if (progress) {
            if (tty) {
                int percent = static_cast<int>((n + 1) * 100 / lines.size());
                if (percent != lastPercent) std::fprintf(stderr, "\rpressel print: %3d%%", percent);
                lastPercent = percent;
                if (n + 1 == lines.size()) std::fprintf(stderr, "\n");
            } else if ((n + 1) % kProgressEvery == 0) {
                std::fprintf(stderr, "pressel print: %zu of %zu lines\n", n + 1, lines.size());
            }
        }
    }
    return true;
}

// Connects the sink to the control's events; the cookie for Unadvise.
IConnectionPoint* Connect(IPressel* ip, IDispatch* sink, DWORD* cookie) {
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(ip->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)))) return nullptr;
    IConnectionPoint* cp = nullptr;
    HRESULT hr = cpc->FindConnectionPoint(DIID__IPresselEvents, &cp);
    cpc->Release();
    if (FAILED(hr)) return nullptr;
    if (FAILED(cp->Advise(sink, cookie))) {
        cp->Release();
        return nullptr;
    }
    return cp;
}

}  // namespace

int RunPrint(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kBadUsage;
    }
    std::string text;
    if (!ReadInput(o.input, &text)) {
        std::fprintf(stderr, "pressel print: cannot read '%s': %s\n", o.input.c_str(), std::strerror(errno));
        return kBadUsage;
    }

    IPressel* ip = nullptr;
    if (FAILED(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip)))) {
        std::fprintf(stderr, "pressel print: the control could not be created\n");
        return kNotCompleted;
    }
    PrintSink sink(o);
    sink.m_pControl = ip;
    DWORD cookie = 0;
    IConnectionPoint* cp = Connect(ip, &sink, &cookie);
    if (!cp) {
        std::fprintf(stderr, "pressel print: cannot connect to the control's events\n");
        ip->Release();
        return kNotCompleted;
    }
    auto previous = std::signal(SIGINT, OnInterrupt);

    std::u16string printer = Wide(o.printer), output = Wide(o.output);
    std::u16string iniName = Wide(o.ini), regPath = Wide(o.reg);
    BSTR bsPrinter = SysAllocString(printer.c_str());
    BSTR bsOutput = SysAllocString(output.c_str());
    BSTR bsIniName = SysAllocString(iniName.c_str());
    BSTR bsIniFile = SysAllocString(regPath.c_str());
    LONG lStarted = -1;
    ip->StartLP(bsIniFile, bsPrinter, bsOutput, 0, bsIniName, &lStarted);
    bool sent = lStarted == 0 && PrintText(ip, text, o);
    ip->Finish();
    SysFreeString(bsPrinter);
    SysFreeString(bsOutput);
    SysFreeString(bsIniName);
    SysFreeString(bsIniFile);

    std::signal(SIGINT, previous);
    cp->Unadvise(cookie);
    cp->Release();
    ip->Release();

    bool complete = sent && sink.m_bEndedNormally && !sink.m_bFailed;
    if (complete && !o.quiet) {
        size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        if (!text.empty() && text.back() != '\n') ++lines;
        std::fprintf(stderr, "pressel print: printed %zu lines on %s%s%s\n", lines, o.printer.c_str(),
                     o.output.empty() ? "" : " into ", o.output.c_str());
    } else if (!complete && !sink.m_bFailed) {
        std::fprintf(stderr, "pressel print: the job did not complete\n");
    }
    return complete ? kPrinted : kNotCompleted;
}

}  // namespace pressel_tool
