// Port transport operations that read no control fields (private to the
// control library). The member operations (OpenPort, WritePort, ClosePort,
// the status requests) are declared in control/Pressel.h.
#pragma once

#include <cstddef>
#include <functional>

#include "win/serial.h"
#include "win/types.h"

namespace port {

// Read-write flag of the serial settings (Y or y anywhere in them); fills
// the DCB from the tokens that follow the port token in the tokenizer that
// OpenPort started, when a DCB is given.
BOOL ParseCommSettings(const WCHAR* pszSettings, DCB* pDcb);

// Loads "farsend.dll" if it is not loaded (else the substitutes stay).
void LoadPortDriver();
// Unloads it unless an open channel still uses it.
void UnloadPortDriver();
// A channel a control keeps open through the library, and its end.
void AddPortDriverUser();
void ReleasePortDriverUser();

// Status frames sent by printers on read-write ports.
constexpr LONG kStateNoFrame = 0;
constexpr LONG kStateFatal = 1;
constexpr LONG kStateDone = 2;
constexpr LONG kStateIdle = 3;
constexpr LONG kStatePlain = 4;
constexpr LONG kStateCondition = 1080;

// One byte from the port: the byte, kNoByte when the read timed out, or
// kReadFailed.
constexpr int kNoByte = -1;
constexpr int kReadFailed = -2;
using ByteSource = std::function<int()>;

// What the frame parser makes of one collected frame.
enum class FrameVerdict {
    kNoFrame,    // nothing, or not enclosed in braces: no status this time
    kSkip,       // a frame but not a status frame: collect the next one
    kStatus,     // state and code are set
    kMalformed,  // a status frame whose fields break the rules
};

// Pure parser of one collected frame (at most 128 bytes).
FrameVerdict ParseStatusFrame(const BYTE* pFrame, size_t cbFrame, LONG* plState, LONG* plCode);

// ReadStatusFrame over any byte source: collects frames and parses them.
BOOL ReadStatusFrameFrom(const ByteSource& source, LONG* plState, LONG* plCode);

BOOL ReadStatusFrame(LONG hPort, LONG* plState, LONG* plCode);
BOOL PollPrinterStatus(LONG hPort, LONG* plState, LONG* plCode);

}  // namespace port
