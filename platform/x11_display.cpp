// The one X connection that the plain X11 calls share, and the note of a missing display.
#include "platform/x11_display.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include <poll.h>
#include <sys/socket.h>

#include "platform/kernel.h"

namespace tarvelo_platform::x11 {

void reportUnavailable(const char* what) {
    static std::mutex lock;
    static std::set<std::string> told;
    std::lock_guard<std::mutex> guard(lock);
    if (told.insert(what).second)
        std::fprintf(stderr, "platform: %s is not available: no X display (DISPLAY unset or unreachable)\n", what);
}

namespace {

// The process keeps one connection to the display for these calls. Opening and closing one per
// call made an X server whose only client it was reset at the close, and the toolkit, connecting
// right after, was refused ("Unable to initialize GTK+"). A new connection is made only when
// DISPLAY names another server or the kept one was closed by its server.
std::mutex g_sharedLock;
Display* g_shared = nullptr;
std::string g_sharedName;
// Connections closed by their server, never touched again (kept for the life of the process).
std::vector<Display*>& abandoned() {
    static auto* list = new std::vector<Display*>;
    return *list;
}

bool serverClosed(Display* display) {
    pollfd p{ConnectionNumber(display), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLERR | POLLNVAL)) return true;
    char c;
    return ::recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;  // end of stream
}

}  // namespace

Connection::Connection(const char* what) : guard(g_sharedLock) {
    const char* env = getenv("DISPLAY");
    const std::string name = env ? env : "";
    if (g_shared && (name != g_sharedName || serverClosed(g_shared))) {
        // A closed connection is left as it is: Xlib ends the process on I/O errors.
        if (serverClosed(g_shared))
            abandoned().push_back(g_shared);
        else
            XCloseDisplay(g_shared);
        g_shared = nullptr;
    }
    if (!g_shared) {
        g_shared = XOpenDisplay(nullptr);
        g_sharedName = name;
    }
    display = g_shared;
    if (!display) {
        reportUnavailable(what);
        SetLastError(ERROR_NOT_SUPPORTED);
    }
}

}  // namespace tarvelo_platform::x11
