// pressel bitmap, run as a user runs it: the bytes of a whole job with a
// bitmap, and what the command says and returns when it cannot print.
#include <sys/wait.h>

#include <cstdio>

#include "tests/bitmap/print_fixture.h"
#include "tests/control/job_fixture.h"

namespace job_test {
namespace {

struct Outcome {
    int status;
    std::string err;
};

class BitmapVerb : public JobFixture {
protected:
    Outcome Pressel(const std::string& args) {
        std::string errFile = Path("stderr.txt");
        std::string cmd = std::string(PRESSEL_BIN_DIR) + "/pressel bitmap " + args + " 2>" + errFile;
        int rc = std::system(cmd.c_str());
        return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, Read(errFile)};
    }
    static std::string Quote(const std::string& s) { return "'" + s + "'"; }

    // 8 pins, 32-dot lines, 8 dots a cell both ways; the pass count goes
    // into the enter sequence.
    void WriteGraphicsIni(const std::string& extra = "") {
        WriteIni(extra + "GraphNumPins=8\nGraphXDots=32\nGraphCharHeight=8\nGraphCharWidth=8\n"
                         "GraphModeInitSeq=27,51,n\nGraphPrefixSeq=27,42\nGraphPostfixSeq=13,10\n"
                         "GraphModeExitSeq=27,50\n");
    }
    // A 16 x 16 image: black on the left half of the top 8 rows.
    std::string Image() {
        std::string path = Path("image.bmp");
        std::ofstream(path, std::ios::binary) << print_test::Bmp24(16, 16, [](int x, int y) { return x < 8 && y < 8; });
        return path;
    }
};

TEST_F(BitmapVerb, PrintsTheImageInGraphicsModeAtItsColumn) {
    WriteGraphicsIni();
    Outcome r = Pressel("--ini " + Quote(ini_) + " P --output " + Quote(out_) + " --col 2 --height 2 --width 2 " +
                    Quote(Image()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("printed"), std::string::npos) << r.err;
    // Init and normal font, then 2 passes of 32 columns: the image starts at
    // dot 8 and its black quarter covers columns 8 to 15 of the first band.
    // Finish then feeds the form as for any job.
    std::string band0 = std::string(8, '\0') + std::string(8, '\xFF') + std::string(16, '\0');
    EXPECT_EQ(Read(out_), Bytes("^@^N^3\x02^*") + band0 + Bytes("\r\n^*") + std::string(32, '\0') +
                              Bytes("\r\n^2^N\f\r\n"));
}

TEST_F(BitmapVerb, SaysWhyItCannotPrint) {
    std::string image = Image();
    std::string junk = Path("junk.bmp");
    std::ofstream(junk) << "no bitmap";
    struct Case {
        std::string ini;  // extra profile lines; empty: the graphics profile
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"", "--height 1 --width 1 " + Quote(junk), 1, "could not be converted"},
        {"", "--height 1 --width 1 " + Quote(Path("none.bmp")), 2, "cannot read"},
        {"", "--height 0 --width 1 " + Quote(image), 2, "at least 1"},
        {"", "--height 1 " + Quote(image), 2, "at least 1"},
        {"", "--height x --width 1 " + Quote(image), 2, "bad or incomplete option"},
        {"GraphNumPins=12\n", "--height 1 --width 1 " + Quote(image), 1, "no usable graphics geometry"},
    };
    for (const Case& c : cases) {
        WriteGraphicsIni(c.ini);
        Outcome r = Pressel("--ini " + Quote(ini_) + " P --output " + Quote(out_) + " " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
}

}  // namespace
}  // namespace job_test
