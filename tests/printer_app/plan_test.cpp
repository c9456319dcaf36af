// The app's own logic that needs no server: how a page becomes Bitmap
// calls, what the job's profile copy says, device URIs, the job
// description, header texts and the conditions table.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include <gtest/gtest.h>

#include "bitmap/PrintableBitmap.h"
#include "printer-app/catalogue.h"
#include "printer-app/derived_profile.h"
#include "printer-app/device_uri.h"
#include "printer-app/page_plan.h"
#include "printer-app/state_reasons.h"
#include "printer-app/worker_protocol.h"
#include "printer-app/worker_session.h"
#include "test_support.h"

namespace printer_app {
namespace {

namespace fs = std::filesystem;

GraphicsGeometry Geometry(int pins, int dots, int charHeight, int charWidth, int maxPasses) {
    GraphicsGeometry g;
    g.pins = pins, g.lineDots = dots, g.charHeight = charHeight, g.charWidth = charWidth, g.maxPasses = maxPasses;
    return g;
}

EscSeq Seq(const char16_t* text) {
    EscSeq seq;
    ParseSeq(text, &seq);
    return seq;
}

TEST(PagePlan, PassCountLimitFollowsTheInitSequence) {
    EXPECT_EQ(MaxPassesFor(Seq(u"29,118,48,0,48,0,n,0"), false), 255);
    EXPECT_EQ(MaxPassesFor(Seq(u"29,118,48,0,48,0,n,0"), true), 65535);
    EXPECT_EQ(MaxPassesFor(Seq(u"27,n,n"), false), 65535);
    EXPECT_EQ(MaxPassesFor(Seq(u"27,51,24"), false), 0);
    EXPECT_EQ(MaxPassesFor(Seq(u"n,n,n"), false), 0);
    EXPECT_FALSE(GeometryUsable(Geometry(12, 384, 30, 12, 0)));
    EXPECT_FALSE(GeometryUsable(Geometry(8, 100, 30, 12, 0)));
    EXPECT_FALSE(GeometryUsable(Geometry(8, 384, 0, 12, 0)));
    EXPECT_TRUE(GeometryUsable(Geometry(24, 384, 10, 12, 0)));
}

TEST(PagePlan, StripsSendEveryRowOnceWithinTheCount) {
    struct Case {
        GraphicsGeometry g;
        int rows;
        std::vector<std::array<int, 3>> strips;  // first row, lines, rows sent
    };
    const Case cases[] = {
        // The 58 mm printer: one byte counts 255 rows, 8 lines of 30 rows fit.
        {Geometry(1, 384, 30, 12, 255), 600, {{0, 8, 240}, {240, 8, 240}, {480, 4, 120}}},
        {Geometry(1, 384, 30, 12, 255), 1, {{0, 1, 30}}},
        // 9 pins, lines of 12 rows: a single line would drop half a band.
        {Geometry(8, 960, 12, 12, 0), 12, {{0, 2, 24}}},
        {Geometry(8, 960, 12, 12, 0), 30, {{0, 3, 32}}},
        // Bitmap drops the rows of an unfinished pass: the next strip starts there.
        {Geometry(8, 512, 12, 12, 2), 40, {{0, 1, 8}, {8, 1, 8}, {16, 1, 8}, {24, 1, 8}, {32, 1, 8}}},
        {Geometry(24, 384, 10, 12, 0), 24, {{0, 3, 24}}},
    };
    for (const Case& c : cases) {
        std::vector<Strip> strips = PlanStrips(c.rows, c.g);
        ASSERT_EQ(strips.size(), c.strips.size()) << "rows " << c.rows;
        for (size_t i = 0; i < strips.size(); ++i) {
            EXPECT_EQ(strips[i].firstRow, c.strips[i][0]);
            EXPECT_EQ(strips[i].lines, c.strips[i][1]);
            EXPECT_EQ(strips[i].rowsSent, c.strips[i][2]);
        }
    }
    EXPECT_TRUE(PlanStrips(0, Geometry(1, 384, 30, 12, 255)).empty());

    for (int rows = 1; rows < 700; rows += 7) {
        GraphicsGeometry g = Geometry(8, 512, 10, 12, 255);
        int next = 0;
        std::vector<Strip> strips = PlanStrips(rows, g);
        for (const Strip& s : strips) {
            EXPECT_EQ(s.firstRow, next);
            EXPECT_LE(s.lines * g.charHeight / g.pins, g.maxPasses);
            next += s.rowsSent;
        }
        EXPECT_GE(next, rows);
        // The last strip is as short as whole lines allow.
        const Strip& last = strips.back();
        EXPECT_LT((last.lines - 1) * g.charHeight / g.pins * g.pins, rows - last.firstRow);
    }
}

// What the control converts a strip file into is the strip itself: the
// file is read at its size, dot for dot.
TEST(PagePlan, StripFilesAreReadDotForDotByTheControlsConversion) {
    fs::path dir = test_support::MakeScratchDir("strip");
    PageRaster page;
    page.widthDots = 380;  // narrower than the line: the rest is white
    page.bytesPerRow = 48;
    for (int row = 0; row < 50; ++row)
        for (int b = 0; b < 48; ++b) page.bits.push_back(static_cast<char>((row * 7 + b * 13) & 0xFF));
    EXPECT_EQ(InkedRows(page), 50);
    std::string path = (dir / "s.bmp").string();
    ASSERT_TRUE(WriteStripBitmap(path, page, 10, 60, 384));

    BYTE* array = GetPrintableBitmap(60, 384, 384, test_support::Wide(path).c_str(), kLayoutRasterRows, 0, 0);
    ASSERT_NE(array, nullptr);
    for (int row = 0; row < 60; ++row) {
        for (int b = 0; b < 48; ++b) {
            int source = 10 + row;
            unsigned char want = source < 50 ? static_cast<unsigned char>((source * 7 + b * 13) & 0xFF) : 0;
            if (b == 47) want &= 0xF0;  // dots 380 to 383 are past the page
            ASSERT_EQ(array[row * 48 + b], want) << "row " << row << " byte " << b;
        }
    }
    FreePrintableBitmap(array);

    page.bits.replace(49 * 48, 48, 48, '\0');
    EXPECT_EQ(InkedRows(page), 49);
    page.bits.assign(page.bits.size(), '\0');
    EXPECT_EQ(InkedRows(page), 0);
    test_support::RemoveScratchDir(dir);
}

TEST(DeviceUri, NamesTheProfilePortAFileOrAPortDescription) {
    DeviceTarget t;
    ASSERT_TRUE(ParseDeviceUri("pressel:profile", &t));
    EXPECT_EQ(t.kind, DeviceTarget::Kind::ProfilePort);
    ASSERT_TRUE(ParseDeviceUri("pressel:/dev/usb/lp0", &t));
    EXPECT_EQ(t.kind, DeviceTarget::Kind::File);
    EXPECT_EQ(t.value, "/dev/usb/lp0");
    ASSERT_TRUE(ParseDeviceUri("pressel:COM4:,115200,N,8,1,Y", &t));
    EXPECT_EQ(t.kind, DeviceTarget::Kind::Port);
    EXPECT_EQ(t.value, "COM4:,115200,N,8,1,Y");
    ASSERT_TRUE(ParseDeviceUri("pressel:/tmp/a%20b%25.prn", &t));
    EXPECT_EQ(t.value, "/tmp/a b%.prn");
    EXPECT_EQ(DeviceUriFor("/tmp/a b%.prn"), "pressel:/tmp/a%20b%25.prn");
    EXPECT_EQ(DeviceUriFor("KTSB,COM2:"), "pressel:KTSB,COM2:");
    for (const char* bad : {"file:///tmp/x", "pressel:", "pressel:%4", "pressel:%zz", "pressel:a%0Ab", "pressel"})
        EXPECT_FALSE(ParseDeviceUri(bad, &t)) << bad;
}

TEST(WorkerProtocol, FieldsAndMessagesArriveAsSent) {
    std::map<std::string, std::string> fields = {{"header", "Page {page}\tof ü"}, {"empty", ""}, {"format", "text"}};
    EXPECT_EQ(DecodeFields(EncodeFields(fields)), fields);
    EXPECT_TRUE(DecodeFields(std::string("key\0value", 9)).empty());  // cut off: dropped, not misread

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string rows(5000, '\x5A');
    ASSERT_TRUE(WriteMessage(fds[1], Msg::Rows, rows));
    ASSERT_TRUE(WriteMessage(fds[1], Msg::End, {}));
    Msg type;
    std::string payload;
    ASSERT_TRUE(ReadMessage(fds[0], &type, &payload));
    EXPECT_EQ(type, Msg::Rows);
    EXPECT_EQ(payload, rows);
    ASSERT_TRUE(ReadMessage(fds[0], &type, &payload));
    EXPECT_EQ(type, Msg::End);
    // A length above the limit is refused rather than allocated.
    std::string huge = "R";
    PutU32(&huge, kMaxPayload + 1);
    ASSERT_EQ(write(fds[1], huge.data(), huge.size()), 5);
    close(fds[1]);
    EXPECT_FALSE(ReadMessage(fds[0], &type, &payload));
    close(fds[0]);
}

TEST(HeaderText, ReplacesEachPlaceholder) {
    std::map<std::string, std::string> job = {{"job-id", "17"}, {"user", "anna"}, {"date", "2024-05-01"}};
    EXPECT_EQ(ExpandHeaderText("Job {job} by {user} on {date}, page {page} {page}", 3, job),
              "Job 17 by anna on 2024-05-01, page 3 3");
    EXPECT_EQ(ExpandHeaderText("{pages} {", 1, job), "{pages} {");
}

TEST(StateReasons, ConditionsMapToTheirReasons) {
    EXPECT_EQ(ReasonForCondition(222), PAPPL_PREASON_MEDIA_JAM);
    EXPECT_EQ(ReasonForCondition(223), PAPPL_PREASON_MEDIA_LOW);
    EXPECT_EQ(ReasonForCondition(229), PAPPL_PREASON_COVER_OPEN);
    for (long other : {224L, 228L, 300L, 301L, 121L, 210L, 221L}) EXPECT_EQ(ReasonForCondition(other), PAPPL_PREASON_OTHER);
    for (long none : {0L, 102L, 225L, 1080L}) EXPECT_EQ(ReasonForCondition(none), PAPPL_PREASON_NONE);
    EXPECT_EQ(ReasonsForConditions({222, 224, 228}), PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_OTHER);
    EXPECT_EQ(ReasonsForConditions({}), PAPPL_PREASON_NONE);
}

TEST(Catalogue, DriverKeywords) {
    EXPECT_EQ(DriverKeyword("Epson LX-350"), "epson-lx-350");
    EXPECT_EQ(DriverKeyword("  Über  Printer!! "), "ber-printer");
    EXPECT_EQ(DriverKeyword("--"), "printer");
}

class ProfileCopy : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_support::MakeScratchDir("copy");
        ref_.file = (dir_ / "p.ini").string();
        ref_.printer = "Till";
        std::ofstream(ref_.file) << "[Till]\nEntryName=T\nPortName=\nInitSeq=27,64\nCrLfSeq=10\nStartupCharCount=3\n"
                                    "StartupDelay=0\nGraphNumPins=8\n[PrinterPorts]\nT=COM1:,9600,N,8,1\n";
    }
    void TearDown() override { test_support::RemoveScratchDir(dir_); }

    PrinterSettings Load(const StartArgs& args, std::u16string* description, std::u16string* portName) {
        ProfileSource source;
        source.m_bUseRegistry = args.iniName.empty();
        source.m_bstrIniName = args.iniName.c_str();
        source.m_bstrIniFile = args.regPath.c_str();
        PrinterSettings s;
        LoadPrinterProfile(source, args.printer.c_str(), &s, description, portName);
        return s;
    }

    fs::path dir_;
    ProfileRef ref_;
};

TEST_F(ProfileCopy, TheProfilesOwnPortUsesTheProfileItself) {
    StartArgs args;
    std::string why;
    ASSERT_TRUE(PrepareProfile(ref_, "", "", false, dir_.string(), &args, &why));
    EXPECT_EQ(args.iniName, test_support::Wide(ref_.file));
    EXPECT_EQ(args.printer, u"Till");
    EXPECT_FALSE(fs::exists(dir_ / "profile.ini"));
}

TEST_F(ProfileCopy, AnotherPortKeepsEveryOtherKey) {
    StartArgs args;
    std::string why;
    ASSERT_TRUE(PrepareProfile(ref_, "KTSB,COM2:", "", false, dir_.string(), &args, &why)) << why;
    std::u16string description, portName;
    PrinterSettings s = Load(args, &description, &portName);
    EXPECT_EQ(description, u"KTSB,COM2:");
    EXPECT_EQ(portName, u"");
    EXPECT_EQ(s.m_seqInit.count, 2);
    EXPECT_EQ(s.m_lStartupCharCount, 3);
    EXPECT_EQ(s.m_lStartupDelay, 0);
    EXPECT_EQ(s.m_lPrintableLines, 56);  // missing: still the default
    EXPECT_EQ(s.m_seqFormFeed.count, 3);

    ASSERT_TRUE(PrepareProfile(ref_, "", "/tmp/out.prn", false, dir_.string(), &args, &why));
    Load(args, &description, &portName);
    EXPECT_EQ(portName, u"/tmp/out.prn");
    EXPECT_EQ(description, u"COM1:,9600,N,8,1");
}

TEST_F(ProfileCopy, RawDocumentsPassThroughUnchanged) {
    StartArgs args;
    std::string why;
    ASSERT_TRUE(PrepareProfile(ref_, "", "", true, dir_.string(), &args, &why));
    std::u16string description, portName;
    PrinterSettings s = Load(args, &description, &portName);
    EXPECT_EQ(description, u"COM1:,9600,N,8,1");
    EXPECT_EQ(s.m_bUnicode, 1);
    EXPECT_EQ(s.m_lPrintableLines, 0);
    EXPECT_EQ(s.m_lStartupCharCount, 0);
    for (const EscSeq* seq : {&s.m_seqInit, &s.m_seqNormalFont, &s.m_seqCrLf, &s.m_seqFormFeed})
        EXPECT_EQ(seq->count, 0);
    EXPECT_EQ(DecimalSequence(u"0x1B,E,,033"), u"27,69,27");
}

}  // namespace
}  // namespace printer_app
