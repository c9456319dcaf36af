// The KTSB link driver, loaded for real by the stream-device manager and
// talking to a printer peer on a pseudo-terminal mapped as "COM7:".
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "frame.h"
#include "ktsb_peer.h"
#include "plugins/ktsbdrv/ktsbdrv.h"
#include "win/base.h"
#include "win/device.h"
#include "win/errors.h"
#include "win/serial.h"

namespace {

using ktsb_test::KtsbPeer;

class KtsbDriver : public ::testing::Test {
protected:
    static void SetUpTestSuite() { scratch_ = ktsb_test::UseScratchRegistry("ktsbdrv"); }
    static void TearDownTestSuite() { std::filesystem::remove_all(scratch_); }

    void SetUp() override {
        ASSERT_TRUE(line_.Open());
        ASSERT_TRUE(ktsb_test::MapComPort(u"COM7:", line_.slaveName));
        peer_ = std::make_unique<KtsbPeer>(line_.master);
        line_.master = -1;  // the peer owns it now
    }

    void TearDown() override {
        if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
        if (registration_) DeregisterDevice(registration_);
        peer_.reset();
    }

    // Registers the driver for `port` (a copy that is overwritten at once,
    // as the caller's string lives only during the call) and opens LPT9:.
    void Open(const char16_t* port = u"COM7:", DWORD replyTimeoutMs = 1000) {
        std::u16string context = port;
        registration_ = RegisterDevice(u"LPT", 9, u"" PRESSEL_KTSBDRV_PATH, reinterpret_cast<DWORD_PTR>(context.c_str()));
        ASSERT_NE(registration_, nullptr) << GetLastError();
        context.assign(context.size(), u'X');
        device_ = CreateFileW(u"LPT9:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(device_, INVALID_HANDLE_VALUE) << GetLastError();
        ReplyTimeout(replyTimeoutMs);
    }

    // Short only where silence is expected, so that a loaded machine does
    // not make a slow answer look lost.
    void ReplyTimeout(DWORD ms) {
        COMMTIMEOUTS timeouts = {0, 0, ms, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(device_, &timeouts));
    }

    BOOL Control(DWORD code) {
        DWORD done = 0;
        return DeviceIoControl(device_, code, nullptr, 0, nullptr, 0, &done, nullptr);
    }

    WORD Status() {
        DWORD status = 0xDEADBEEF, done = 0;
        EXPECT_TRUE(DeviceIoControl(device_, IOCTL_KTSB_GET_STATUS, nullptr, 0, &status, sizeof status, &done,
                                    nullptr));
        EXPECT_EQ(done, 4u);
        EXPECT_EQ(status >> 16, 0u);
        return static_cast<WORD>(status);
    }

    void Bind() {
        ASSERT_TRUE(Control(IOCTL_KTSB_BIND));
        ASSERT_EQ(Status(), 0);
    }

    // Writes and returns the status word that tells the outcome.
    WORD Write(const std::string& bytes) {
        DWORD written = 0;
        WriteFile(device_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        return Status();
    }

    static std::string Pattern(size_t size) {
        std::string text;
        for (size_t i = 0; i < size; ++i) text += static_cast<char>(i * 7 + 3);
        return text;
    }

    static inline std::string scratch_;
    ktsb_test::PtyLine line_;
    std::unique_ptr<KtsbPeer> peer_;
    HANDLE registration_ = nullptr;
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

TEST_F(KtsbDriver, BoundWritesArriveWholeAcrossFrames) {
    Open();
    Bind();
    std::string job = Pattern(600) + std::string(1, '\x02') + "\x03\x06\x15";  // frame bytes as data too
    EXPECT_EQ(Write(job), 0);
    EXPECT_EQ(Write(""), 0);
    EXPECT_EQ(peer_->Delivered(), job);
    EXPECT_EQ(peer_->Seen().data, 3);  // 255 + 255 + 94
    EXPECT_EQ(peer_->Seen().damaged, 0);
}

TEST_F(KtsbDriver, DataBeforeBindIsRefusedWithoutTouchingTheLine) {
    Open();
    DWORD written = 0xAAAA;
    EXPECT_FALSE(WriteFile(device_, "abc", 3, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(Status(), ktsb::kCodeNotBound);
    EXPECT_EQ(peer_->Log(), "");
}

// Each fault makes the caller repeat the write; the repeat delivers every
// byte exactly once, whether the printer lost the frame or only its answer.
TEST_F(KtsbDriver, RepeatedWritesDeliverEveryByteOnce) {
    const struct {
        const char* name;
        int nak, garble;
        int framesSent;
    } cases[] = {
        {"damaged frame (NAK)", 1, 0, 3},
        {"lost answer", 0, 1, 3},
        {"two NAKs", 2, 0, 4},
    };
    Open();
    Bind();
    std::string all;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int before = peer_->Seen().data;
        // The second frame fails, after the first was accepted.
        std::string job = Pattern(300) + c.name;
        peer_->Set({.faultAfter = 1, .nakDataFrames = c.nak, .garbleReplies = c.garble});
        int repeats = 0;
        WORD status;
        while ((status = Write(job)) == ktsb::kStatusRepeat) ++repeats;
        EXPECT_EQ(status, 0);
        EXPECT_EQ(repeats, c.nak + c.garble);
        all += job;
        EXPECT_EQ(peer_->Delivered(), all);
        EXPECT_EQ(peer_->Seen().data - before, c.framesSent);
    }
}

TEST_F(KtsbDriver, OtherDataAfterAFaultIsSentWhole) {
    Open();
    Bind();
    peer_->Set({.nakDataFrames = 1});
    EXPECT_EQ(Write("first"), ktsb::kStatusRepeat);
    EXPECT_EQ(Write("second"), 0);
    EXPECT_EQ(peer_->Delivered(), "second");
}

TEST_F(KtsbDriver, RefusalsAndSilenceBecomeStatusCodes) {
    Open();
    Bind();
    peer_->Set({.refuseCode = 221});
    EXPECT_EQ(Write("x"), ktsb::kStatusRepeat | 221);
    peer_->Set({.ackCode = 223});
    EXPECT_EQ(Write("y"), 223);  // accepted, with a condition
    EXPECT_EQ(peer_->Delivered(), "y");

    peer_->Set({.silent = true});
    ReplyTimeout(50);
    int repeats = 0;
    WORD status;
    while ((status = Write("z")) == ktsb::kStatusRepeat) ++repeats;
    EXPECT_EQ(status, ktsb::kCodeLinkLost);
    EXPECT_EQ(repeats, ktsb::kMaxLineFaults - 1);
}

TEST_F(KtsbDriver, BindRefusedOrUnansweredIsNotFatal) {
    Open();
    peer_->Set({.acceptBind = false});
    EXPECT_TRUE(Control(IOCTL_KTSB_BIND));
    EXPECT_EQ(Status(), ktsb::kCodeNoHandshake);
    peer_->Set({.acceptBind = false, .bindRefusalCode = 120});
    EXPECT_TRUE(Control(IOCTL_KTSB_BIND));
    EXPECT_EQ(Status(), 120);
    peer_->Set({.silent = true});
    ReplyTimeout(50);
    EXPECT_TRUE(Control(IOCTL_KTSB_BIND));
    EXPECT_EQ(Status(), ktsb::kCodeNoHandshake);
    ReplyTimeout(1000);
    peer_->Set({});
    Bind();
}

TEST_F(KtsbDriver, QueryReportsBusyBitsAndFlagsUntilIdle) {
    Open();
    Bind();
    peer_->Set({.flags = 0x40, .busyQueries = 2});
    const BYTE selector = ktsb::kQuerySelector;
    BYTE expectBusy[] = {1, 1, 0};
    for (BYTE busy : expectBusy) {
        BYTE out[8];
        std::fill(std::begin(out), std::end(out), 0xAA);
        DWORD done = 0;
        ASSERT_TRUE(DeviceIoControl(device_, IOCTL_KTSB_QUERY, const_cast<BYTE*>(&selector), 1, out, 6, &done, nullptr));
        EXPECT_EQ(done, 6u);
        EXPECT_EQ(out[ktsb::kQueryEcho], 3);
        EXPECT_EQ(out[ktsb::kQueryBusy], busy);
        EXPECT_EQ(out[ktsb::kQueryFlags], 0x40);
        EXPECT_EQ(out[6], 0xAA);  // nothing past the six bytes
    }
}

TEST_F(KtsbDriver, ControlsCheckTheirBuffers) {
    Open();
    BYTE out[6];
    DWORD done = 0;
    const BYTE wrong = 4, right = 3;
    const struct {
        DWORD code;
        const BYTE* in;
        DWORD inSize;
        DWORD outSize;
        DWORD error;
    } cases[] = {
        {IOCTL_KTSB_QUERY, &wrong, 1, 6, ERROR_INVALID_PARAMETER},
        {IOCTL_KTSB_QUERY, nullptr, 0, 6, ERROR_INVALID_PARAMETER},
        {IOCTL_KTSB_QUERY, &right, 1, 5, ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_KTSB_GET_STATUS, nullptr, 0, 3, ERROR_INSUFFICIENT_BUFFER},
        {0x1B1008, nullptr, 0, 6, ERROR_INVALID_FUNCTION},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(DeviceIoControl(device_, c.code, const_cast<BYTE*>(c.in), c.inSize, out, c.outSize, &done,
                                     nullptr));
        EXPECT_EQ(GetLastError(), c.error) << std::hex << c.code;
    }
    EXPECT_EQ(peer_->Log(), "");
}

TEST_F(KtsbDriver, SilentPrinterFailsTheQueryAndReportsTheLostLink) {
    Open();
    Bind();
    peer_->Set({.silent = true});
    ReplyTimeout(30);
    const BYTE selector = 3;
    BYTE out[6];
    std::fill(std::begin(out), std::end(out), 0xAA);
    DWORD done = 0;
    EXPECT_FALSE(DeviceIoControl(device_, IOCTL_KTSB_QUERY, const_cast<BYTE*>(&selector), 1, out, 6, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    for (BYTE b : out) EXPECT_EQ(b, 0);
    EXPECT_EQ(Status(), ktsb::kCodeLinkLost);
}

TEST_F(KtsbDriver, CancelClearsARefusedWriteAndIsAcceptedBeforeBind) {
    Open();
    EXPECT_TRUE(Control(IOCTL_KTSB_CANCEL));
    Bind();
    peer_->Set({.nakDataFrames = 1});
    EXPECT_EQ(Write("lost"), ktsb::kStatusRepeat);
    EXPECT_TRUE(Control(IOCTL_KTSB_CANCEL));
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(Write("lost"), 0);  // after a cancel, the same bytes are a new write
    EXPECT_EQ(peer_->Delivered(), "lost");
    EXPECT_EQ(peer_->Seen().cancel, 2);
}

TEST_F(KtsbDriver, CancelFromAnotherThreadStopsAWriteInProgress) {
    Open();
    Bind();
    const std::string job = Pattern(800 * ktsb::kMaxPayload);
    std::thread writer([&] {
        DWORD written = 0;
        WriteFile(device_, job.data(), static_cast<DWORD>(job.size()), &written, nullptr);
    });
    while (peer_->Seen().data < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(Control(IOCTL_KTSB_CANCEL));
    writer.join();
    std::string delivered = peer_->Delivered();
    EXPECT_LT(delivered.size(), job.size());
    EXPECT_EQ(job.compare(0, delivered.size(), delivered), 0);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(peer_->Log().back(), 'C');
}

// The export library's controls reach the driver on a handle its caller opened.
TEST_F(KtsbDriver, ExportLibraryBindsAndCancelsThroughTheDriver) {
    void* ondrel = dlopen(PRESSEL_LIB_DIR "/libondrel.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(ondrel, nullptr) << dlerror();
    using Control = int (*)(HANDLE);
    auto bind = reinterpret_cast<Control>(dlsym(ondrel, "KtsbDevIOCBind"));
    auto cancel = reinterpret_cast<Control>(dlsym(ondrel, "KtsbCancel"));
    ASSERT_TRUE(bind && cancel);
    Open();
    EXPECT_EQ(bind(device_), 1);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(cancel(device_), 1);
    EXPECT_EQ(peer_->Log(), "BC");
    EXPECT_EQ(Write("via exports"), 0);
    EXPECT_EQ(peer_->Delivered(), "via exports");
    dlclose(ondrel);
}

TEST_F(KtsbDriver, RegistrationNeedsASerialPortNameAndOpeningNeedsThePort) {
    const char16_t* refused[] = {u"", u"LPT1:", u"COM1234567890123456:"};
    for (const char16_t* name : refused) {
        EXPECT_EQ(RegisterDevice(u"LPT", 9, u"" PRESSEL_KTSBDRV_PATH, reinterpret_cast<DWORD_PTR>(name)), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(RegisterDevice(u"LPT", 9, u"" PRESSEL_KTSBDRV_PATH, 0), nullptr);

    ASSERT_TRUE(ktsb_test::MapComPort(u"COM8:", "/nonexistent/tty"));
    registration_ = RegisterDevice(u"LPT", 9, u"" PRESSEL_KTSBDRV_PATH, reinterpret_cast<DWORD_PTR>(u"COM8:"));
    ASSERT_NE(registration_, nullptr);
    EXPECT_EQ(CreateFileW(u"LPT9:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_NE(GetLastError(), 0u);
}

}  // namespace
