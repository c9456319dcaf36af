#include "core/trace.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace platform {

std::atomic<bool> g_traceOn{false};

namespace {
std::mutex g_traceMutex;
std::vector<std::string>& Lines() {
    static auto* lines = new std::vector<std::string>;
    return *lines;
}
}  // namespace

void TraceRecord(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard lock(g_traceMutex);
    Lines().emplace_back(line);
}

}  // namespace platform

namespace pressel_trace {

void Enable(bool on) {
    std::lock_guard lock(platform::g_traceMutex);
    platform::Lines().clear();
    platform::g_traceOn.store(on);
}

std::vector<std::string> Take() {
    std::lock_guard lock(platform::g_traceMutex);
    std::vector<std::string> out;
    out.swap(platform::Lines());
    return out;
}

}  // namespace pressel_trace
