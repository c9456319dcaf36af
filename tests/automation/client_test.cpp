// One whole job from a separate program that knows only the program
// identifier, against the library registered in a scratch registry.
#include <stdio.h>
#include <sys/wait.h>

#include "automation_fixture.h"

namespace automation_test {
namespace {

using ClientTest = AutomationFixture;

// Runs the client; returns its exit status and standard output.
int RunClient(const std::vector<std::string>& args, std::string* out) {
    std::string command = std::string(PRESSEL_BIN_DIR) + "/pressel_progid_client";
    for (const std::string& a : args) command += " '" + a + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ClientTest, JobDrivenPurelyThroughDispatch) {
    ASSERT_EQ(registerServer_(), S_OK);
    std::string ini = WriteIni("PrintableLines=3\nFormFeedSeq=12\n");
    std::string output = Path("out.prn");
    std::string events;
    ASSERT_EQ(RunClient({ini, "P", output, "one", "two", "three", "four"}, &events), 0) << events;
    // Pages of three lines with empty headers and footers; the normal font
    // follows every line sent, the last page is padded.
    EXPECT_EQ(Read(output),
              "\x1b@\x1bN\x1bNone\r\n\x1bNtwo\r\n\x1bNthree\r\n\x1bN\f\x1bNfour\r\n\x1bN\r\n\x1bN\r\n\x1bN\f");
    EXPECT_EQ(events,
              "HeaderEvent 1 0\n"  // the footer is measured at the start
              "HeaderEvent 0 0\n"
              "HeaderEvent 1 0\n"
              "HeaderEvent 0 0\n"
              "LineNo 2 PageNo 2\n"
              "HeaderEvent 1 0\n"
              "NotifyMessage 2 0\n"
              "LastError 0x00000000\n");
}

TEST_F(ClientTest, UnregisteredProgramIdentifierIsReported) {
    std::string events;
    EXPECT_EQ(RunClient({WriteIni(), "P", Path("out.prn"), "x"}, &events), 1);
    EXPECT_EQ(events, "");
    ASSERT_EQ(registerServer_(), S_OK);
    EXPECT_EQ(RunClient({WriteIni(), "Nobody", Path("out.prn"), "x"}, &events), 1);
    EXPECT_EQ(events, "NotifyMessage 1 8\nLastError 0x80040D01\n");
}

TEST_F(ClientTest, RegisterAndUnregisterVerbsRunTheLibraryEntryPoints) {
    const std::string pressel = std::string(PRESSEL_BIN_DIR) + "/pressel ";
    auto run = [&](const std::string& args) {
        int rc = std::system((pressel + args + " 2>/dev/null").c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    CLSID clsid;
    EXPECT_EQ(run("register"), 0);
    EXPECT_EQ(CLSIDFromProgID(u"Quendrix.Pressel", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_Pressel);
    EXPECT_EQ(run("unregister"), 0);
    EXPECT_EQ(CLSIDFromProgID(u"Quendrix.Pressel", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(run("register '" + Path("missing.so") + "'"), 1);
    EXPECT_EQ(run("register a b"), 2);
}

}  // namespace
}  // namespace automation_test
