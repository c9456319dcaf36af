// The messages between the server and a print worker, over pipes: a type
// byte, a 32-bit little-endian length and the payload. The server sends the
// job and its document on the data pipe and a single byte on the cancel
// pipe to stop it; the worker reports on the event pipe.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace printer_app {

enum class Msg : uint8_t {
    // server to worker (data pipe)
    Job = 'J',        // the job description (EncodeFields)
    PageStart = 'P',  // u32 bytes per raster row, u32 dots per row
    Rows = 'R',       // whole raster rows of the current page, 1 bit per dot, 1 is a dot
    PageEnd = 'E',
    End = 'Z',        // the document is complete
    // worker to server (event pipe)
    Started = 'S',        // the job started: the port is open and its opening sequences went out
    Condition = 'C',      // u32 printer condition code, reported by the control
    ConditionOver = 'c',  // u32 code: output went through again after it
    Heartbeat = 'H',      // the worker's job is making progress
    PageDone = 'p',       // one more page went to the printer
    Done = 'D',           // u8 outcome (Outcome), u32 job reason code, then a message
};

enum class Outcome : uint8_t { Completed = 0, Cancelled = 1, Aborted = 2 };

// Why an aborted job stopped, for the job's state reasons.
enum class AbortReason : uint32_t { Printer = 0, Document = 1, Worker = 2 };

// Most copies of a document a job may ask for (copies-supported).
inline constexpr int kMaxCopies = 999;

// The worker program, found beside the server's, and its ends of the pipes.
inline constexpr const char* kWorkerProgram = "pressel-print-worker";
inline constexpr int kWorkerDataFd = 3;
inline constexpr int kWorkerCancelFd = 4;
inline constexpr int kWorkerEventFd = 5;

// Largest payload either side accepts: a page's rows go in pieces.
inline constexpr uint32_t kMaxPayload = 1u << 20;

// Writes one whole message; false when the pipe failed (EPIPE included).
bool WriteMessage(int fd, Msg type, std::string_view payload);

// Reads one whole message; false at end of file, on a read error or on a
// length above kMaxPayload.
bool ReadMessage(int fd, Msg* type, std::string* payload);

// Key/value fields of the job description, each key and value ended by a
// NUL byte; IPP strings hold no NUL, so nothing needs escaping.
std::string EncodeFields(const std::map<std::string, std::string>& fields);
std::map<std::string, std::string> DecodeFields(std::string_view payload);

// Little-endian 32-bit values inside payloads.
void PutU32(std::string* out, uint32_t value);
// The value at offset, 0 when the payload is too short.
uint32_t GetU32(std::string_view payload, size_t offset);

}  // namespace printer_app
