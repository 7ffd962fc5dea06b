#pragma once
// A private X server (Xvfb) for tests that change server state: screen saver, key grabs, windows.
// Each test program gets its own, so parallel tests never share a display and a developer's own
// display is never touched. Without Xvfb the caller skips.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

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

// Starts an Xvfb on a display number that the server itself picks, so parallel test programs never
// race for one, with the given arguments (screens, extensions, reset). Display gets ":N"; returns
// its pid, or 0 when it cannot start. It ends with the test program at the latest (parent-death
// signal); quiet sends its output to /dev/null. The caller ends it (SIGTERM, waitpid).
inline pid_t startXvfb(std::initializer_list<const char*> args, std::string& display, bool quiet = true) {
    int fds[2];
    if (::pipe(fds) != 0) return 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        if (quiet) {
            int devnull = ::open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                ::dup2(devnull, 1);
                ::dup2(devnull, 2);
            }
        }
        const std::string fd = std::to_string(fds[1]);
        std::vector<const char*> argv{"Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(nullptr);
        ::execvp("Xvfb", const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return 0;
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
        return 0;
    }
    display = ":" + number;
    return pid;
}

// The test program's own server, started on first use and made the DISPLAY; it never resets.
inline Server& server() {
    static Server s;
    static bool started = false;
    if (started) return s;
    started = true;
    s.pid = startXvfb({"-screen", "0", "640x480x24", "-noreset"}, s.display);
    if (!s.pid) {
        s.failure = "Xvfb is not installed or did not start";
        return s;
    }
    ::setenv("DISPLAY", s.display.c_str(), 1);
    return s;
}

// Another Xvfb, for a test that needs a server in its default state: it resets when its last
// client leaves. Display gets ":N"; 0 when it cannot start. The caller ends it (SIGTERM, waitpid).
inline pid_t startResettingServer(std::string& display) {
    return startXvfb({"-screen", "0", "640x480x24"}, display, false);
}

}  // namespace testdisplay

// Skips the test when no private display can be had.
#define REQUIRE_PRIVATE_DISPLAY()                                                              \
    do {                                                                                       \
        if (testdisplay::server().display.empty())                                             \
            GTEST_SKIP() << "no X display for this test: " << testdisplay::server().failure;   \
    } while (0)
