// Frames of the KTSB wire protocol: what the scanner accepts, waits for and
// throws away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugins/ktsbdrv/frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(uint8_t seq, uint8_t type, const std::string& payload) {
    return ktsb::EncodeFrame(seq, type, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

TEST(KtsbFrame, CrcIsCcittFalse) {
    const std::string check = "123456789";
    EXPECT_EQ(ktsb::Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x29B1);
}

TEST(KtsbFrame, LayoutAndRoundTrip) {
    Bytes frame = Encode(7, ktsb::kFrameData, "AB");
    ASSERT_EQ(frame.size(), 9u);
    EXPECT_EQ(frame[0], 0x02);
    EXPECT_EQ(frame[1], 7);
    EXPECT_EQ(frame[2], 'D');
    EXPECT_EQ(frame[3], 2);
    EXPECT_EQ(frame[8], 0x03);
    ktsb::Frame parsed;
    size_t consumed = 0;
    ASSERT_EQ(ktsb::ParseFrame(frame.data(), frame.size(), &parsed, &consumed), ktsb::ParseResult::kFrame);
    EXPECT_EQ(consumed, frame.size());
    EXPECT_EQ(parsed.seq, 7);
    EXPECT_EQ(std::string(parsed.payload.begin(), parsed.payload.end()), "AB");

    Bytes big(400, 0x55);
    EXPECT_EQ(ktsb::EncodeFrame(1, ktsb::kFrameData, big.data(), big.size()).size(), 255u + ktsb::kFrameOverhead);
}

TEST(KtsbFrame, DamagedTruncatedAndNoisyInput) {
    Bytes good = Encode(3, ktsb::kFrameAck, std::string("\x00\x40\x01", 3));
    auto damaged = [&](size_t index, uint8_t value) {
        Bytes b = good;
        b[index] = value;
        return b;
    };
    const struct {
        const char* name;
        Bytes input;
        ktsb::ParseResult result;
        size_t consumed;
    } cases[] = {
        {"empty", {}, ktsb::ParseResult::kNeedMore, 0},
        {"header only", Bytes(good.begin(), good.begin() + 3), ktsb::ParseResult::kNeedMore, 0},
        {"payload cut", Bytes(good.begin(), good.end() - 1), ktsb::ParseResult::kNeedMore, 0},
        {"noise before", Bytes{0x41, 0x42, 0x02}, ktsb::ParseResult::kGarbage, 2},
        {"noise only", Bytes{0xFF, 0x00}, ktsb::ParseResult::kGarbage, 2},
        {"payload bit flipped", damaged(5, 0x41), ktsb::ParseResult::kGarbage, 1},
        {"crc wrong", damaged(8, good[8] ^ 1), ktsb::ParseResult::kGarbage, 1},
        {"no ETX", damaged(9, 0x04), ktsb::ParseResult::kGarbage, 1},
        {"length wrong", damaged(3, 2), ktsb::ParseResult::kGarbage, 1},
    };
    for (const auto& c : cases) {
        ktsb::Frame frame;
        size_t consumed = 99;
        EXPECT_EQ(ktsb::ParseFrame(c.input.data(), c.input.size(), &frame, &consumed), c.result) << c.name;
        EXPECT_EQ(consumed, c.consumed) << c.name;
    }
}

TEST(KtsbFrame, FrameInsideADamagedOneIsFound) {
    Bytes inner = Encode(9, ktsb::kFrameNak, std::string("\x79\x00\x00", 3));
    Bytes stream = {0x02, 0x01, 'D', 0x20};  // claims 32 bytes that never come
    stream.insert(stream.end(), inner.begin(), inner.end());
    stream.resize(stream.size() + 30, 0x00);
    size_t offset = 0;
    ktsb::Frame frame;
    for (;;) {
        size_t consumed = 0;
        auto result = ktsb::ParseFrame(stream.data() + offset, stream.size() - offset, &frame, &consumed);
        ASSERT_NE(result, ktsb::ParseResult::kNeedMore);
        offset += consumed;
        if (result == ktsb::ParseResult::kFrame) break;
    }
    ktsb::ReplyState reply;
    ASSERT_TRUE(ktsb::DecodeReply(frame, &reply));
    EXPECT_EQ(frame.seq, 9);
    EXPECT_EQ(reply.code, 0x79);
}

}  // namespace
