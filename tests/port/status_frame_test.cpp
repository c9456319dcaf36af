// Status frames as the printer sends them: collecting and parsing.
#include <gtest/gtest.h>

#include <string>

#include "port/Port.h"

namespace {

struct FrameCase {
    const char* bytes;  // what the printer sends, then silence
    BOOL ok;
    LONG state;
    LONG code;
};

const FrameCase kFrames[] = {
    {"{ST!P:N;B:V}", 1, 1080, 224},  // the later non-fatal field wins
    {"{ST!B:V;P:N}", 1, 1080, 223},
    {"{ST!H:T;P:N}", 1, 1, 228},  // P does not replace a fatal code
    {"{ST!H:T;J:J}", 1, 1, 222},  // a later fatal code does
    {"{ST!E:N}", 1, 4, 0},
    {"{ST!E:X}", 1, 1, 301},
    {"{ST!L:U}", 1, 1, 229},
    {"{ST!S:T}", 1, 1, 300},
    {"{ST!S:K}", 1, 1, 301},
    {"{ST!S:OK}", 1, 1, 301},
    {"{ST!S:C}", 1, 2, 0},
    {"{ST!S:I}", 1, 3, 0},
    {"{ST!S:I;B:V}", 1, 1080, 224},  // a code outranks the sub-state
    {"{ST!B:X;Q:Z}", 1, 4, 0},        // unknown values and keys are ignored
    {"{ST!B:Value;P:No}", 1, 1080, 223},
    // Skipped and restarted frames.
    {"xx}garbage{ST!B:V}", 1, 1080, 224},
    {"{ST!S:{ST!H:T}", 1, 1, 228},
    {"{XY}{ST!S:C}", 1, 2, 0},       // short frames are skipped
    {"{XYZ!B:V}{ST!S:C}", 1, 2, 0},  // so are frames of other kinds
    {"{ST!}", 1, 0, 0},              // too short, then nothing: no frame
    // No frame at all.
    {"", 1, 0, 0},
    {"garbage only", 1, 0, 0},
    {"{ST!B:V", 1, 0, 0},  // cut off by silence
    // Malformed status frames.
    {"{ST!BV;P}", 0, 0, 0},
    {"{ST!B:V;}", 0, 0, 0},
    {"{ST!B:V;P:}", 0, 0, 0},
    {"{ST!B:V;PP:N}", 0, 0, 0},
    {"{ST!ABCD}", 0, 0, 0},
};

BOOL ReadFrom(const std::string& bytes, LONG* state, LONG* code, bool failAtEnd = false) {
    size_t at = 0;
    return port::ReadStatusFrameFrom(
        [&]() -> int {
            if (at < bytes.size()) return static_cast<unsigned char>(bytes[at++]);
            return failAtEnd ? port::kReadFailed : port::kNoByte;
        },
        state, code);
}

TEST(StatusFrame, ReadsStateAndCode) {
    for (const FrameCase& c : kFrames) {
        SCOPED_TRACE(c.bytes);
        LONG state = -7, code = -7;
        EXPECT_EQ(ReadFrom(c.bytes, &state, &code), c.ok);
        EXPECT_EQ(state, c.state);
        EXPECT_EQ(code, c.code);
    }
}

TEST(StatusFrame, FailedReadFails) {
    LONG state, code;
    EXPECT_EQ(ReadFrom("{ST!B:V", &state, &code, true), 0);
    // A complete frame is read before the failure would come.
    EXPECT_EQ(ReadFrom("{ST!B:V}", &state, &code, true), 1);
    EXPECT_EQ(code, 224);
}

TEST(StatusFrame, CollectsAtMost128Bytes) {
    // 128 bytes without a closing brace end the frame: not a status frame.
    std::string longFrame = "{ST!B:V;" + std::string(200, 'x') + "}";
    LONG state, code;
    size_t consumed = 0;
    BOOL ok = port::ReadStatusFrameFrom(
        [&]() -> int { return consumed < longFrame.size() ? static_cast<unsigned char>(longFrame[consumed++]) : -1; },
        &state, &code);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(consumed, 128u);
}

TEST(StatusFrame, EndlessSkippableFramesDoNotHoldTheCaller) {
    const std::string frame = "{NOT-STATUS}";
    size_t at = 0;
    LONG state, code;
    EXPECT_EQ(port::ReadStatusFrameFrom([&]() -> int { return static_cast<unsigned char>(frame[at++ % frame.size()]); },
                                        &state, &code),
              1);
    EXPECT_EQ(state, 0);
}

}  // namespace
