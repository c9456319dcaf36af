// pressel preview and pressel profile list, run as a user runs them: a
// bitmap job whose dots are the picture's, a text job of two pages, a
// captured stream with bytes the profile does not explain and cut off
// inside a sequence, and what the commands say when they cannot.
#include <sys/wait.h>

#include "preview_support.h"
#include "tests/bitmap/print_fixture.h"
#include "tests/control/job_fixture.h"

namespace preview_test {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

class PreviewVerb : public job_test::JobFixture {
protected:
    Outcome Pressel(const std::string& args, const std::string& env = "") {
        std::string outFile = Path("stdout.txt"), errFile = Path("stderr.txt");
        std::string cmd = env + " " + PRESSEL_BIN_DIR + "/pressel " + args + " >" + outFile + " 2>" + errFile;
        int rc = std::system(cmd.c_str());
        return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Read(outFile), Read(errFile)};
    }
    static std::string Quote(const std::string& s) { return "'" + s + "'"; }
    std::string Png(const char* name = "out.png") { return Path(name); }
};

TEST_F(PreviewVerb, ABitmapJobsDotsAreThePicturesDots) {
    // 8 x 8 dot cells on a 64-dot line: a 24 x 16 picture printed 3 columns
    // wide and 2 lines high from column 3 is not scaled.
    WriteIni("GraphNumPins=8\nGraphXDots=64\nGraphCharHeight=8\nGraphCharWidth=8\nGraphModeInitSeq=27,51,n\n"
             "GraphPrefixSeq=27,42\nGraphPostfixSeq=13,10\nGraphModeExitSeq=27,50\n");
    auto black = [](int x, int y) { return (x * 7 + y * 3) % 5 == 0 || x == y; };
    std::string image = Path("picture.bmp");
    std::ofstream(image, std::ios::binary) << print_test::Bmp24(24, 16, black);
    Outcome r = Pressel("preview --ini " + Quote(ini_) + " P --output " + Quote(Png()) +
                        " --col 3 --height 2 --width 3 " + Quote(image));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Png() + "\n");
    Picture p;
    ASSERT_TRUE(ReadPng(Png(), &p));
    ASSERT_EQ(p.width, 64);
    ASSERT_GE(p.height, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x) {
            bool dot = x >= 16 && x < 40 && black(x - 16, y);
            ASSERT_EQ(p.rgb[static_cast<size_t>(3 * (y * 64 + x))] == 0, dot) << x << "," << y;
        }
}

TEST_F(PreviewVerb, ATextJobOfTwoPagesWritesAPictureAPage) {
    // No graphics geometry: 12 x 24 dot cells, 80 columns; 3 lines a page.
    std::ofstream(ini_) << "[P]\nEntryName=E\nPrintableLines=3\nStartupDelay=0\nShutdownDelay=0\n[PrinterPorts]\nE=LPT1:\n";
    std::string text = Path("job.txt");
    std::ofstream(text) << "one\ntwo\n\fthree\n";
    Outcome r = Pressel("preview --ini " + Quote(ini_) + " P --output " + Quote(Png()) + " --header 'page {page}' " + Quote(text));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Png() + "\n" + Png("out-2.png") + "\n");
    EXPECT_NE(r.err.find("2 pages of P"), std::string::npos) << r.err;
    for (const char* name : {"out.png", "out-2.png"}) {
        Picture p;
        ASSERT_TRUE(ReadPng(Png(name), &p)) << name;
        EXPECT_EQ(p.width, 960);
        EXPECT_EQ(p.height, 72);
    }
}

TEST_F(PreviewVerb, ACapturedStreamShowsWhatTheProfileDoesNotExplainAndWhereItStopped) {
    WriteIni("CrLfSeq=13,10\n");
    std::string stream = Path("captured.prn");
    std::ofstream(stream, std::ios::binary) << test_support::Esc("^@AB\x07\r\n^");
    Outcome r = Pressel("preview --ini " + Quote(ini_) + " P --output " + Quote(Png()) + " --stream " + Quote(stream));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("1 byte the profile does not explain, drawn as red markers (the first at byte offset 4)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("stops at byte offset 8, inside InitSeq or NormalFontSeq (1 of 2 bytes) that began at byte offset 7"), std::string::npos)
        << r.err;
    Picture p;
    ASSERT_TRUE(ReadPng(Png(), &p));
    bool red = false;
    for (size_t i = 0; i < p.rgb.size(); i += 3) red |= p.rgb[i] > 200 && p.rgb[i + 1] < 50;
    EXPECT_TRUE(red);
}

TEST_F(PreviewVerb, SaysWhyItCannotPreview) {
    WriteIni("");
    std::string text = Path("job.txt");
    std::ofstream(text) << "x\n";
    struct Case {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"--ini " + Quote(ini_) + " P " + Quote(text), 2, "name the picture with --output"},
        {"--ini " + Quote(ini_) + " Q --output x.png " + Quote(text), 2, "has no printer \"Q\""},
        {"--ini " + Quote(Path("none.ini")) + " P --output x.png " + Quote(text), 2, "cannot read"},
        {"--reg 'Software\\None' P --output x.png " + Quote(text), 2, "no printer \"P\" under"},
        {"--ini " + Quote(ini_) + " P --output x.png --stream " + Quote(Path("none.prn")), 2, "cannot read"},
        {"--ini " + Quote(ini_) + " P --output x.png --header h --stream " + Quote(text), 2, "--stream takes PRINTER"},
        {"--ini " + Quote(ini_) + " P --output x.png --height 1 " + Quote(text), 2, "--height and --width"},
        {"--ini " + Quote(ini_) + " P --output " + Quote(Path("no/dir/x.png")) + " " + Quote(text), 1, "cannot write"},
    };
    for (const Case& c : cases) {
        Outcome r = Pressel("preview " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
}

TEST_F(PreviewVerb, ProfileListShowsTheInstalledProfilesAndTheUsersOwn) {
    std::filesystem::create_directories(dir_ / "data" / "pressel" / "profiles");
    std::ofstream(dir_ / "data" / "pressel" / "profiles" / "mine.ini") << "[Shop Printer]\n[Back Office]\n[PrinterPorts]\n";
    Outcome r = Pressel("profile list", "XDG_DATA_HOME=" + Quote(Path("data")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("epson-9pin.ini           \"Epson LX-350\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Your profiles: " + Path("data") + "/pressel/profiles\n"
                         "  mine.ini                 \"Shop Printer\"\n"
                         "  mine.ini                 \"Back Office\"\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace preview_test
