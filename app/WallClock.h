#pragma once
// The whole-second clock (`time`) of the near-miss window and the presence check's three-second
// rule. Tests replace it to step through the seconds.
#include <cstdint>

int32_t wallClockSeconds();
// Null restores the system clock.
void setWallClock(int32_t (*clock)());
