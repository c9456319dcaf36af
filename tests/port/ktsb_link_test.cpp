// The KTSB link end to end: the control opens "KTSB,COM7:" through
// OpenPort, which registers the real driver (found by its bare name, the
// executable's directory holding none) over a pseudo-terminal where a
// printer peer answers; writes, repeats, conditions, close, and the error
// boxes of failed opens captured through the message-box hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ktsb_peer.h"
#include "port/Ktsb.h"
#include "port_fixture.h"
#include "pressel/hooks.h"
#include "pressel/trace.h"
#include "win/device.h"
#include "win/user.h"

namespace {

using ktsb_test::KtsbPeer;
using Notes = std::vector<std::pair<LONG, LONG>>;

struct Box {
    HWND owner;
    std::u16string text, caption;
    UINT type;
};

std::u16string SystemText(DWORD code) {
    WCHAR* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                   reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string result = text ? text : u"";
    if (text) LocalFree(text);
    return result;
}

std::u16string Format(const char* pattern, const std::u16string& a, long n) {
    char buffer[300];
    snprintf(buffer, sizeof buffer, pattern, std::string(a.begin(), a.end()).c_str(), n);
    return port_test::Wide(buffer);
}

class KtsbLink : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = ktsb_test::UseScratchRegistry("ktsb-link");
        ASSERT_FALSE(scratch_.empty());
        ASSERT_TRUE(line_.Open());
        for (const char16_t* name : {u"COM1:", u"COM7:", u"COM10:"})
            ASSERT_TRUE(ktsb_test::MapComPort(name, line_.slaveName));
        ASSERT_TRUE(ktsb_test::MapComPort(u"COM8:", "/nonexistent/tty"));
        peer_ = std::make_unique<KtsbPeer>(line_.master);
        line_.master = -1;
        g_pCurrentInstance = control_.pressel;
        pressel_hooks::SetMessageBoxHook([this](HWND owner, std::u16string text, std::u16string caption, UINT type) {
            boxes_.push_back({owner, std::move(text), std::move(caption), type});
            return IDOK;
        });
    }

    void TearDown() override {
        pressel_hooks::SetMessageBoxHook({});
        pressel_trace::Enable(false);
        if (control_->m_hPort != -1) {
            control_->ClosePort(control_->m_hPort);
            control_->m_hPort = -1;
        }
        g_pCurrentInstance = nullptr;
        ExpectNoLink();
        peer_.reset();
        std::error_code ec;
        std::filesystem::remove_all(scratch_, ec);
    }

    LONG Open(const char16_t* description) {
        control_->m_hPort = control_->OpenPort(description, u"");
        return control_->m_hPort;
    }

    // Nothing of the link is left: state reset and "LPT9:" free again.
    void ExpectNoLink() {
        EXPECT_EQ(port::g_bKtsbMode, 0);
        EXPECT_EQ(port::g_hKtsbPort, INVALID_HANDLE_VALUE);
        EXPECT_EQ(port::g_hKtsbRegistration, nullptr);
        EXPECT_EQ(CreateFileW(u"LPT9:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
                  INVALID_HANDLE_VALUE);
    }

    BOOL Write(const std::string& bytes) {
        return control_->WritePort(control_->m_hPort, bytes.data(), static_cast<DWORD>(bytes.size()));
    }

    Notes& notes() { return control_.sink.notes; }

    std::string scratch_;
    ktsb_test::PtyLine line_;
    std::unique_ptr<KtsbPeer> peer_;
    port_test::Control control_;
    std::vector<Box> boxes_;
};

std::vector<std::string> Only(const std::vector<std::string>& trace, const std::string& prefix) {
    std::vector<std::string> kept;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(kept),
                 [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
    return kept;
}

TEST_F(KtsbLink, OpenRegistersBindsCancelsAndWaitsThenWritesArrive) {
    pressel_trace::Enable(true);
    LONG h = Open(u"KTSB,COM7:");
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    ASSERT_NE(h, -1);
    EXPECT_EQ(port::FromHandle(port::g_hKtsbPort), h);
    EXPECT_EQ(port::g_bKtsbMode, 1);
    EXPECT_NE(port::g_hKtsbRegistration, nullptr);
    EXPECT_EQ(control_->m_bFilePort, 0);
    // The executable's directory first, then the bare name the loader finds.
    WCHAR exe[260] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, 260), 0u);
    std::u16string dir(exe);
    dir.resize(dir.rfind(u'/') + 1);
    EXPECT_EQ(Only(trace, "RegisterDevice"),
              (std::vector<std::string>{"RegisterDevice(LPT,9," + std::string(dir.begin(), dir.end()) + "ktsbdrv.dll)",
                                        "RegisterDevice(LPT,9,ktsbdrv.dll)"}));
    EXPECT_EQ(Only(trace, "SetCommTimeouts").front(), "SetCommTimeouts(0,0,0,0,0)");
    EXPECT_EQ(peer_->Log(), "BCQ");
    EXPECT_TRUE(boxes_.empty());

    std::string job = "Line one\r\n";
    for (int i = 0; i < 40; ++i) job += "0123456789";
    EXPECT_TRUE(Write(job));
    EXPECT_TRUE(Write(""));
    EXPECT_TRUE(Write("\x0C"));
    EXPECT_EQ(peer_->Delivered(), job + "\x0C");
    EXPECT_TRUE(notes().empty());

    EXPECT_EQ(control_->ClosePort(h), 1);
    control_->m_hPort = -1;
    ExpectNoLink();
}

TEST_F(KtsbLink, PortNameIsTheSecondTokenCutToFiveCharacters) {
    const struct {
        const char16_t* description;
        const char* device;
    } cases[] = {
        {u"KTSB", "CreateFileW(COM1:,"},
        {u"ktsb,,COM7:", "CreateFileW(COM7:,"},
        {u"KTSB,COM10:,Y", "CreateFileW(COM10,"},
    };
    for (const auto& c : cases) {
        pressel_trace::Enable(true);
        LONG h = Open(c.description);
        auto trace = pressel_trace::Take();
        pressel_trace::Enable(false);
        ASSERT_NE(h, -1);
        auto opens = Only(trace, "CreateFileW(COM");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].rfind(c.device, 0), 0u) << opens[0];
        EXPECT_EQ(control_->ClosePort(h), 1);
        control_->m_hPort = -1;
    }
}

TEST_F(KtsbLink, RepeatRequestSendsTheWriteAgainAndReportsCodeZero) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    peer_->Set({.nakDataFrames = 1});
    EXPECT_TRUE(Write("repeat me"));
    EXPECT_EQ(peer_->Seen().data, 2);
    EXPECT_EQ(peer_->Delivered(), "repeat me");
    EXPECT_EQ(notes(), (Notes{{1080, 0}}));
}

TEST_F(KtsbLink, ApplicationEndsEndlessRepeatsFromItsHandler) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    peer_->Set({.refuseCode = 223});  // not fatal: the printer refuses until it is seen to
    control_.sink.onNotify = [&](std::pair<LONG, LONG>) {
        if (notes().size() == 3) control_->m_bPrinting = 0;
    };
    EXPECT_FALSE(Write("never"));
    EXPECT_EQ(notes(), (Notes{{1080, 223}, {1080, 223}, {1080, 223}}));
    EXPECT_EQ(peer_->Delivered(), "");
    EXPECT_EQ(control_->ClosePort(control_->m_hPort), 0);  // cancelled: no wait
    control_->m_hPort = -1;
}

TEST_F(KtsbLink, FatalCodeStopsTheWriteWithOneNotification) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    peer_->Set({.refuseCode = 221});
    EXPECT_FALSE(Write("stop"));
    EXPECT_EQ(notes(), (Notes{{1080, 221}}));
    EXPECT_EQ(peer_->Seen().data, 1);
}

TEST_F(KtsbLink, SilentPrinterEndsTheJobWithTheLostLinkCode) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    peer_->Set({.silent = true});
    EXPECT_FALSE(Write("into the void"));
    Notes expected(ktsb::kMaxLineFaults - 1, {1080, 0});
    expected.push_back({1080, ktsb::kCodeLinkLost});
    EXPECT_EQ(notes(), expected);
}

TEST_F(KtsbLink, CloseWaitsUntilTheBusyBitsFall) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    EXPECT_TRUE(Write("data"));
    int queries = peer_->Seen().query;
    peer_->Set({.busyQueries = 3});
    EXPECT_EQ(control_->ClosePort(control_->m_hPort), 1);
    control_->m_hPort = -1;
    EXPECT_EQ(peer_->Seen().query - queries, 4);
    EXPECT_TRUE(notes().empty());
}

TEST_F(KtsbLink, ConditionFlagsAtCloseAreClassified) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    peer_->Set({.flags = 0x04, .busyQueries = 1});  // 224, not fatal
    EXPECT_EQ(control_->ClosePort(control_->m_hPort), 1);
    EXPECT_EQ(notes(), (Notes{{1080, 224}, {1080, 224}}));

    notes().clear();
    peer_->Set({});
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    peer_->Set({.flags = 0x41});  // 222 decides, fatal
    EXPECT_EQ(control_->ClosePort(control_->m_hPort), 0);
    control_->m_hPort = -1;
    EXPECT_EQ(notes(), (Notes{{1080, 222}}));
}

TEST_F(KtsbLink, EndlessBindIsCancelledFromTheHandler) {
    peer_->Set({.acceptBind = false});
    control_.sink.onNotify = [&](std::pair<LONG, LONG>) {
        if (notes().size() == 3) control_->m_bPrinting = 0;
    };
    EXPECT_EQ(Open(u"KTSB,COM7:"), -1);
    EXPECT_EQ(notes(), (Notes(3, {1080, ktsb::kCodeNoHandshake})));
    EXPECT_EQ(peer_->Seen().bind, 3);
    EXPECT_TRUE(boxes_.empty());
    ExpectNoLink();
}

TEST_F(KtsbLink, FatalBindRefusalFailsTheOpenSilently) {
    peer_->Set({.acceptBind = false, .bindRefusalCode = 120});
    EXPECT_EQ(Open(u"KTSB,COM7:"), -1);
    EXPECT_EQ(notes(), (Notes{{1080, 120}}));
    EXPECT_TRUE(boxes_.empty());
    ExpectNoLink();
}

TEST_F(KtsbLink, RegistrationFailureShowsTwoBoxesAndNamesTheBareLibrary) {
    // The driver refuses a port that is not serial; a taken device name
    // fails the registration in the device manager.
    HANDLE other = nullptr;
    const struct {
        const char16_t* description;
        bool takeName;
        DWORD error;
    } cases[] = {
        {u"KTSB,LPT1:", false, ERROR_INVALID_PARAMETER},
        {u"KTSB,COM7:", true, ERROR_DEVICE_IN_USE},
    };
    for (const auto& c : cases) {
        boxes_.clear();
        if (c.takeName) {
            other = RegisterDevice(u"LPT", 9, u"ktsbdrv.dll", reinterpret_cast<DWORD_PTR>(u"COM7:"));
            ASSERT_NE(other, nullptr);
        }
        EXPECT_EQ(Open(c.description), -1);
        ASSERT_EQ(boxes_.size(), 2u);
        EXPECT_EQ(boxes_[0].text, SystemText(c.error));
        EXPECT_FALSE(boxes_[0].text.empty());
        EXPECT_EQ(boxes_[0].caption, u"Error");
        EXPECT_EQ(boxes_[1].text, Format("[%s] RegisterDevice Error = %ld", u"ktsbdrv.dll", static_cast<long>(c.error)));
        EXPECT_EQ(boxes_[1].caption, u"RegisterDevice Error");
        for (const Box& box : boxes_) {
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONINFORMATION));
        }
        if (other) {
            EXPECT_TRUE(DeregisterDevice(other));
            other = nullptr;
        }
        ExpectNoLink();
    }
    EXPECT_EQ(peer_->Log(), "");
}

TEST_F(KtsbLink, OpenFailureOfTheDeviceShowsTwoBoxesAndDeregisters) {
    EXPECT_EQ(Open(u"KTSB,COM8:"), -1);
    ASSERT_EQ(boxes_.size(), 2u);
    const std::u16string prefix = u"[LPT9:] CreateFile Error = ";
    ASSERT_EQ(boxes_[1].text.rfind(prefix, 0), 0u);
    DWORD error = static_cast<DWORD>(std::stoul(std::string(boxes_[1].text.begin() + prefix.size(), boxes_[1].text.end())));
    EXPECT_NE(error, 0u);
    EXPECT_EQ(boxes_[0].text, SystemText(error));
    EXPECT_EQ(boxes_[0].caption, u"CreateFile Error");
    EXPECT_EQ(boxes_[1].caption, u"Error");
    ExpectNoLink();
}

TEST_F(KtsbLink, FailedOpenLeavesAnotherControlsLinkAlone) {
    ASSERT_NE(Open(u"KTSB,COM7:"), -1);
    HANDLE registration = port::g_hKtsbRegistration;
    HANDLE device = port::g_hKtsbPort;
    {
        port_test::Control second;
        EXPECT_EQ(second->OpenPort(u"KTSB,COM7:", u""), -1);
        EXPECT_EQ(boxes_.size(), 2u);  // the name is taken
        second->m_bPrinting = 0;
    }
    EXPECT_EQ(port::g_hKtsbRegistration, registration);
    EXPECT_EQ(port::g_hKtsbPort, device);
    EXPECT_EQ(port::g_bKtsbMode, 1);
    EXPECT_TRUE(Write("still here"));
    EXPECT_EQ(peer_->Delivered(), "still here");
}

}  // namespace
