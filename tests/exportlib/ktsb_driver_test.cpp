// KtsbDevIOCBind and KtsbCancel through the real KTSB link driver, with a
// printer peer on a pseudo-terminal mapped as "COM7:".
#include <filesystem>
#include <memory>
#include <string>

#include "ktsb_peer.h"
#include "ondrel_fixture.h"

namespace {

TEST_F(OndrelTest, KtsbControlsReachTheLinkDriver) {
    std::string scratch = ktsb_test::UseScratchRegistry("ondrel");
    ktsb_test::PtyLine line;
    ASSERT_TRUE(line.Open());
    ASSERT_TRUE(ktsb_test::MapComPort(u"COM7:", line.slaveName));
    auto peer = std::make_unique<ktsb_test::KtsbPeer>(line.master);
    line.master = -1;  // the peer owns it

    std::u16string port = u"COM7:";
    HANDLE registration = fn.RegisterDevice_Interop(u"LPT", 9, u"" PRESSEL_KTSBDRV_PATH,
                                                    reinterpret_cast<DWORD_PTR>(port.c_str()));
    ASSERT_NE(registration, nullptr) << GetLastError();
    HANDLE h = fn.CreateFile_Interop(u"LPT9:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    COMMTIMEOUTS timeouts = {0, 0, 200, 0, 0};
    EXPECT_TRUE(fn.SetCommTimeouts_Interop(h, &timeouts));

    EXPECT_EQ(fn.KtsbDevIOCBind(h), 1);
    EXPECT_EQ(fn.KtsbCancel(h), 1);
    auto seen = peer->Seen();
    EXPECT_EQ(seen.bind, 1);
    EXPECT_EQ(seen.cancel, 1);

    EXPECT_TRUE(fn.CloseHandle_Interop(h));
    EXPECT_TRUE(fn.DeregisterDevice_Interop(registration));
    peer.reset();
    std::filesystem::remove_all(scratch);
}

}  // namespace
