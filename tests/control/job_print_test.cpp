// pressel print, run as a user runs it: the bytes of a whole job with page
// headers, footers and form feeds, and what the command says and returns
// when the job cannot run.
#include <sys/wait.h>

#include <cstdio>

#include "job_fixture.h"

namespace job_test {
namespace {

struct Outcome {
    int status;
    std::string err;
};

class PrintVerb : public JobFixture {
protected:
    Outcome Pressel(const std::string& args) {
        std::string errFile = Path("stderr.txt");
        std::string cmd = std::string(PRESSEL_BIN_DIR) + "/pressel print " + args + " 2>" + errFile;
        int rc = std::system(cmd.c_str());
        return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Read(errFile)};
    }
    std::string Quote(const std::string& s) { return "'" + s + "'"; }
};

TEST_F(PrintVerb, PrintsPagesWithHeadersFootersAndFormFeeds) {
    WriteIni("PrintableLines=5\nFormFeedSeq=12\nShutdownCharCount=1\nShutdownChar=0x2A\n");
    std::string text = Path("in.txt");
    std::ofstream(text) << "one\r\ntwo\n\fthree\nfour\xc3\xa9\n";  // CR LF, a form feed, UTF-8
    Outcome r = Pressel("--ini " + Quote(ini_) + " P --output " + Quote(out_) +
                    " --header 'H{page}' --footer 'F{page}' --quiet " + Quote(text));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Five lines a page with a one-line footer: H one two pad F, then H three
    // four (e acute in code page 1252) pad F.
    EXPECT_EQ(Read(out_), Bytes("^@^N^NH1\r\n^None\r\n^Ntwo\r\n^N\r\n^NF1\r\n^N\f"
                                "^NH2\r\n^Nthree\r\n^Nfour\xe9\r\n^N\r\n^NF2\r\n^N\f*"));
}

TEST_F(PrintVerb, SaysWhyAJobDidNotRun) {
    WriteIni("");
    std::string text = Path("in.txt");
    std::ofstream(text) << "x\n";
    struct Case {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"--ini " + Quote(ini_) + " Nobody --output " + Quote(out_) + " " + Quote(text), 1, "no port for this printer"},
        {"--ini " + Quote(ini_) + " P --output " + Quote(Path("no/dir/out")) + " " + Quote(text), 1,
         "port could not be opened"},
        {"--ini " + Quote(ini_) + " P " + Quote(Path("missing.txt")), 2, "cannot read"},
        {"P " + Quote(text), 2, "exactly one of --ini and --reg"},
    };
    for (const Case& c : cases) {
        Outcome r = Pressel(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

TEST_F(PrintVerb, ReportsProgressOnLongJobs) {
    WriteIni("");
    std::string text = Path("in.txt");
    {
        std::ofstream f(text);
        for (int i = 0; i < 2500; ++i) f << "line " << i << "\n";
    }
    Outcome r = Pressel("--ini " + Quote(ini_) + " P --output " + Quote(out_) + " " + Quote(text));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("1000 of 2500 lines"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2000 of 2500 lines"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("printed 2500 lines"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace job_test
