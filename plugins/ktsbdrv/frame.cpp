#include "frame.h"

#include <algorithm>

namespace ktsb {

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t seq, std::uint8_t type, const std::uint8_t* payload,
                                      std::size_t size) {
    size = std::min(size, kMaxPayload);
    std::vector<std::uint8_t> frame;
    frame.reserve(size + kFrameOverhead);
    frame.push_back(kStx);
    frame.push_back(seq);
    frame.push_back(type);
    frame.push_back(static_cast<std::uint8_t>(size));
    if (size) frame.insert(frame.end(), payload, payload + size);
    std::uint16_t crc = Crc16(frame.data() + 1, frame.size() - 1);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(kEtx);
    return frame;
}

std::vector<std::uint8_t> EncodeReply(std::uint8_t seq, std::uint8_t type, const ReplyState& state) {
    const std::uint8_t payload[kReplyPayload] = {state.code, state.flags, state.busy};
    return EncodeFrame(seq, type, payload, sizeof payload);
}

ParseResult ParseFrame(const std::uint8_t* data, std::size_t size, Frame* frame, std::size_t* consumed) {
    *consumed = 0;
    if (size == 0) return ParseResult::kNeedMore;
    if (data[0] != kStx) {
        const std::uint8_t* next = std::find(data, data + size, kStx);
        *consumed = static_cast<std::size_t>(next - data);
        return ParseResult::kGarbage;
    }
    if (size < 4) return ParseResult::kNeedMore;
    std::size_t length = data[3];
    std::size_t total = length + kFrameOverhead;
    if (size < total) return ParseResult::kNeedMore;
    std::uint16_t crc = Crc16(data + 1, 3 + length);
    std::uint16_t sent = static_cast<std::uint16_t>((data[4 + length] << 8) | data[5 + length]);
    if (crc != sent || data[total - 1] != kEtx) {
        *consumed = 1;
        return ParseResult::kGarbage;
    }
    frame->seq = data[1];
    frame->type = data[2];
    frame->payload.assign(data + 4, data + 4 + length);
    *consumed = total;
    return ParseResult::kFrame;
}

bool DecodeReply(const Frame& frame, ReplyState* state) {
    if (frame.payload.size() < kReplyPayload) return false;
    state->code = frame.payload[0];
    state->flags = frame.payload[1];
    state->busy = frame.payload[2];
    return true;
}

}  // namespace ktsb
