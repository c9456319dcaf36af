#include <gtest/gtest.h>

#include <chrono>

#include "win/base.h"

namespace {

TEST(Timing, SleepLastsAtLeastItsTimeAndTickCountFollows) {
    for (DWORD ms : {0u, 1u, 25u}) {
        auto start = std::chrono::steady_clock::now();
        DWORD ticks = GetTickCount();
        Sleep(ms);
        auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(ms));
        // The tick count may trail the clock by one rounding step.
        EXPECT_GE(GetTickCount() - ticks + 1, ms);
    }
}

}  // namespace
