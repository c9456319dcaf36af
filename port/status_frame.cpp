// Status frames: collecting them byte by byte and reading their fields.
// Pure functions of the bytes, so that they can be fuzzed without a port.
#include <cstring>

#include "port/Port.h"

namespace port {
namespace {

constexpr size_t kFrameMax = 128;
constexpr size_t kFrameMin = 8;
constexpr char kStatusPrefix[] = "{ST!";
constexpr size_t kPrefixLen = 4;
constexpr size_t kFieldMin = 4;  // key, ':', one value character, terminator

// A printer that keeps sending frames that are not status frames must not
// hold the caller for ever: after this many in one read, report no frame.
constexpr int kMaxSkippedFrames = 256;

struct FrameFields {
    LONG lCode = 0;
    LONG lSubState = 0;
    bool bFatal = false;
};

void SetFatal(FrameFields& f, LONG lCode) {
    f.lCode = lCode;
    f.bFatal = true;
}

// Later fields replace the code; B and P only while nothing fatal was seen.
void ApplyField(FrameFields& f, BYTE key, BYTE value) {
    switch (key) {
        case 'B': if (value == 'V' && !f.bFatal) f.lCode = 224; break;
        case 'E': if (value != 'N') SetFatal(f, 301); break;
        case 'H': if (value == 'T') SetFatal(f, 228); break;
        case 'J': if (value == 'J') SetFatal(f, 222); break;
        case 'L': if (value == 'U') SetFatal(f, 229); break;
        case 'P': if (value == 'N' && !f.bFatal) f.lCode = 223; break;
        case 'S':
            if (value == 'T') SetFatal(f, 300);
            else if (value == 'K' || value == 'O') SetFatal(f, 301);
            else if (value == 'I') f.lSubState = kStateIdle;
            else if (value == 'C') f.lSubState = kStateDone;
            break;
        default: break;
    }
}

}  // namespace

FrameVerdict ParseStatusFrame(const BYTE* pFrame, size_t cbFrame, LONG* plState, LONG* plCode) {
    *plState = kStateNoFrame;
    *plCode = 0;
    if (cbFrame == 0 || pFrame[0] != '{' || pFrame[cbFrame - 1] != '}') return FrameVerdict::kNoFrame;
    if (cbFrame < kFrameMin || std::memcmp(pFrame, kStatusPrefix, kPrefixLen) != 0) return FrameVerdict::kSkip;

    const BYTE* p = pFrame + kPrefixLen;
    const BYTE* end = pFrame + cbFrame;
    if (static_cast<size_t>(end - p) < kFieldMin) return FrameVerdict::kMalformed;
    FrameFields fields;
    for (;;) {
        if (p[1] != ':') return FrameVerdict::kMalformed;
        const BYTE* stop = p + 2;
        while (stop < end && *stop != ';' && *stop != '}') ++stop;
        if (stop == end) return FrameVerdict::kMalformed;
        // Only the first character of the value counts (the terminator when
        // the value is empty).
        ApplyField(fields, p[0], p[2]);
        if (*stop == '}') break;
        p = stop + 1;
        if (static_cast<size_t>(end - p) < kFieldMin) return FrameVerdict::kMalformed;
    }

    *plCode = fields.lCode;
    if (fields.bFatal) *plState = kStateFatal;
    else if (fields.lCode != 0) *plState = kStateCondition;
    else if (fields.lSubState != 0) *plState = fields.lSubState;
    else *plState = kStatePlain;
    return FrameVerdict::kStatus;
}

BOOL ReadStatusFrameFrom(const ByteSource& source, LONG* plState, LONG* plCode) {
    *plState = kStateNoFrame;
    *plCode = 0;
    for (int skipped = 0; skipped < kMaxSkippedFrames; ++skipped) {
        BYTE frame[kFrameMax];
        size_t n = 0;
        while (n < kFrameMax) {
            int b = source();
            if (b == kReadFailed) return 0;
            if (b == kNoByte) break;
            if (b == '{') {
                frame[0] = '{';
                n = 1;
                continue;
            }
            frame[n++] = static_cast<BYTE>(b);
            if (b == '}' && frame[0] == '{') break;
        }
        switch (ParseStatusFrame(frame, n, plState, plCode)) {
            case FrameVerdict::kNoFrame: return 1;
            case FrameVerdict::kStatus: return 1;
            case FrameVerdict::kMalformed: return 0;
            case FrameVerdict::kSkip: break;
        }
    }
    *plState = kStateNoFrame;
    *plCode = 0;
    return 1;
}

}  // namespace port
