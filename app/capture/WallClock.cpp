#include "app/capture/WallClock.h"

#include <atomic>
#include <ctime>

#include "platform/kernel.h"
#include "platform/user.h"

namespace {
std::atomic<int32_t (*)()> g_clock{nullptr};
}

int32_t wallClockSeconds() {
    if (int32_t (*clock)() = g_clock.load()) return clock();
    return static_cast<int32_t>(std::time(nullptr));
}

void setWallClock(int32_t (*clock)()) { g_clock.store(clock); }

bool readSystemIdleClock(DWORD& now, DWORD& lastInput) {
    now = GetTickCount();
    LASTINPUTINFO info;
    info.cbSize = sizeof(info);
    info.dwTime = 0;
    if (!GetLastInputInfo(&info)) return false;
    lastInput = info.dwTime;
    return true;
}
