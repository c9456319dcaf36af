// OutputDebugStringW: the device sends these lines to an attached debugger;
// here they go to standard error, unbuffered, so that they interleave with
// the program's own diagnostics in order.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/utf.h"
#include "win/base.h"

WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
    if (!lpOutputString) return;
    std::string text = platform::ToUtf8(lpOutputString);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to write: the line is dropped, as without a debugger
        p += n;
        left -= static_cast<size_t>(n);
    }
}
