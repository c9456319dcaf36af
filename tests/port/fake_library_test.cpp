// How the control drives the port library, seen from a recording stand-in:
// the double open of "IRDA", and the library staying loaded while channels
// of other controls use it.
#include <dlfcn.h>

#include "port_fixture.h"

namespace {

using namespace port_test;

class FakeLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        handle_ = dlopen(PRESSEL_FAKE_FARSEND, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void SetUp() override {
        ASSERT_NE(handle_, nullptr);
        for (const char* name : {"g_fakeOpens", "g_fakeCloses", "g_fakeSends", "g_fakeFailOpens"}) {
            *Counter(name) = 0;
        }
    }
    static int* Counter(const char* name) { return static_cast<int*>(dlsym(handle_, name)); }
    static int Opens() { return *Counter("g_fakeOpens"); }
    static int Closes() { return *Counter("g_fakeCloses"); }
    static int Sends() { return *Counter("g_fakeSends"); }

    static void* handle_;
};
void* FakeLibrary::handle_ = nullptr;

TEST_F(FakeLibrary, IrdaOpensTwiceAndClosesTheFirst) {
    Control c;
    LONG h = c->OpenPort(u"irda,9600,Y", u"");
    EXPECT_EQ(h, 42);
    EXPECT_EQ(Opens(), 2);
    EXPECT_EQ(Closes(), 1);
    EXPECT_EQ(c->m_bFilePort, 0);
    EXPECT_EQ(c->m_bReadWrite, 0);
    EXPECT_EQ(port::g_portLib.lUsers, 1);
    EXPECT_TRUE(c->WritePort(h, "abc", 3));
    EXPECT_EQ(Sends(), 1);
    EXPECT_TRUE(c->ClosePort(h));
    EXPECT_EQ(Closes(), 2);
    EXPECT_EQ(port::g_portLib.lUsers, 0);
    EXPECT_EQ(port::g_portLib.hModule, nullptr);
}

TEST_F(FakeLibrary, FailedIrdaOpenLeavesNoUser) {
    *Counter("g_fakeFailOpens") = 1;
    Control c;
    EXPECT_EQ(c->OpenPort(u"IRDA", u""), -1);
    EXPECT_EQ(Opens(), 2);
    EXPECT_EQ(Closes(), 0);
    EXPECT_EQ(port::g_portLib.lUsers, 0);
    EXPECT_NE(port::g_portLib.hModule, nullptr);
    // Closing the channel that never opened does not call the library, and unloads it.
    EXPECT_TRUE(c->ClosePort(-1));
    EXPECT_EQ(Closes(), 0);
    EXPECT_EQ(port::g_portLib.hModule, nullptr);
}

TEST_F(FakeLibrary, LibraryStaysWhileAnyChannelUsesIt) {
    Control a, b, serial;
    LONG ha = a->OpenPort(u"IRDA", u"");
    LONG hb = b->OpenPort(u"LPT1:", u"");
    ASSERT_NE(ha, -1);
    ASSERT_NE(hb, -1);
    EXPECT_EQ(port::g_portLib.lUsers, 2);
    // Reopening on the same control does not count it twice.
    EXPECT_TRUE(a->ClosePort(ha));
    ha = a->OpenPort(u"IRDA", u"");
    EXPECT_EQ(port::g_portLib.lUsers, 2);

    // Closes of other transports, and of other channels, keep it loaded.
    EXPECT_TRUE(serial->ClosePort(-1));
    EXPECT_TRUE(a->ClosePort(ha));
    EXPECT_NE(port::g_portLib.hModule, nullptr);
    EXPECT_TRUE(b->WritePort(hb, "x", 1));
    EXPECT_TRUE(b->ClosePort(hb));
    EXPECT_EQ(port::g_portLib.hModule, nullptr);
}

TEST_F(FakeLibrary, ChannelStaysWithTheLibraryWhenAnotherControlOpensTheLink) {
    Control c;
    LONG h = c->OpenPort(u"LPT1:", u"");
    ASSERT_NE(h, -1);
    port::g_bKtsbMode = 1;  // as another control's KTSB open leaves it
    EXPECT_TRUE(c->WritePort(h, "x", 1));
    EXPECT_EQ(Sends(), 1);
    EXPECT_TRUE(c->ClosePort(h));
    EXPECT_EQ(Closes(), 1);
    EXPECT_EQ(port::g_bKtsbMode, 1);  // the other control's link is left alone
    port::g_bKtsbMode = 0;
}

}  // namespace
