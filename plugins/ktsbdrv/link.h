// The driver's side of the KTSB wire protocol: one serial line to one
// printer, stop-and-wait with sequence numbers (PROTOCOL.md). Private to
// the driver.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "frame.h"
#include "ktsbdrv.h"
#include "win/serial.h"
#include "win/types.h"

namespace ktsb {

class Link {
public:
    explicit Link(std::u16string port) : port_(std::move(port)) {}
    ~Link() { Close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens and sets up the serial port; false with the last error of
    // CreateFileW when it cannot be opened.
    bool Open();
    void Close();

    // Sends the bytes as data frames; returns the count the printer
    // acknowledged, (DWORD)-1 before a bind. The status word tells the rest.
    DWORD Write(const BYTE* bytes, DWORD count);
    // The handshake; the outcome is in the status word. False only when the
    // line itself fails.
    BOOL Bind();
    // Makes the printer drop what it holds; stops a write in progress.
    BOOL Cancel();
    // Fills the 6-byte query answer; false (output zeroed) when the printer
    // does not answer, and the status word then reports the lost link.
    BOOL Query(BYTE out[6]);
    WORD Status() const { return status_.load(); }
    // A read-total constant other than 0 and MAXDWORD becomes the reply
    // timeout (the printer's part of it).
    void SetTimeouts(const COMMTIMEOUTS& timeouts);

private:
    enum class Outcome { kAck, kNak, kNoAnswer, kLineFault };

    // Sends one frame and waits for the ACK or NAK with its sequence number.
    Outcome Exchange(BYTE type, BYTE seq, const BYTE* payload, size_t size, ReplyState* reply);
    // Reads from the line until a reply for seq arrives or the deadline passes.
    Outcome AwaitReply(BYTE seq, std::chrono::steady_clock::time_point deadline, ReplyState* reply);
    // Exchange repeated over transmission faults (for frames that carry no data).
    Outcome ExchangeRetrying(BYTE type, ReplyState* reply);
    void NoteRetry();

    std::u16string port_;
    HANDLE serial_ = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
    std::mutex line_;  // one exchange at a time
    std::vector<BYTE> rx_;
    std::atomic<WORD> status_{0};
    std::atomic<bool> abort_{false};
    std::atomic<DWORD> replyTimeoutMs_{kDefaultReplyTimeoutMs};
    DWORD baud_ = 9600;
    bool bound_ = false;
    BYTE seq_ = 1;        // of the next data frame
    int failures_ = 0;    // transmission faults in a row
    WORD retries_ = 0;    // frames sent again since the bind
    BYTE lastCode_ = 0;
    // A write cut short: the caller repeats it, and the frames the printer
    // already acknowledged are not sent again.
    struct Pending {
        bool active = false;
        std::vector<BYTE> bytes;
        size_t acknowledged = 0;
    } pending_;

public:
    // The printer's time to answer, on top of the time the frame takes on
    // the line at the port's rate.
    static constexpr DWORD kDefaultReplyTimeoutMs = 500;
    static constexpr int kMaxFailures = kMaxLineFaults;
    // Pause before reporting a refusal, so that a caller repeating at once
    // does not spin on the line.
    static constexpr DWORD kRefusalPauseMs = 50;
    // Pause after a busy answer to a query, for callers that poll at once.
    static constexpr DWORD kBusyPauseMs = 20;
};

}  // namespace ktsb
