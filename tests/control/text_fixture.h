// A control set up as a running job writes to a scratch file, so that text,
// font and page tests compare the exact bytes that reached the port.
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

namespace text_test {

// Test strings write ESC as '^' so that golden streams stay readable.
inline std::string Esc(std::string s) {
    for (char& c : s)
        if (c == '^') c = '\x1b';
    return s;
}

// The abort procedure: counts its calls, answers g_abortAnswer and lets a
// test act before a chunk goes out.
inline int g_abortCalls = 0;
inline BOOL g_abortAnswer = 1;
inline std::function<void()> g_onAbort;

inline BOOL TestAbortProc(LONG /*hPort*/, int /*reserved*/) {
    ++g_abortCalls;
    if (g_onAbort) g_onAbort();
    return g_abortAnswer;
}

// Sink for _IPresselEvents: records NotifyMessage pairs and hands
// HeaderEvent to the test's header and footer writers.
class EventSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__IPresselEvents) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) override {
        LONG first = dp->rgvarg[1].lVal, second = dp->rgvarg[0].lVal;
        if (id == DISPID_NotifyMessage) {
            notifications.emplace_back(first, second);
        } else if (id == DISPID_HeaderEvent) {
            headerEvents.push_back(first);
            if (first == 0 && onHeader) onHeader();
            if (first == 1 && onFooter) onFooter();
        }
        return S_OK;
    }

    std::vector<std::pair<LONG, LONG>> notifications;
    std::vector<LONG> headerEvents;  // MsgFooter of each HeaderEvent
    std::function<void()> onHeader, onFooter;
};

class TextFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "pressel-text-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        // An empty registry: the ANSI code page is the default, 1252.
        setenv("PRESSEL_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
        g_abortCalls = 0;
        g_abortAnswer = 1;
        g_onAbort = nullptr;

        ASSERT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip_)), S_OK);
        p_ = static_cast<CPressel*>(ip_);
        IConnectionPointContainer* cpc = nullptr;
        ASSERT_EQ(ip_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
        ASSERT_EQ(cpc->FindConnectionPoint(DIID__IPresselEvents, &cp_), S_OK);
        cpc->Release();
        ASSERT_EQ(cp_->Advise(&sink_, &cookie_), S_OK);

        Profile(u"27,N", u"0x0D,0x0A", u"12,13,10");
        OpenPort();
        p_->m_bPrinting = 1;
        p_->m_pfnAbortProc = TestAbortProc;
        p_->m_lPrintableLines = 0;
    }

    void TearDown() override {
        p_->m_bPrinting = 0;
        ClosePort();
        cp_->Unadvise(cookie_);
        cp_->Release();
        EXPECT_EQ(ip_->Release(), 0u);
        g_onAbort = nullptr;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Fonts, emphasis and effects as ESC and one letter: upper case on,
    // lower case off.
    void Profile(const WCHAR* normal, const WCHAR* crlf, const WCHAR* formFeed) {
        ParseSeq(normal, &p_->m_seqNormalFont);
        ParseSeq(u"27,W", &p_->m_seqDoubleWideFont);
        ParseSeq(u"27,C", &p_->m_seqCompressFont);
        ParseSeq(u"27,B", &p_->m_seqBoldOn);
        ParseSeq(u"27,b", &p_->m_seqBoldOff);
        ParseSeq(u"27,I", &p_->m_seqItalicOn);
        ParseSeq(u"27,i", &p_->m_seqItalicOff);
        ParseSeq(u"27,U", &p_->m_seqUnderlineOn);
        ParseSeq(u"27,u", &p_->m_seqUnderlineOff);
        ParseSeq(u"27,S", &p_->m_seqStrikeOutOn);
        ParseSeq(u"27,s", &p_->m_seqStrikeOutOff);
        ParseSeq(crlf, &p_->m_seqCrLf);
        ParseSeq(formFeed, &p_->m_seqFormFeed);
    }

    void OpenPort() {
        path_ = (dir_ / "port.prn").string();
        std::u16string name(path_.begin(), path_.end());
        HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        p_->m_hPort = static_cast<LONG>(reinterpret_cast<intptr_t>(h));
        p_->m_bFilePort = 1;
    }

    void ClosePort() {
        if (p_->m_hPort != -1) CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(p_->m_hPort)));
        p_->m_hPort = -1;
    }

    // What the job start leaves: the normal font sent and placed at the
    // start of the empty line.
    void StartJob() {
        p_->m_lineBuf.m_lLineBufLen = -1;
        ip_->FontSelect(0, 0, 0);
        p_->FlushLine();
    }

    std::string Output() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    size_t OutputSize() const { return static_cast<size_t>(std::filesystem::file_size(path_)); }

    // The line buffer's content as bytes (the low byte of every unit).
    std::string LineUnits() const {
        std::string s;
        const CLineBuf& line = p_->m_lineBuf;
        for (LONG i = 0; i + 1 < line.m_lLineBufLen; i += 2) s += static_cast<char>(line.m_abLineBuf[i]);
        return s;
    }

    void Write(const char16_t* text) {
        BSTR b = SysAllocString(text);
        EXPECT_EQ(ip_->Write(b), S_OK);
        SysFreeString(b);
    }
    void Line(const char16_t* text) {
        Write(text);
        EXPECT_EQ(ip_->NewLine(), S_OK);
    }
    LONG LineNo() const { return p_->m_lLineNo; }
    LONG PageNo() const { return p_->m_lPageNo; }
    bool StillPrinting() const {
        VARIANT_BOOL b = VARIANT_FALSE;
        ip_->get_StillPrinting(&b);
        return b == VARIANT_TRUE;
    }
    LONG LastError() const {
        LONG l = -1;
        ip_->get_LastError(&l);
        return l;
    }

    std::filesystem::path dir_;
    std::string path_;
    IPressel* ip_ = nullptr;
    CPressel* p_ = nullptr;
    IConnectionPoint* cp_ = nullptr;
    DWORD cookie_ = 0;
    EventSink sink_;
};

}  // namespace text_test
