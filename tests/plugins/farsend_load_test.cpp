// The control finds the port library by its device name, "farsend.dll".
#include <gtest/gtest.h>

#include "plugins/farsend/farsend.h"
#include "win/base.h"

namespace {

TEST(FarsendLoad, FoundByModuleNameWithItsEntryPoints) {
    HMODULE module = LoadLibraryW(u"farsend.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto open = reinterpret_cast<PFN_PRINTEROPEN>(reinterpret_cast<void (*)()>(GetProcAddressW(module, u"PrinterOpen")));
    ASSERT_NE(open, nullptr);
    EXPECT_NE(GetProcAddressW(module, u"PrinterSend"), nullptr);
    EXPECT_NE(GetProcAddressW(module, u"PrinterClose"), nullptr);
    EXPECT_EQ(open(u"IRDA"), -1);
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
