// The pressel command's help and exit statuses: every verb answers
// "pressel help VERB" and "pressel VERB --help" on standard output with
// status 0; a wrong command line exits 2 with the usage on standard error.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Result {
    int status;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_support::MakeScratchDir("pressel-cli");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { test_support::RemoveScratchDir(dir_); }

    Result Run(const std::string& args) {
        std::string out = (dir_ / "out").string(), err = (dir_ / "err").string();
        std::string cmd = std::string(PRESSEL_BIN_DIR) + "/pressel " + args + " >" + out + " 2>" + err + " </dev/null";
        int rc = std::system(cmd.c_str());
        return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, test_support::ReadBytes(out), test_support::ReadBytes(err)};
    }

    // The verbs "pressel help" lists: the first word of each line under "verbs:".
    static std::vector<std::string> VerbsOf(const std::string& overview) {
        std::vector<std::string> verbs;
        std::istringstream in(overview);
        bool inList = false;
        for (std::string line; std::getline(in, line);) {
            if (line == "verbs:") inList = true;
            else if (line.empty()) inList = false;
            else if (inList) verbs.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
        return verbs;
    }

    std::filesystem::path dir_;
};

TEST_F(Cli, EveryVerbAnswersHelpOnStandardOutput) {
    Result overview = Run("help");
    ASSERT_EQ(overview.status, 0);
    EXPECT_EQ(overview.err, "");
    Result flag = Run("--help");
    EXPECT_EQ(flag.status, 0);
    EXPECT_EQ(flag.out, overview.out);

    std::vector<std::string> verbs = VerbsOf(overview.out);
    for (const char* known : {"help", "reg", "profile", "print", "bitmap", "version", "register", "unregister"})
        EXPECT_NE(std::find(verbs.begin(), verbs.end(), known), verbs.end()) << known << " missing in\n" << overview.out;
    for (const std::string& verb : verbs) {
        Result help = Run("help " + verb);
        EXPECT_EQ(help.status, 0) << verb;
        EXPECT_EQ(help.err, "") << verb;
        EXPECT_EQ(help.out.rfind("usage: pressel " + verb, 0), 0u) << help.out;
        Result asked = Run(verb + " --help");
        EXPECT_EQ(asked.status, 0) << verb;
        EXPECT_EQ(asked.out, help.out) << verb;
        EXPECT_EQ(asked.err, "") << verb;
    }
    // --help wins wherever it stands, before the verb looks at anything.
    Result late = Run("print --ini missing.ini P --help");
    EXPECT_EQ(late.status, 0);
    EXPECT_EQ(late.out, Run("help print").out);
}

TEST_F(Cli, WrongCommandLinesExitTwoWithTheUsageOnStandardError) {
    std::string overview = Run("help").out;
    struct Case {
        std::string args;
        std::string usageOf;  // "" for the overview
        std::string says;
    } cases[] = {
        {"", "", ""},
        {"nosuch", "", "unknown verb 'nosuch'"},
        {"help nosuch", "", "unknown verb 'nosuch'"},
        {"help print bitmap", "help", ""},
        {"print --bogus", "print", "bad or incomplete option '--bogus'"},
        {"print --ini x.ini P", "print", "expected PRINTER and TEXTFILE"},
        {"bitmap --ini x.ini P logo.bmp", "bitmap", "--height and --width"},
        {"reg", "reg", ""},
        {"reg import", "reg", ""},
        {"profile show --ini x.ini", "profile", ""},
        {"version", "version", ""},
        {"register -x", "register", ""},
        {"unregister a b", "unregister", ""},
    };
    for (const Case& c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        std::string usage = c.usageOf.empty() ? overview : Run("help " + c.usageOf).out;
        ASSERT_FALSE(usage.empty()) << c.usageOf;
        EXPECT_NE(r.err.find(usage), std::string::npos) << c.args << ":\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ":\n" << r.err;
    }
}

TEST_F(Cli, VersionIsTheProjectVersion) {
    Result r = Run("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "pressel " PRESSEL_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, ManualHasAnEntryForEveryVerb) {
    std::string manual = test_support::ReadBytes(std::string(PRESSEL_SOURCE_DIR) + "/tools/pressel/pressel.1");
    ASSERT_FALSE(manual.empty());
    for (const std::string& verb : VerbsOf(Run("help").out)) {
        std::regex entry("\n\\.TP\n(\\.B |\\\\fB)" + verb + "[^-a-z]");
        EXPECT_TRUE(std::regex_search(manual, entry)) << "pressel.1 has no entry for the verb " << verb;
    }
}

TEST_F(Cli, ManualsFormatWithoutWarnings) {
    if (std::system("command -v groff >/dev/null") != 0) GTEST_SKIP() << "groff (groff-base) is not installed";
    for (const char* page : {"tools/pressel/pressel.1", "profile/pressel-profile.5"}) {
        std::string err = (dir_ / "groff.err").string();
        std::string cmd = std::string("groff -man -Tutf8 -ww -z ") + PRESSEL_SOURCE_DIR + "/" + page + " 2>" + err;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << page;
        EXPECT_EQ(test_support::ReadBytes(err), "") << page;
    }
}

}  // namespace
