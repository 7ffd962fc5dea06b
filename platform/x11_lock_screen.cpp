// The unlock screen's side of the lock desktop, on the toolkit's own X connection (user.h).
#include "platform/user.h"

#include <X11/Xlib.h>

namespace tarvelo_platform {

bool setLockScreenWindow(void* display, unsigned long window) {
    auto* d = static_cast<Display*>(display);
    if (!d || !window) return false;
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, Window(window), &a)) return false;
    XSetWindowAttributes set{};
    set.override_redirect = True;
    XChangeWindowAttributes(d, Window(window), CWOverrideRedirect, &set);
    XFlush(d);
    return true;
}

unsigned grabLockScreenInput(void* display, unsigned long window) {
    auto* d = static_cast<Display*>(display);
    if (!d || !window) return 0;
    unsigned held = 0;
    if (XGrabKeyboard(d, Window(window), True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess)
        held |= LOCK_INPUT_KEYBOARD;
    const unsigned pointerEvents = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | EnterWindowMask |
                                   LeaveWindowMask;
    if (XGrabPointer(d, Window(window), True, pointerEvents, GrabModeAsync, GrabModeAsync, None, None, CurrentTime) ==
        GrabSuccess)
        held |= LOCK_INPUT_POINTER;
    XFlush(d);
    return held;
}

}  // namespace tarvelo_platform
