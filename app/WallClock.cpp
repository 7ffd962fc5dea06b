#include "app/WallClock.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<int32_t (*)()> g_clock{nullptr};
}

int32_t wallClockSeconds() {
    if (int32_t (*clock)() = g_clock.load()) return clock();
    return static_cast<int32_t>(std::time(nullptr));
}

void setWallClock(int32_t (*clock)()) { g_clock.store(clock); }
