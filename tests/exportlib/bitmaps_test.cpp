// BMPComputeSize, BMPGetBits and BMPDelete: sizes, the held array's life,
// and the same bytes as the conversion the control uses.
#include <string>
#include <thread>
#include <vector>

#include "bitmap/PrintableBitmap.h"
#include "ondrel_fixture.h"

namespace {

std::u16string TestBitmap(const char* name) {
    std::string path = std::string(PRESSEL_TESTDATA_DIR "/bmpsuite/g/") + name;
    return std::u16string(path.begin(), path.end());
}

class OndrelBitmapTest : public OndrelTest {
protected:
    void TearDown() override {
        if (lib_.loaded()) fn.BMPDelete();
    }
    std::u16string file_ = TestBitmap("pal1.bmp");
};

TEST_F(OndrelBitmapTest, SizesOfBothLayouts) {
    struct Case {
        int height, width, line, layout, rotation, offset, size;
    };
    const Case cases[] = {
        {48, 384, 384, 1, 0, 0, 3072},   // 8 bands of 384
        {48, 384, 384, 2, 0, 0, 2304},   // 48 rows of 48 bytes
        {24, 100, 384, 8, 90, 10, 1536}, // band count rounds up to 32 rows
        {10, 20, 200, 2, 180, 0, 250},
        {48, 384, 384, 1, 45, 0, -1},    // no such rotation
        {0, 384, 384, 1, 0, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fn.BMPComputeSize(c.height, c.width, c.line, file_.c_str(), c.layout, c.rotation, c.offset), c.size)
            << c.height << "x" << c.line << " layout " << c.layout << " rotation " << c.rotation;
    }
    EXPECT_EQ(fn.BMPComputeSize(48, 384, 384, nullptr, 1, 0, 0), -1);
    EXPECT_EQ(fn.BMPDelete(), -1);
}

TEST_F(OndrelBitmapTest, HeldArrayLife) {
    std::vector<BYTE> buf(4096, 0xAA);
    EXPECT_EQ(fn.BMPGetBits(buf.data()), -1);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(fn.BMPDelete(), -1);

    // A second conversion replaces the first, and its bytes are delivered.
    ASSERT_EQ(fn.BMPComputeSize(48, 384, 384, file_.c_str(), 1, 0, 0), 3072);
    ASSERT_EQ(fn.BMPComputeSize(48, 384, 384, file_.c_str(), 2, 0, 0), 2304);
    EXPECT_EQ(fn.BMPGetBits(nullptr), -1);  // a null buffer keeps the array
    EXPECT_EQ(fn.BMPGetBits(buf.data()), 2304);
    EXPECT_EQ(buf[2304], 0xAA);
    LONG size = 0;
    BYTE* direct = GetPrintableBitmap(48, 384, 384, file_.c_str(), 2, 0, 0, &size);
    ASSERT_NE(direct, nullptr);
    ASSERT_EQ(size, 2304);
    EXPECT_TRUE(std::equal(direct, direct + size, buf.begin()));
    FreePrintableBitmap(direct);
    EXPECT_EQ(fn.BMPGetBits(buf.data()), -1);

    // A failed conversion discards what was held.
    ASSERT_EQ(fn.BMPComputeSize(48, 384, 384, file_.c_str(), 1, 0, 0), 3072);
    std::u16string missing = TestBitmap("no-such-file.bmp");
    EXPECT_EQ(fn.BMPComputeSize(48, 384, 384, missing.c_str(), 1, 0, 0), -1);
    EXPECT_EQ(fn.BMPGetBits(buf.data()), -1);

    ASSERT_EQ(fn.BMPComputeSize(48, 384, 384, file_.c_str(), 1, 0, 0), 3072);
    EXPECT_EQ(fn.BMPDelete(), 3072);
    EXPECT_EQ(fn.BMPDelete(), -1);
}

TEST_F(OndrelBitmapTest, ThreadEndKeepsTheHeldArray) {
    ASSERT_EQ(fn.BMPComputeSize(48, 384, 384, file_.c_str(), 1, 0, 0), 3072);
    std::thread([] {}).join();
    std::vector<BYTE> buf(3072);
    EXPECT_EQ(fn.BMPGetBits(buf.data()), 3072);
}

TEST_F(OndrelBitmapTest, UnloadingReleasesTheHeldArray) {
    ASSERT_EQ(fn.BMPComputeSize(48, 384, 384, file_.c_str(), 1, 0, 0), 3072);
    // The leak checker of the sanitizer build reports the array if the
    // unload left it behind.
    EXPECT_TRUE(lib_.Unload());
}

}  // namespace
