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

#include "event_sink.h"
#include "test_support.h"

namespace text_test {

// Test strings write ESC as '^' so that golden streams stay readable.
using test_support::Esc;

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
class EventSink final : public test_support::EventSinkBase {
public:
    std::vector<std::pair<LONG, LONG>> notifications;
    std::vector<LONG> headerEvents;  // MsgFooter of each HeaderEvent
    std::function<void()> onHeader, onFooter;

protected:
    void OnEvent(DISPID id, DISPPARAMS* dp) override {
        LONG first = dp->rgvarg[1].lVal, second = dp->rgvarg[0].lVal;
        if (id == DISPID_NotifyMessage) {
            notifications.emplace_back(first, second);
        } else if (id == DISPID_HeaderEvent) {
            headerEvents.push_back(first);
            if (first == 0 && onHeader) onHeader();
            if (first == 1 && onFooter) onFooter();
        }
    }
};

class TextFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // An empty registry: the ANSI code page is the default, 1252.
        dir_ = test_support::MakeScratchDir("pressel-text");
        ASSERT_FALSE(dir_.empty());
        g_abortCalls = 0;
        g_abortAnswer = 1;
        g_onAbort = nullptr;

        ASSERT_EQ(CPressel::CreateInstance(IID_IPressel, reinterpret_cast<void**>(&ip_)), S_OK);
        p_ = static_cast<CPressel*>(ip_);
        ASSERT_EQ(test_support::ConnectSink(ip_, &sink_, &cp_, &cookie_), S_OK);

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
        test_support::RemoveScratchDir(dir_);
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
        HANDLE h = CreateFileW(test_support::Wide(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        p_->m_hPort = static_cast<LONG>(reinterpret_cast<intptr_t>(h));
        p_->m_bFilePort = 1;
    }

    void ClosePort() {
        if (p_->m_hPort != -1) CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(p_->m_hPort)));
        p_->m_hPort = -1;
    }

    // An empty output file for the next case of a table.
    void ReopenPort() {
        ClosePort();
        OpenPort();
    }

    // What the job start leaves: the normal font sent and placed at the
    // start of the empty line.
    void StartJob() {
        p_->m_lineBuf.m_lLineBufLen = -1;
        ip_->FontSelect(0, 0, 0);
        p_->FlushLine();
    }

    std::string Output() const { return test_support::ReadBytes(path_); }
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
