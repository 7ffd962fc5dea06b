#pragma once
// A private X server (Xvfb) for tests that change server state: screen saver, key grabs, windows.
// Each test program gets its own, so parallel tests never share a display and a developer's own
// display is never touched. Without Xvfb the caller skips.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testdisplay {

struct Server {
    pid_t pid = 0;
    std::string display;
    std::string failure;
    // No destructor: the server ends with the test program (parent-death signal), after every
    // connection of the program is gone, so no client sees its display vanish.
};

inline Server& server() {
    static Server s;
    static bool started = false;
    if (started) return s;
    started = true;
    int fds[2];
    if (::pipe(fds) != 0) {
        s.failure = "no pipe for Xvfb";
        return s;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
                 "-noreset", (char*)nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        s.failure = "cannot fork Xvfb";
        return s;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        s.failure = "Xvfb is not installed or did not start";
        return s;
    }
    s.pid = pid;
    s.display = ":" + number;
    ::setenv("DISPLAY", s.display.c_str(), 1);
    return s;
}

// Another Xvfb, for a test that needs a server in its default state: it resets when its last
// client leaves. Display gets ":N"; 0 when it cannot start. The caller ends it (SIGTERM, waitpid).
inline pid_t startResettingServer(std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) return 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
                 (char*)nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (pid <= 0) return 0;
    if (number.empty()) {
        ::waitpid(pid, nullptr, 0);
        return 0;
    }
    display = ":" + number;
    return pid;
}

}  // namespace testdisplay

// Skips the test when no private display can be had.
#define REQUIRE_PRIVATE_DISPLAY()                                                              \
    do {                                                                                       \
        if (testdisplay::server().display.empty())                                             \
            GTEST_SKIP() << "no X display for this test: " << testdisplay::server().failure;   \
    } while (0)
