// Inside the platform: what the X11 services share (see user.h for what they stand in for).
#pragma once

#include <mutex>
#include <string>

#include <X11/Xlib.h>

namespace tarvelo_platform::x11 {

// Says once per service on standard error that it has no display.
void reportUnavailable(const char* what);

// The kept connection for one call, held under its lock; null (with the error set and reported)
// when there is no display.
struct Connection {
    Display* display = nullptr;
    std::unique_lock<std::mutex> guard;
    explicit Connection(const char* what);
    explicit operator bool() const { return display != nullptr; }
};

}  // namespace tarvelo_platform::x11
