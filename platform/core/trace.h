// Private to the platform layer: recording into the call trace.
#pragma once

#include <atomic>

#include "pressel/trace.h"

namespace platform {

extern std::atomic<bool> g_traceOn;

// printf-style; records one line such as "EscapeCommFunction(6)".
void TraceRecord(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform

#define PLATFORM_TRACE(...)                                                  \
    do {                                                                     \
        if (platform::g_traceOn.load(std::memory_order_relaxed))             \
            platform::TraceRecord(__VA_ARGS__);                              \
    } while (0)
