// IROpen, IRWrite and IRClose against emulated devices (threads listening
// in a scratch emulation directory).
#include <algorithm>
#include <chrono>
#include <thread>

#include "irda_device.h"
#include "ondrel_fixture.h"
#include "pressel/trace.h"
#include "win/winsock.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
const irda_test::Id kPrinterId = {0x0C, 0x0A, 0xFE, 0x01};

class OndrelIrdaTest : public OndrelTest {
protected:
    void TearDown() override {
        if (lib_.loaded()) fn.IRClose();
    }
    irda_test::Neighbourhood air_;
};

TEST_F(OndrelIrdaTest, NoDeviceAfterTenDiscoveries) {
    irda_test::ListingCounter listings(air_.dir());
    auto start = Clock::now();
    EXPECT_EQ(fn.IROpen(), -1);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1000ms);
    EXPECT_LT(elapsed, 3000ms);
    EXPECT_EQ(listings.WaitForListings(10, 100ms), 10);
    EXPECT_EQ(fn.IRClose(), 1);
    EXPECT_EQ(fn.IRWrite(reinterpret_cast<const BYTE*>("x"), 1), -1);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(OndrelIrdaTest, DeviceAppearingAtTheTenthDiscoveryIsConnected) {
    irda_test::ListingCounter listings(air_.dir());
    std::unique_ptr<irda_test::Device> printer;
    std::thread arrival([&] {
        // Right after the ninth listing, in the pause before the tenth.
        if (listings.WaitForListings(9, 5s) == 9)
            printer = std::make_unique<irda_test::Device>(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    });
    pressel_trace::Enable(true);
    int result = fn.IROpen();
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    arrival.join();
    ASSERT_TRUE(printer);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "getsockopt(0xFF, 0x10)"), 10);
    EXPECT_TRUE(printer->WaitForAccepted(1, 2s));
    EXPECT_EQ(fn.IRWrite(reinterpret_cast<const BYTE*>("\x1b@Hi"), 4), 4);
    EXPECT_TRUE(printer->WaitForBytes(4, 2s));
    EXPECT_EQ(printer->Received(), "\x1b@Hi");
}

TEST_F(OndrelIrdaTest, ReconnectClosesTheOldConnectionFirst) {
    irda_test::Device printer(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    ASSERT_EQ(fn.IROpen(), 1);
    pressel_trace::Enable(true);
    ASSERT_EQ(fn.IROpen(), 1);
    auto trace = pressel_trace::Take();
    pressel_trace::Enable(false);
    auto closed = std::find(trace.begin(), trace.end(), "closesocket");
    auto opened = std::find(trace.begin(), trace.end(), "socket(22, 1, 0)");
    ASSERT_NE(closed, trace.end());
    EXPECT_LT(closed, opened);
    EXPECT_TRUE(printer.WaitForClosed(1, 2s));
    EXPECT_TRUE(printer.WaitForAccepted(2, 2s));
    EXPECT_EQ(fn.IRClose(), 1);
    EXPECT_EQ(fn.IRClose(), 1);
    EXPECT_TRUE(printer.WaitForClosed(2, 2s));
}

TEST_F(OndrelIrdaTest, WritesReturnWhatTheStackTook) {
    irda_test::Device printer(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    ASSERT_EQ(fn.IROpen(), 1);
    std::string big(3000, 'g');
    int taken = fn.IRWrite(reinterpret_cast<const BYTE*>(big.data()), static_cast<int>(big.size()));
    ASSERT_GT(taken, 0);
    EXPECT_LT(taken, 3000);  // one IrLMP data unit in IrLPT mode; nothing resent
    EXPECT_TRUE(printer.WaitForBytes(static_cast<size_t>(taken), 2s));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(printer.Received().size(), static_cast<size_t>(taken));
    EXPECT_EQ(fn.IRWrite(reinterpret_cast<const BYTE*>(big.data()), 0), 0);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(OndrelIrdaTest, ConnectFailureGivesZero) {
    // A device in range without the printing service.
    irda_test::Device other(air_.dir(), kPrinterId, "Printer", "IrDA:IrCOMM");
    EXPECT_EQ(fn.IROpen(), 0);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    EXPECT_EQ(fn.IRWrite(reinterpret_cast<const BYTE*>("x"), 1), -1);
}

TEST_F(OndrelIrdaTest, ThreadEndLeavesTheConnectionOpen) {
    irda_test::Device printer(air_.dir(), kPrinterId, "Printer", "LSAP-SEL002");
    ASSERT_EQ(fn.IROpen(), 1);
    std::thread([] {}).join();
    std::thread([this] { EXPECT_EQ(fn.IRWrite(reinterpret_cast<const BYTE*>("ab"), 2), 2); }).join();
    EXPECT_EQ(fn.IRWrite(reinterpret_cast<const BYTE*>("cd"), 2), 2);
    EXPECT_TRUE(printer.WaitForBytes(4, 2s));
    EXPECT_FALSE(printer.WaitForClosed(1, 100ms));

    // Unloading the library ends the connection.
    ASSERT_TRUE(lib_.Unload());
    EXPECT_TRUE(printer.WaitForClosed(1, 2s));
}

}  // namespace
