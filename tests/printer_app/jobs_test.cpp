// Jobs of every format, printed through the control onto files, byte for
// byte; pictures side by side with what the control's Bitmap sends for the
// same picture through the pressel tool.
#include <gtest/gtest.h>

#include <ctime>

#include "app_server.h"
#include "test_support.h"

namespace app_test {
namespace {

using test_support::Esc;
using namespace std::string_literals;
namespace fs = std::filesystem;

// A bundled profile without its start-up and shut-down pauses, as the
// user's own profile: the same printer, quicker jobs.
std::string QuickProfile(const AppServer& server, const std::string& bundled) {
    std::string text = ReadFile(BundledProfile(bundled));
    for (const char* key : {"StartupDelay=", "ShutdownDelay="}) {
        size_t at = text.find(key);
        if (at != std::string::npos) text.replace(at, text.find('\n', at) - at, std::string(key) + "0");
    }
    server.AddUserProfile("quick-" + bundled, text);
    return (server.Dir() / "data" / "pressel" / "profiles" / ("quick-" + bundled)).string();
}

class AppJobs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Running()) << server_.Log(); }

    // Adds a printer whose device is a file of the scratch directory.
    fs::path FilePrinter(const std::string& name, const std::string& driver) {
        fs::path out = server_.Dir() / (name + ".prn");
        EXPECT_TRUE(server_.AddPrinter(name, driver, "pressel:" + out.string()));
        return out;
    }

    // Prints a document and waits for the job; the job's final state.
    std::string Print(const std::string& printer, const std::string& bytes, const std::string& format,
                      const std::map<std::string, std::string>& attributes = {}, int* jobId = nullptr) {
        fs::path doc = server_.Dir() / ("doc-" + std::to_string(++docs_));
        WriteFile(doc, bytes);
        int job = server_.Submit(printer, doc.string(), format, attributes);
        if (jobId) *jobId = job;
        if (job <= 0) return "not submitted";
        return server_.WaitJobDone(printer, job);
    }

    AppServer server_;
    int docs_ = 0;
};

TEST_F(AppJobs, TextPrintsLineByLineWithHeadersFootersAndTheChosenFont) {
    server_.AddUserProfile("tiny.ini",
                           "[Tiny]\nPrintableLines=5\nEntryName=T\nInitSeq=27,64\nNormalFontSeq=27,80\n"
                           "CompressFontSeq=15\nCrLfSeq=13,10\nFormFeedSeq=12\nStartupDelay=0\nShutdownDelay=0\n"
                           "[PrinterPorts]\nT=COM9:\n");
    fs::path out = FilePrinter("Tiny", "user.tiny.tiny");
    int job = 0;
    ASSERT_EQ(Print("Tiny", "alpha\r\nbeta\n\fgamma", "text/plain",
                    {{"text pressel-header", "H{page}/{job}"}, {"text pressel-footer", "F {user}"},
                     {"keyword pressel-font", "compressed"}},
                    &job),
              "completed")
        << server_.Log();
    const std::string id = std::to_string(job);
    // Five lines a page: header, three body lines, footer. Headers and
    // footers are in the normal font (ESC P); the body is compressed (SI),
    // which the control selects again after every line and before the form
    // feed that ends the page.
    const std::string expected = Esc(
        "^@^P"
        "^PH1/" + id + "\r\n"
        "^P\x0f" "alpha\r\n"
        "\x0f" "beta\r\n"
        "\x0f" "\r\n"
        "^PF tester\r\n"
        "\x0f\x0c"
        "^PH2/" + id + "\r\n"
        "\x0f" "gamma\r\n"
        "\x0f" "\r\n"
        "\x0f" "\r\n"
        "^PF tester\r\n"
        "\x0f\x0c");
    EXPECT_TRUE(SameBytes(ReadFile(out), expected));
}

TEST_F(AppJobs, RawBytesReachThePortUnchanged) {
    QuickProfile(server_, "receipt-80mm.ini");
    fs::path out = FilePrinter("Raw", "user.quick-receipt-80mm.epson-tm-t88v");
    std::string bytes;
    for (int i = 0; i < 3 * 256 + 77; ++i) bytes.push_back(static_cast<char>((i * 37) & 0xFF));
    ASSERT_EQ(Print("Raw", bytes, "application/vnd.pressel-raw"), "completed") << server_.Log();
    EXPECT_TRUE(SameBytes(ReadFile(out), bytes));
    // Octet streams that are no known format are raw too.
    ASSERT_EQ(Print("Raw", "\x1b@plain bytes", "application/octet-stream"), "completed");
    EXPECT_EQ(ReadFile(out), "\x1b@plain bytes");
    // ...unless they read as UTF-8 text: then they print as text, through
    // the profile's line ends.
    ASSERT_EQ(Print("Raw", "caf\xc3\xa9\tline\n", "application/octet-stream"), "completed");
    const std::string text = ReadFile(out);
    EXPECT_NE(text.find("caf"), std::string::npos) << text;
    EXPECT_NE(text, "caf\xc3\xa9\tline\n");
}

// Each copy of a text starts on a page of its own, its pages numbered from
// 1 again; raw copies repeat the bytes, and raster pages print again.
TEST_F(AppJobs, CopiesPrintTheWholeDocumentAgain) {
    server_.AddUserProfile("tiny.ini",
                           "[Tiny]\nPrintableLines=3\nEntryName=T\nInitSeq=27,64\nCrLfSeq=13,10\nFormFeedSeq=12\n"
                           "StartupDelay=0\nShutdownDelay=0\n[PrinterPorts]\nT=COM9:\n");
    fs::path out = FilePrinter("Copies", "user.tiny.tiny");
    const std::map<std::string, std::string> header = {{"text pressel-header", "H{page}"}};
    auto withCopies = [&](int n) {
        auto attributes = header;
        attributes["integer copies"] = std::to_string(n);
        return attributes;
    };
    ASSERT_EQ(Print("Copies", "one\ntwo\nthree\n", "text/plain", header), "completed");
    const std::string once = ReadFile(out);
    EXPECT_TRUE(SameBytes(once, Esc("^@H1\r\none\r\ntwo\r\n\x0cH2\r\nthree\r\n\r\n\x0c")));
    ASSERT_EQ(Print("Copies", "one\ntwo\nthree\n", "text/plain", withCopies(3)), "completed");
    const std::string copy = once.substr(2);
    EXPECT_TRUE(SameBytes(ReadFile(out), "\x1b@" + copy + copy + copy));

    ASSERT_EQ(Print("Copies", "\x1b@raw", "application/vnd.pressel-raw", withCopies(2)), "completed");
    EXPECT_EQ(ReadFile(out), "\x1b@raw\x1b@raw");

    // A raster stream comes once: its pages are printed again from what the
    // worker kept, each copy's page ended by its own cut.
    QuickProfile(server_, "receipt-80mm.ini");
    fs::path roll = FilePrinter("RollCopies", "user.quick-receipt-80mm.epson-tm-t88v");
    const std::string page = Raster(512, 30, 180, 60, [](int x, int y) { return (x + y) % 5 == 0; }, false);
    ASSERT_EQ(Print("RollCopies", page, "image/pwg-raster"), "completed");
    const std::string single = ReadFile(roll);
    ASSERT_EQ(Print("RollCopies", page, "image/pwg-raster", {{"integer copies", "3"}}), "completed");
    // ESC @ and the font open the job; each copy is the page and its cut.
    const std::string body = single.substr(8);
    ASSERT_EQ(single.substr(0, 8), Esc("^@\x1d!\x00^M\x00"s));
    EXPECT_TRUE(SameBytes(ReadFile(roll), single.substr(0, 8) + body + body + body));
    // PAPPL repeats a PNG's page for its copies itself: no more are made.
    ASSERT_EQ(Print("RollCopies", Png(512, 90, 180, [](int x, int y) { return (x + y) % 5 == 0; }), "image/png",
                    {{"integer copies", "2"}}),
              "completed");
    const std::string png = ReadFile(roll), cut("\x1dVB\0", 4);
    EXPECT_EQ(png.find(cut, png.find(cut, png.find(cut) + 1) + 1), std::string::npos) << "more than two pages";
    EXPECT_NE(png.find(cut, png.find(cut) + 1), std::string::npos) << "fewer than two pages";
}

TEST_F(AppJobs, PngPrintsInBandsAsTheControlsBitmapWould) {
    std::string ini = QuickProfile(server_, "receipt-80mm.ini");
    fs::path out = FilePrinter("Band", "user.quick-receipt-80mm.epson-tm-t88v");
    // 180 x 60 dpi: each row of the print is three rows of the picture.
    auto print = [](int x, int r) { return r == 39 || ((x / 7 + r) % 3 == 0 && x < 500); };
    std::string png = Png(512, 120, 180, [&](int x, int y) { return print(x, y / 3); });
    ASSERT_EQ(Print("Band", png, "image/png"), "completed") << server_.Log();

    // 40 rows: 5 passes of 8, in 4 lines of 10 rows; 43 columns of 12 dots cover the line.
    fs::path bmp = server_.Dir() / "same.bmp";
    WriteFile(bmp, Bmp(43 * 12, 40, [&](int x, int r) { return x < 512 && print(x, r); }));
    std::string expected = PresselBitmapJob(ini, "Epson TM-T88V", bmp, 4, 43, server_.Dir() / "expected.prn");
    ASSERT_FALSE(expected.empty());
    std::string got = ReadFile(out);
    EXPECT_TRUE(SameBytes(got, expected));
    // ESC @, font A, ESC 3 48, then the first band: ESC * 1 with 512 columns.
    EXPECT_EQ(got.substr(0, 16), Esc("^@\x1d!\x00^M\x00^3\x30^*\x01\x00\x02"s));
    EXPECT_EQ(got.size(), 8u + 3u + 5u * (5 + 512 + 1) + 2u + 4u + 6u);
}

TEST_F(AppJobs, PngPrintsInRasterRowsWithinThePassCount) {
    std::string ini = QuickProfile(server_, "mobile-58mm.ini");
    fs::path out = FilePrinter("Mobile", "user.quick-mobile-58mm.bixolon-spp-r200iii");
    auto black = [](int x, int y) { return y == 599 || (x * 3 + y) % 11 < 4; };
    ASSERT_EQ(Print("Mobile", Png(384, 600, 203, black), "image/png"), "completed") << server_.Log();

    // One byte counts the rows of a bitmap: 255 at most, so 8 lines of 30.
    std::string got = ReadFile(out);
    const std::string init = Esc("^@\x1d!\x00^M\x00"s);
    ASSERT_EQ(got.substr(0, init.size()), init);
    size_t at = init.size();
    std::string rows;
    for (int count : {240, 240, 120}) {
        ASSERT_EQ(got.substr(at, 8), std::string("\x1dv0\x00\x30\x00", 6) + static_cast<char>(count) + '\0');
        rows += got.substr(at + 8, static_cast<size_t>(count) * 48);
        at += 8 + static_cast<size_t>(count) * 48;
    }
    for (int y = 0; y < 600; ++y)
        for (int b = 0; b < 48; ++b) {
            unsigned char want = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (black(b * 8 + bit, y)) want |= static_cast<unsigned char>(0x80 >> bit);
            ASSERT_EQ(static_cast<unsigned char>(rows[static_cast<size_t>(y * 48 + b)]), want) << y << "," << b;
        }
    // The normal font, then ESC d 4 ends the ticket.
    EXPECT_TRUE(SameBytes(got.substr(at), Esc("\x1d!\x00^M\x00^d\x04"s)));

    // A picture that fits one bitmap: the same bytes as the pressel tool.
    auto small = [](int x, int y) { return y == 99 || (x + y) % 5 == 0; };
    ASSERT_EQ(Print("Mobile", Png(384, 100, 203, small), "image/png"), "completed");
    fs::path bmp = server_.Dir() / "small.bmp";
    WriteFile(bmp, Bmp(384, 120, [&](int x, int y) { return y < 100 && small(x, y); }));
    EXPECT_TRUE(SameBytes(ReadFile(out), PresselBitmapJob(ini, "Bixolon SPP-R200III", bmp, 4, 32, server_.Dir() / "e.prn")));
}

TEST_F(AppJobs, RasterPagesLeaveTheirBlankTailUnsent) {
    std::string ini = QuickProfile(server_, "receipt-80mm.ini");
    fs::path out = FilePrinter("Pwg", "user.quick-receipt-80mm.epson-tm-t88v");
    // A full 200 mm page of the roll with ink in its first 22 rows only.
    auto black = [](int x, int y) { return y < 22 && (x / 16 + y) % 2 == 0; };
    ASSERT_EQ(Print("Pwg", Raster(512, 472, 180, 60, black, false), "image/pwg-raster"), "completed") << server_.Log();
    // 22 rows need 3 passes: 3 lines of 10 rows, of which 24 are sent.
    fs::path bmp = server_.Dir() / "pwg.bmp";
    WriteFile(bmp, Bmp(516, 30, [&](int x, int y) { return x < 512 && black(x, y); }));
    std::string expected = PresselBitmapJob(ini, "Epson TM-T88V", bmp, 3, 43, server_.Dir() / "e.prn");
    EXPECT_TRUE(SameBytes(ReadFile(out), expected));
    EXPECT_LT(ReadFile(out).size(), 2000u);

    // Apple raster, as phones send it, on the square 203 dpi printer.
    QuickProfile(server_, "mobile-58mm.ini");
    fs::path mobile = FilePrinter("Urf", "user.quick-mobile-58mm.bixolon-spp-r200iii");
    auto ring = [](int x, int y) { int d = (x - 192) * (x - 192) + (y - 50) * (y - 50); return d < 2000 && d > 900; };
    ASSERT_EQ(Print("Urf", Raster(384, 100, 203, 203, ring, true), "image/urf"), "completed") << server_.Log();
    // Its last row with ink is row 94: four lines of 30 rows.
    fs::path ringBmp = server_.Dir() / "ring.bmp";
    WriteFile(ringBmp, Bmp(384, 120, ring));
    EXPECT_TRUE(SameBytes(ReadFile(mobile), PresselBitmapJob(QuickProfile(server_, "mobile-58mm.ini"),
                                                             "Bixolon SPP-R200III", ringBmp, 4, 32, server_.Dir() / "u.prn")));
}

TEST_F(AppJobs, MalformedDocumentsAbortTheirJobAndTheServerGoesOn) {
    QuickProfile(server_, "receipt-80mm.ini");
    fs::path out = FilePrinter("Safe", "user.quick-receipt-80mm.epson-tm-t88v");
    std::string png = Png(512, 90, 180, [](int x, int y) { return (x + y) % 3 == 0; });
    std::string lying = png;
    // IHDR claims 30000 x 30000 pixels (its CRC mended, so only the size lies).
    lying.replace(16, 8, std::string("\x00\x00\x75\x30\x00\x00\x75\x30", 8));
    const std::pair<std::string, std::string> bad[] = {
        {png.substr(0, png.size() / 2), "image/png"},
        {lying, "image/png"},
        {"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01", "image/jpeg"},
        {"RaS2 but nothing that follows is a raster page at all", "image/pwg-raster"},
    };
    for (const auto& [bytes, format] : bad) {
        int job = 0;
        EXPECT_EQ(Print("Safe", bytes, format, {}, &job), "aborted") << format;
        std::string reasons = server_.JobAttribute("Safe", job, "job-state-reasons");
        // PAPPL reads raster streams itself and gives its own reason.
        const char* reason = format == "image/pwg-raster" ? "aborted-by-system" : "document-format-error";
        EXPECT_NE(reasons.find(reason), std::string::npos) << format << ": " << reasons;
    }
    EXPECT_NE(server_.JobAttribute("Safe", 1, "job-state-message").find("PNG"), std::string::npos);
    ASSERT_EQ(Print("Safe", "\x1bstill printing", "application/vnd.pressel-raw"), "completed");
    EXPECT_EQ(ReadFile(out), "\x1bstill printing");
}

// CUPS sends a letter page to a receipt roll: the page is cut at the
// printer's width, whatever the raster's depth, and the server goes on.
// Pages that cannot print as they are sent are refused with a reason.
TEST_F(AppJobs, RasterPagesAreCutAtThePrintersWidthOrRefused) {
    std::string ini = QuickProfile(server_, "receipt-80mm.ini");
    fs::path out = FilePrinter("Wide", "user.quick-receipt-80mm.epson-tm-t88v");
    auto ink = [](int x, int y) { return y < 20 && (x < 512 ? (x / 7 + y) % 3 == 0 : true); };
    fs::path bmp = server_.Dir() / "wide.bmp";
    WriteFile(bmp, Bmp(516, 30, [&](int x, int y) { return x < 512 && ink(x, y); }));
    const std::string expected = PresselBitmapJob(ini, "Epson TM-T88V", bmp, 3, 43, server_.Dir() / "e.prn");
    for (bool apple : {true, false}) {
        for (int width : {1530, 20000}) {
            fs::remove(out);
            // URF has one density: three of its rows make one printer row.
            std::string page = apple ? Raster(width, 60, 180, 180, [&](int x, int y) { return ink(x, y / 3); }, true)
                                     : Raster(width, 20, 180, 60, ink, false);
            ASSERT_EQ(Print("Wide", page, apple ? "image/urf" : "image/pwg-raster"), "completed")
                << width << (apple ? " URF" : " PWG") << server_.Log();
            EXPECT_TRUE(SameBytes(ReadFile(out), expected)) << width << (apple ? " URF" : " PWG");
        }
    }
    // A page no printer could hold, or at another density than the one
    // advertised, is refused before PAPPL takes its rows.
    const std::pair<std::string, std::string> refused[] = {
        {Raster(70000, 3, 180, 180, ink, true), "70000 dots wide"},
        {Raster(512, 20, 203, 203, ink, false), "at 203x203 dpi; the printer takes 180x60 dpi"},
        {Raster(512, 20, 300, 300, ink, true), "at 300x300 dpi; the printer takes 180x180 dpi"},
    };
    for (const auto& [page, why] : refused) {
        int job = 0;
        const std::string format = page.compare(0, 4, "RaS2") == 0 ? "image/pwg-raster" : "image/urf";
        EXPECT_EQ(Print("Wide", page, format, {}, &job), "aborted") << why;
        EXPECT_NE(server_.JobAttribute("Wide", job, "job-state-reasons").find("document-format-error"),
                  std::string::npos);
        EXPECT_NE(server_.JobAttribute("Wide", job, "job-state-message").find(why), std::string::npos)
            << server_.JobAttribute("Wide", job, "job-state-message");
    }
    fs::remove(out);
    ASSERT_EQ(Print("Wide", "\x1b@after", "application/vnd.pressel-raw"), "completed");
    EXPECT_EQ(ReadFile(out), "\x1b@after");
}

TEST_F(AppJobs, AppleRasterMeetsThePrintersRowsWhenItsDensityDiffers) {
    std::string ini = QuickProfile(server_, "receipt-80mm.ini");
    fs::path out = FilePrinter("Phone", "user.quick-receipt-80mm.epson-tm-t88v");
    // URF has one density, 180 dpi here; the printer has 60 dpi down: each
    // printer row is three rows of the page.
    auto print = [](int x, int r) { return r == 15 || (x / 9 + r) % 4 == 0; };
    std::string urf = Raster(512, 48, 180, 180, [&](int x, int y) { return print(x, y / 3); }, true);
    ASSERT_EQ(Print("Phone", urf, "image/urf"), "completed") << server_.Log();
    fs::path bmp = server_.Dir() / "phone.bmp";
    WriteFile(bmp, Bmp(516, 20, [&](int x, int r) { return x < 512 && r < 16 && print(x, r); }));
    EXPECT_TRUE(SameBytes(ReadFile(out), PresselBitmapJob(ini, "Epson TM-T88V", bmp, 2, 43, server_.Dir() / "e.prn")));
}

}  // namespace
}  // namespace app_test
