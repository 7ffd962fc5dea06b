// A stand-in unlock screen for the lock desktop's tests: an override-redirect window named after its
// argument that takes the keyboard and the pointer as the unlock screen does, and says so in its
// property "_TARVELO_GRABBED" once it holds both. Runs until killed.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include "platform/user.h"

int main(int argc, char** argv) {
    Display* d = XOpenDisplay(nullptr);
    if (!d || argc < 2) return 2;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 20, 20, 200, 150, 0, 0, WhitePixel(d, DefaultScreen(d)));
    XStoreName(d, w, argv[1]);
    if (!tarvelo_platform::setLockScreenWindow(d, w)) return 3;
    XMapRaised(d, w);
    XSync(d, False);
    Atom grabbed = XInternAtom(d, "_TARVELO_GRABBED", False);
    bool told = false;
    for (;;) {
        const unsigned held = tarvelo_platform::grabLockScreenInput(d, w);
        if (held == (tarvelo_platform::LOCK_INPUT_KEYBOARD | tarvelo_platform::LOCK_INPUT_POINTER) && !told) {
            long one = 1;
            XChangeProperty(d, w, grabbed, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&one), 1);
            XSync(d, False);
            told = true;
        }
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
        }
        usleep(50000);
    }
}
