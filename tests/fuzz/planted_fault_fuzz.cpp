// A fuzz target for testing the fuzz step itself: PLANTED_FAULT chooses what
// every input does (crash, leak, timeout, oom, ub; anything else: nothing).
// It is built only for that test and reaches no product code.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
char* volatile sink;
volatile int counter = INT_MAX;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t size) {
    static const char* const fault = std::getenv("PLANTED_FAULT");
    if (fault == nullptr) return 0;
    if (std::strcmp(fault, "crash") == 0) {
        sink = static_cast<char*>(std::malloc(size + 1));
        sink[size + 1] = 1;
    } else if (std::strcmp(fault, "leak") == 0) {
        sink = static_cast<char*>(std::malloc(64));
        sink = nullptr;
    } else if (std::strcmp(fault, "timeout") == 0) {
        for (;;) pause();
    } else if (std::strcmp(fault, "oom") == 0) {
        sink = static_cast<char*>(std::malloc(size_t{3} << 30));
    } else if (std::strcmp(fault, "ub") == 0) {
        counter = counter + static_cast<int>(size + 1);
    }
    return 0;
}
