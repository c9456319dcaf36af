// Sleep and GetTickCount over the monotonic clock.
#include <sched.h>

#include <cerrno>
#include <ctime>

#include "win/base.h"

WINBASEAPI void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();  // as on the device: give up the rest of the time slice
        return;
    }
    // An absolute deadline, so that signals interrupting the sleep neither
    // shorten it nor make it drift.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += dwMilliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

WINBASEAPI DWORD WINAPI GetTickCount(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Wraps after 49.7 days, as on the device.
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
