// PrinterOpen("IRDA") of the real port library against an emulated IrDA
// printer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "irda_device.h"
#include "farsend_fixture.h"

namespace {

using namespace std::chrono_literals;

// The emulated neighbourhood exists before the library is loaded.
class FarsendIrda : public FarsendLibrary {
protected:
    irda_test::Neighbourhood air_;
};

TEST_F(FarsendIrda, PrintsToTheFirstDeviceInRange) {
    irda_test::Device printer(air_.dir(), {0x10, 0x20, 0x30, 0x40}, "Printer", "LSAP-SEL002");
    LONG handle = open_(u"IRDA");
    ASSERT_GT(handle, 0);
    std::string job(5000, 'j');
    job += "\x0c";
    EXPECT_TRUE(send_(handle, reinterpret_cast<const BYTE*>(job.data()), static_cast<DWORD>(job.size())));
    close_(handle);
    EXPECT_TRUE(printer.WaitForClosed(1, 2s));
    EXPECT_EQ(printer.Received(), job);
}

TEST_F(FarsendIrda, NoPrintingServiceInRange) {
    irda_test::Device phone(air_.dir(), {1, 2, 3, 4}, "Phone", "IrDA:IrCOMM");  // no printing service
    EXPECT_EQ(open_(u"IRDA"), -1);
    EXPECT_EQ(phone.Accepted(), 0);
}

}  // namespace
