// Whole jobs through StartLP ... Finish: INI and registry profiles in a
// scratch directory, output to files named there, events recorded by a sink.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "control/Pressel.h"
#include "win/base.h"
#include "win/registry.h"

#include "event_sink.h"
#include "test_support.h"

namespace job_test {

using Pair = std::pair<LONG, LONG>;

// Test strings write ESC as '^' and NUL as '~' so that golden streams stay
// readable.
inline std::string Bytes(const std::string& s) { return test_support::Esc(s, true); }

inline std::u16string U16(const std::string& s) { return test_support::Wide(s); }

class Sink final : public test_support::EventSinkBase {
public:
    std::vector<Pair> notifications;
    std::function<void(LONG, LONG)> onNotify;
    std::function<void(LONG footer)> onHeader;

protected:
    void OnEvent(DISPID id, DISPPARAMS* dp) override {
        LONG first = dp->rgvarg[1].lVal, second = dp->rgvarg[0].lVal;
        if (id == DISPID_NotifyMessage) {
            notifications.emplace_back(first, second);
            if (onNotify) onNotify(first, second);
        } else if (id == DISPID_HeaderEvent && onHeader) {
            onHeader(first);
        }
    }
};

class JobFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_support::MakeScratchDir("pressel-job");
        ASSERT_FALSE(dir_.empty());
        ini_ = Path("printer.ini");
        out_ = Path("out.prn");
        ip_ = NewControl(&sink_);
    }

    void TearDown() override {
        for (auto& [ip, cp, cookie] : controls_) {
            cp->Unadvise(cookie);
            cp->Release();
            ip->Release();
        }
        controls_.clear();
        test_support::RemoveScratchDir(dir_);
    }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    // A control with the sink connected, released by TearDown.
    IPressel* NewControl(Sink* sink) {
        IPressel* ip = nullptr;
        EXPECT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip)), S_OK);
        IConnectionPoint* cp = nullptr;
        DWORD cookie = 0;
        test_support::ConnectSink(ip, sink, &cp, &cookie);
        controls_.push_back({ip, cp, cookie});
        return ip;
    }

    // The printer "P" with entry "E", no pages and no delays. The extra
    // lines come first: the reader takes the first line of a key.
    void WriteIni(const std::string& extra, const std::string& ports = "E=LPT1:\n") const {
        std::ofstream(ini_) << "[P]\n"
                            << extra
                            << "\nEntryName=E\nInitSeq=27,64\nNormalFontSeq=27,78\nStartupDelay=0\n"
                               "ShutdownDelay=0\nPrintableLines=0\n[PrinterPorts]\n"
                            << ports;
    }

    static LONG Start(IPressel* ip, const std::string& ini, const std::string& debugFile, LONG lInst = 0,
                      const char16_t* printer = u"P", HRESULT* phr = nullptr) {
        BSTR bsIni = SysAllocString(U16(ini).c_str());
        BSTR bsPrinter = SysAllocString(printer);
        BSTR bsDebug = SysAllocString(U16(debugFile).c_str());
        LONG val = -1;
        HRESULT hr = ip->StartLP(nullptr, bsPrinter, bsDebug, lInst, bsIni, &val);
        if (phr) *phr = hr;
        SysFreeString(bsIni);
        SysFreeString(bsPrinter);
        SysFreeString(bsDebug);
        return val;
    }
    LONG Start(LONG lInst = 0) { return Start(ip_, ini_, out_, lInst); }

    static void Write(IPressel* ip, const char16_t* text) {
        BSTR b = SysAllocString(text);
        ip->Write(b);
        SysFreeString(b);
    }
    static void Line(IPressel* ip, const char16_t* text) {
        Write(ip, text);
        ip->NewLine();
    }

    static std::string Read(const std::string& path) { return test_support::ReadBytes(path); }

    static bool StillPrinting(IPressel* ip) {
        VARIANT_BOOL b = VARIANT_FALSE;
        ip->get_StillPrinting(&b);
        return b == VARIANT_TRUE;
    }
    static LONG LastError(IPressel* ip) {
        LONG l = 1;
        ip->get_LastError(&l);
        return l;
    }
    static LONG PrinterDC(IPressel* ip) {
        LONG l = 0;
        ip->get_PrinterDC(&l);
        return l;
    }
    static CPressel* Object(IPressel* ip) { return static_cast<CPressel*>(ip); }

    struct Control {
        IPressel* ip;
        IConnectionPoint* cp;
        DWORD cookie;
    };
    std::vector<Control> controls_;
    std::filesystem::path dir_;
    std::string ini_, out_;
    Sink sink_;
    Sink otherSink_;  // for a second control; outlives the connections TearDown ends
    IPressel* ip_ = nullptr;
};

}  // namespace job_test
