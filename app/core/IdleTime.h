#pragma once
// The time since the user's last input, as the tray's and the unlock screen's idle timers read it.
#include <functional>

#include "app/core/SessionGuardCore.h"
#include "platform/windows_types.h"
#include "src/Logger.h"

// readClock gives the tick count and the tick of the last input. The difference is unsigned, so a
// wrap of the tick count does no harm. False, with the timeout and the failure logged, when the
// input time is unknown.
inline bool readIdleTime(SessionGuardCore& core, const std::function<bool(DWORD&, DWORD&)>& readClock, DWORD& idle) {
    DWORD now = 0, lastInput = 0;
    if (!readClock(now, lastInput)) {
        core.log("Event: Idle timeout");
        LogIndent indent(core.logger);
        core.log("Failed to retrieve the time of the last user input");
        return false;
    }
    idle = now - lastInput;
    return true;
}
