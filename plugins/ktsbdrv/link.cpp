#include "link.h"

#include <algorithm>
#include <thread>

#include "ktsbdrv.h"
#include "win/base.h"
#include "win/errors.h"

namespace ktsb {
namespace {

const HANDLE kNoHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
constexpr DWORD kWriteTimeoutMs = 2000;
constexpr size_t kReadChunk = 256;

BYTE Next(BYTE seq) { return static_cast<BYTE>(seq == 255 ? 1 : seq + 1); }  // 0 belongs to the bind

}  // namespace

bool Link::Open() {
    std::lock_guard lock(line_);
    if (serial_ != kNoHandle) return true;
    HANDLE h = CreateFileW(port_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // Binary frames: eight data bits, no parity, no software flow control.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(h, &dcb)) {
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        SetCommState(h, &dcb);
        if (dcb.BaudRate) baud_ = dcb.BaudRate;
    }
    serial_ = h;
    rx_.clear();
    bound_ = false;
    status_ = 0;
    return true;
}

void Link::Close() {
    std::lock_guard lock(line_);
    if (serial_ == kNoHandle) return;
    CloseHandle(serial_);
    serial_ = kNoHandle;
    bound_ = false;
    pending_ = {};
}

void Link::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    DWORD constant = timeouts.ReadTotalTimeoutConstant;
    replyTimeoutMs_ = (constant == 0 || constant == MAXDWORD) ? kDefaultReplyTimeoutMs : constant;
}

Link::Outcome Link::AwaitReply(BYTE seq, std::chrono::steady_clock::time_point deadline, ReplyState* reply) {
    for (;;) {
        // Replies to other frames (late ones, echoes of noise) are dropped.
        for (;;) {
            Frame frame;
            size_t consumed = 0;
            ParseResult result = ParseFrame(rx_.data(), rx_.size(), &frame, &consumed);
            if (result == ParseResult::kNeedMore) break;
            rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(consumed));
            if (result == ParseResult::kFrame && frame.seq == seq &&
                (frame.type == kFrameAck || frame.type == kFrameNak) && DecodeReply(frame, reply))
                return frame.type == kFrameAck ? Outcome::kAck : Outcome::kNak;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Outcome::kNoAnswer;
        // Return with whatever has arrived, or after the time left.
        COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, static_cast<DWORD>(left.count()), 0, kWriteTimeoutMs};
        SetCommTimeouts(serial_, &timeouts);
        BYTE buffer[kReadChunk];
        DWORD got = 0;
        if (!ReadFile(serial_, buffer, sizeof buffer, &got, nullptr)) return Outcome::kLineFault;
        rx_.insert(rx_.end(), buffer, buffer + got);
    }
}

Link::Outcome Link::Exchange(BYTE type, BYTE seq, const BYTE* payload, size_t size, ReplyState* reply) {
    if (serial_ == kNoHandle) return Outcome::kLineFault;
    std::vector<BYTE> frame = EncodeFrame(seq, type, payload, size);
    DWORD written = 0;
    if (!WriteFile(serial_, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr) ||
        written != frame.size())
        return Outcome::kLineFault;
    // Ten bits a byte on the line, for the frame out and the answer back.
    DWORD lineMs = static_cast<DWORD>((frame.size() + kFrameOverhead + kReplyPayload) * 10 * 1000 / baud_) + 1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs_.load() + lineMs);
    Outcome outcome = AwaitReply(seq, deadline, reply);
    if (outcome == Outcome::kAck || outcome == Outcome::kNak) lastCode_ = reply->code;
    return outcome;
}

void Link::NoteRetry() {
    ++failures_;
    if (retries_ < 0xFFFF) ++retries_;
}

// A NAK without a code is a damaged frame: sending it again is the cure.
Link::Outcome Link::ExchangeRetrying(BYTE type, ReplyState* reply) {
    Outcome outcome = Outcome::kNoAnswer;
    for (int attempt = 0; attempt < kMaxFailures; ++attempt) {
        outcome = Exchange(type, seq_, nullptr, 0, reply);
        if (outcome == Outcome::kAck || outcome == Outcome::kLineFault) break;
        if (outcome == Outcome::kNak && reply->code != 0) break;
        NoteRetry();
    }
    return outcome;
}

BOOL Link::Bind() {
    std::lock_guard lock(line_);
    ReplyState reply;
    Outcome outcome = Exchange(kFrameBind, 0, nullptr, 0, &reply);
    switch (outcome) {
        case Outcome::kAck:
            bound_ = true;
            seq_ = 1;
            failures_ = 0;
            retries_ = 0;
            pending_ = {};
            status_ = reply.code;
            return TRUE;
        case Outcome::kNak:
        case Outcome::kNoAnswer:
            bound_ = false;
            status_ = (outcome == Outcome::kNak && reply.code) ? reply.code : kCodeNoHandshake;
            Sleep(kRefusalPauseMs);
            return TRUE;
        case Outcome::kLineFault: break;
    }
    bound_ = false;
    status_ = kCodeLineFault;
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

DWORD Link::Write(const BYTE* bytes, DWORD count) {
    std::lock_guard lock(line_);
    if (!bound_) {
        status_ = kCodeNotBound;
        SetLastError(ERROR_NOT_READY);
        return static_cast<DWORD>(-1);
    }
    size_t offset = 0;
    if (pending_.active) {
        if (pending_.bytes.size() == count && std::equal(bytes, bytes + count, pending_.bytes.begin())) {
            offset = pending_.acknowledged;  // the repeat: the unanswered frame goes again, same number
        } else {
            seq_ = Next(seq_);  // other data: the unanswered frame is given up
        }
        pending_ = {};
    }
    WORD status = 0;
    while (offset < count) {
        if (abort_) break;  // a cancel drops the rest
        size_t size = std::min<size_t>(count - offset, kMaxPayload);
        ReplyState reply;
        Outcome outcome = Exchange(kFrameData, seq_, bytes + offset, size, &reply);
        if (outcome == Outcome::kAck) {
            failures_ = 0;
            offset += size;
            seq_ = Next(seq_);
            // Accepted with a condition: reported, and the rest still goes.
            if (reply.code) status = reply.code;
            continue;
        }
        if (outcome == Outcome::kLineFault) {
            status = kCodeLineFault;
            break;
        }
        if (outcome == Outcome::kNak && reply.code != 0) {
            // Refused for a printer condition: the caller decides whether to go on.
            status = static_cast<WORD>(kStatusRepeat | reply.code);
            Sleep(kRefusalPauseMs);
        } else {
            NoteRetry();
            status = failures_ >= kMaxFailures ? kCodeLinkLost : kStatusRepeat;
        }
        if (status & kStatusRepeat) pending_ = {true, std::vector<BYTE>(bytes, bytes + count), offset};
        break;
    }
    status_ = status;
    return static_cast<DWORD>(offset);
}

BOOL Link::Cancel() {
    abort_ = true;
    std::lock_guard lock(line_);
    abort_ = false;
    pending_ = {};
    ReplyState reply;
    Outcome outcome = ExchangeRetrying(kFrameCancel, &reply);
    if (outcome == Outcome::kAck) {
        failures_ = 0;
        status_ = reply.code;
        return TRUE;
    }
    if (outcome == Outcome::kLineFault) {
        status_ = kCodeLineFault;
        SetLastError(ERROR_WRITE_FAULT);
    } else {
        status_ = outcome == Outcome::kNak ? reply.code : kCodeLinkLost;
        SetLastError(ERROR_TIMEOUT);
    }
    return FALSE;
}

BOOL Link::Query(BYTE out[6]) {
    std::fill(out, out + kQueryOutSize, BYTE{0});
    std::lock_guard lock(line_);
    ReplyState reply;
    Outcome outcome = ExchangeRetrying(kFrameQuery, &reply);
    if (outcome == Outcome::kAck || (outcome == Outcome::kNak && reply.code != 0)) {
        failures_ = 0;
        out[kQueryEcho] = kQuerySelector;
        out[kQueryBusy] = static_cast<BYTE>(reply.busy & kBusyMask);
        out[kQueryFlags] = reply.flags;
        out[kQueryCode] = reply.code;
        out[kQueryRetries] = static_cast<BYTE>(retries_ & 0xFF);
        out[kQueryRetries + 1] = static_cast<BYTE>(retries_ >> 8);
        if (out[kQueryBusy]) Sleep(kBusyPauseMs);
        return TRUE;
    }
    status_ = outcome == Outcome::kLineFault ? kCodeLineFault : kCodeLinkLost;
    SetLastError(outcome == Outcome::kLineFault ? ERROR_WRITE_FAULT : ERROR_TIMEOUT);
    return FALSE;
}

}  // namespace ktsb
