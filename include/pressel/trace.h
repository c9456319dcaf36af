// Call trace of the platform layer, for tests that check the order of calls
// (line-control calls, dispositions tried). Off by default; when off, a
// traced call costs one relaxed atomic load.
#pragma once

#include <string>
#include <vector>

#define PRESSEL_TRACE_API __attribute__((visibility("default")))

namespace pressel_trace {

// Starts (clearing what was recorded) or stops recording.
PRESSEL_TRACE_API void Enable(bool on);
// Returns the calls recorded since Enable(true) or the last Take, and clears them.
PRESSEL_TRACE_API std::vector<std::string> Take();

}  // namespace pressel_trace
