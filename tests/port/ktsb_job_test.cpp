// Whole jobs over the KTSB link: a profile whose port is "KTSB,COM7:", run
// through StartLP ... Finish against the printer peer on a pseudo-terminal.
#include <gtest/gtest.h>

#include <memory>

#include "../control/job_fixture.h"
#include "ktsb_peer.h"
#include "port/Ktsb.h"
#include "port/PortState.h"
#include "pressel/hooks.h"
#include "win/user.h"

namespace {

using job_test::Pair;
using Pairs = std::vector<Pair>;

// StartLP's result: started, or the port could not be opened.
constexpr LONG kStarted = 0;
constexpr LONG kPortNotOpened = 7;

class KtsbJob : public job_test::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        ASSERT_TRUE(line_.Open());
        ASSERT_TRUE(ktsb_test::MapComPort(u"COM7:", line_.slaveName));
        peer_ = std::make_unique<ktsb_test::KtsbPeer>(line_.master);
        line_.master = -1;
        WriteIni("", "E=KTSB,COM7:\n");
        pressel_hooks::SetMessageBoxHook([this](HWND, std::u16string, std::u16string, UINT) {
            ++boxes_;
            return IDOK;
        });
    }

    void TearDown() override {
        pressel_hooks::SetMessageBoxHook({});
        JobFixture::TearDown();  // releases the controls, which ends their jobs
        EXPECT_EQ(port::g_bKtsbMode, 0);
        EXPECT_EQ(port::g_hKtsbPort, INVALID_HANDLE_VALUE);
        EXPECT_EQ(port::g_hKtsbRegistration, nullptr);
        peer_.reset();
    }

    void PrintSample(IPressel* ip) {
        Line(ip, u"First line");
        Line(ip, u"Second line, a little longer than the first");
    }

    ktsb_test::PtyLine line_;
    std::unique_ptr<ktsb_test::KtsbPeer> peer_;
    int boxes_ = 0;
};

TEST_F(KtsbJob, PrintsWhatAFileWouldGetAndEndsNormally) {
    // The same job into a file gives the expected bytes.
    ASSERT_EQ(Start(ip_, ini_, out_), kStarted);
    PrintSample(ip_);
    ip_->Finish();
    const std::string expected = Read(out_);
    ASSERT_FALSE(expected.empty());
    sink_.notifications.clear();

    ASSERT_EQ(Start(ip_, ini_, ""), kStarted);
    EXPECT_TRUE(StillPrinting(ip_));
    PrintSample(ip_);
    EXPECT_EQ(ip_->Finish(), S_OK);
    EXPECT_EQ(peer_->Delivered(), expected);
    EXPECT_EQ(sink_.notifications, (Pairs{{2, 0}}));
    EXPECT_EQ(peer_->Log().substr(0, 3), "BCQ");
    EXPECT_EQ(boxes_, 0);
}

TEST_F(KtsbJob, FatalConditionStopsTheJob) {
    ASSERT_EQ(Start(ip_, ini_, ""), kStarted);
    peer_->Set({.refuseCode = 229});
    Line(ip_, u"lost");
    EXPECT_FALSE(StillPrinting(ip_));
    EXPECT_EQ(sink_.notifications, (Pairs{{1080, 229}, {1, 2}}));
    EXPECT_EQ(ip_->Finish(), S_OK);
    EXPECT_EQ(sink_.notifications.size(), 2u);  // no job end for a stopped job
}

TEST_F(KtsbJob, RepeatedWriteKeepsTheJobGoing) {
    ASSERT_EQ(Start(ip_, ini_, ""), kStarted);
    peer_->Set({.nakDataFrames = 1});
    Line(ip_, u"again");
    EXPECT_TRUE(StillPrinting(ip_));
    ip_->Finish();
    EXPECT_NE(peer_->Delivered().find("again"), std::string::npos);
    EXPECT_EQ(sink_.notifications, (Pairs{{1080, 0}, {2, 0}}));
}

TEST_F(KtsbJob, CancelFromTheHandlerEndsAnEndlessBind) {
    peer_->Set({.acceptBind = false});
    sink_.onNotify = [this](LONG type, LONG) {
        if (type == 1080 && sink_.notifications.size() == 2) ip_->Cancel();
    };
    EXPECT_EQ(Start(ip_, ini_, ""), kPortNotOpened);
    EXPECT_FALSE(StillPrinting(ip_));
    EXPECT_EQ(peer_->Seen().bind, 2);
    EXPECT_EQ(sink_.notifications, (Pairs{{1080, ktsb::kCodeNoHandshake}, {1080, ktsb::kCodeNoHandshake}, {1, 10}, {1, 7}}));
    EXPECT_EQ(peer_->Delivered(), "");
    EXPECT_EQ(boxes_, 0);
}

TEST_F(KtsbJob, CancelledJobClosesWithoutWaiting) {
    ASSERT_EQ(Start(ip_, ini_, ""), kStarted);
    Line(ip_, u"some text");
    int queries = peer_->Seen().query;
    peer_->Set({.busyQueries = 1000});
    ip_->Cancel();
    ip_->Finish();
    EXPECT_EQ(peer_->Seen().query, queries);
    EXPECT_EQ(sink_.notifications, (Pairs{{1, 10}}));
}

TEST_F(KtsbJob, MissingPortShowsTheBoxesAndFailsTheStart) {
    ASSERT_TRUE(ktsb_test::MapComPort(u"COM8:", "/nonexistent/tty"));
    WriteIni("", "E=KTSB,COM8:\n");
    EXPECT_EQ(Start(ip_, ini_, ""), kPortNotOpened);
    EXPECT_EQ(boxes_, 2);
    EXPECT_EQ(sink_.notifications, (Pairs{{1, 7}}));
    EXPECT_EQ(PrinterDC(ip_), -1);
}

}  // namespace
