// Frames of the KTSB wire protocol (PROTOCOL.md): building them and finding
// them in a byte stream. Pure functions, shared by the driver and the
// printer peer of the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktsb {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
// STX, sequence, type, length, CRC (2), ETX.
constexpr std::size_t kFrameOverhead = 7;
constexpr std::size_t kMaxPayload = 255;

enum FrameType : std::uint8_t {
    kFrameBind = 'B',
    kFrameData = 'D',
    kFrameQuery = 'Q',
    kFrameCancel = 'C',
    kFrameAck = 0x06,
    kFrameNak = 0x15,
};

// The printer's answer: every ACK and NAK carries these three bytes.
struct ReplyState {
    std::uint8_t code = 0;   // condition code, 0 none
    std::uint8_t flags = 0;  // condition flags
    std::uint8_t busy = 0;   // busy bits (low nibble)
};
constexpr std::size_t kReplyPayload = 3;

struct Frame {
    std::uint8_t seq = 0;
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;
};

// CRC-16/CCITT (polynomial 0x1021, initial value 0xFFFF, no reflection).
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0xFFFF);

// The frame's bytes; size must not exceed kMaxPayload (the excess is cut).
std::vector<std::uint8_t> EncodeFrame(std::uint8_t seq, std::uint8_t type, const std::uint8_t* payload,
                                      std::size_t size);
std::vector<std::uint8_t> EncodeReply(std::uint8_t seq, std::uint8_t type, const ReplyState& state);

enum class ParseResult {
    kFrame,     // a checked frame is at the start; *consumed is its length
    kNeedMore,  // the start may become a frame when more bytes arrive
    kGarbage,   // the first *consumed bytes can never start a frame: drop them
};

// Looks at the start of data. A frame whose checks fail costs only its STX,
// so that a frame starting inside it is still found.
ParseResult ParseFrame(const std::uint8_t* data, std::size_t size, Frame* frame, std::size_t* consumed);

// The reply fields of an ACK/NAK payload; false when it is too short.
bool DecodeReply(const Frame& frame, ReplyState* state);

}  // namespace ktsb
