#pragma once
// The clocks the program reads: the whole-second clock (`time`) of the near-miss window and the presence check's three-second
// rule. Tests replace it to step through the seconds.
#include <cstdint>

#include "platform/windows_types.h"

int32_t wallClockSeconds();
// Null restores the system clock.
void setWallClock(int32_t (*clock)());

// The tick count and the tick of the last user input, from the system; false when the input time
// is unknown.
bool readSystemIdleClock(DWORD& now, DWORD& lastInput);
