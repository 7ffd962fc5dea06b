// The lock keeper (LockKeeper.h): switches the input to the lock desktop, runs unlock screens on it
// until one ends with an unlock status, and switches back. It lives in a session of its own and
// shrugs off the signals that end a terminal's or a desktop's programs, so the tray's end (a kill,
// a crash, its group's signals) leaves the lock as it is.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/ProductConstants.h"
#include "app/core/LockKeeper.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "src/Logger.h"

namespace {

struct Options {
    std::string desktop, logFile, statusFile, command;
    DWORD startLimit = 30000;
    DWORD restartInterval = 1000;
};

Logger* g_log = nullptr;
void log(const std::string& line) {
    if (g_log) g_log->log(line);
}

volatile sig_atomic_t g_restartAsked = 0;
void askRestart(int) { g_restartAsked = 1; }

bool parse(int argc, char** argv, Options& o) {
    int i = 1;
    for (; i + 1 < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--desktop")
            o.desktop = value;
        else if (name == "--log")
            o.logFile = value;
        else if (name == "--status")
            o.statusFile = value;
        else if (name == "--start-limit")
            o.startLimit = DWORD(std::strtoul(value.c_str(), nullptr, 10));
        else if (name == "--restart-interval")
            o.restartInterval = DWORD(std::strtoul(value.c_str(), nullptr, 10));
        else
            return false;
    }
    if (i >= argc || std::strcmp(argv[i], "--") != 0) return false;
    for (++i; i < argc; ++i) o.command += (o.command.empty() ? "" : " ") + lockkeeper::quoted(argv[i]);
    return !o.desktop.empty() && !o.command.empty();
}

// What the unlock screen's beats say.
struct Beats {
    DWORD started = 0, lastGui = 0, lastFrame = 0, unlockedAt = 0;
    bool gui = false;        // a GUI beat came
    bool streaming = false;  // frames come, and no stop was said since
    bool unlocking = false;

    void read(int& fd) {
        char buffer[256];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {  // the screen's end closed the pipe: only its exit is awaited now
                ::close(fd);
                fd = -1;
            }
            if (n <= 0) return;
            const DWORD now = GetTickCount();
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == lockkeeper::kGuiBeat) {
                    gui = true;
                    lastGui = now;
                } else if (buffer[i] == lockkeeper::kFrameBeat) {
                    streaming = true;
                    lastFrame = now;
                } else if (buffer[i] == lockkeeper::kStreamStopped) {
                    streaming = false;
                } else if (buffer[i] == lockkeeper::kUnlocking && !unlocking) {
                    unlocking = true;
                    unlockedAt = now;
                }
            }
        }
    }

    // Why the screen must be ended now; null while it is alive.
    const char* silence(DWORD startLimit) const {
        const DWORD now = GetTickCount();
        if (unlocking)
            return now - unlockedAt >= startLimit
                       ? "ERROR: The unlock screen did not end in time, ending it..."
                       : nullptr;
        if (!gui)
            return now - started >= startLimit
                       ? "ERROR: The unlock screen did not start in time, ending it..."
                       : nullptr;
        if (now - lastGui >= lockkeeper::kSilenceLimit)
            return "ERROR: The unlock screen does not answer, ending it...";
        if (streaming && now - lastFrame >= lockkeeper::kSilenceLimit)
            return "ERROR: The unlock screen's video does not answer, ending it...";
        return nullptr;
    }
};

// Runs one unlock screen to its end; true and its status when it started. A screen ended here
// (silent, or a restart asked by the tray) opened nothing, whatever its status says.
bool runUnlockScreen(const Options& o, DWORD& status) {
    status = DWORD(kStillLocked);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        log("ERROR: Failed to make the heartbeat pipe");
        return false;
    }
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    // The write end without close-on-exec, for the screen only (the cover's thread starts no
    // process and reads no environment).
    const int childEnd = ::fcntl(pipeFds[1], F_DUPFD, 3);
    ::close(pipeFds[1]);
    ::setenv(lockkeeper::kHeartbeatVariable, std::to_string(childEnd).c_str(), 1);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = 68;
    std::vector<char> desktop(o.desktop.begin(), o.desktop.end());
    desktop.push_back(0);
    startup.lpDesktop = desktop.data();
    std::vector<char> line(o.command.begin(), o.command.end());
    line.push_back(0);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    log("Execute a new instance of Tarvelo in the new desktop...");
    g_restartAsked = 0;  // one asked between two screens is met by this start
    const bool started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::close(childEnd);
    ::unsetenv(lockkeeper::kHeartbeatVariable);
    int beatFd = pipeFds[0];
    if (!started) {
        log("ERROR: Failed to execute a new instance of Tarvelo in the new desktop");
        ::close(beatFd);
        return false;
    }
    log("Waiting until until process exits...");
    Beats beats;
    beats.started = GetTickCount();
    bool ended = false;  // by the keeper
    while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        pollfd p{beatFd, POLLIN, 0};
        ::poll(&p, beatFd >= 0 ? 1 : 0, 100);
        if (beatFd >= 0) beats.read(beatFd);
        if (ended) continue;
        const char* why = beats.silence(o.startLimit);
        if (g_restartAsked) {
            g_restartAsked = 0;
            why = "Killing the process...";
        }
        if (why) {
            log(why);
            ended = true;
            // SIGKILL: also ends a stopped process.
            TerminateProcess(process.hProcess, kStillLocked);
        }
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code) && !ended) status = code;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (beatFd >= 0) ::close(beatFd);
    log("The unlock screen ended with the status " + std::to_string(status));
    return true;
}

// The status for a tray that did not start this keeper; written before the name goes.
void writeStatus(const std::string& path, DWORD status) {
    if (path.empty()) return;
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    const std::string text = lockkeeper::statusText(status);
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (::close(fd) == 0 && written && ::rename(temporary.c_str(), path.c_str()) == 0) return;
    ::unlink(temporary.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s --desktop NAME [--log FILE] [--status FILE] [--start-limit MS] "
                     "[--restart-interval MS] -- COMMAND...\n",
                     argv[0]);
        return kStillLocked;
    }
    // Out of the tray's session and group: what ends them does not reach here.
    ::setsid();
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE}) std::signal(s, SIG_IGN);
    struct sigaction restart {};
    restart.sa_handler = askRestart;
    sigaction(SIGUSR1, &restart, nullptr);

    FileLogger logger(options.logFile.empty() ? "/dev/null" : options.logFile, false);
    g_log = &logger;
    LogIndent indent(g_log);

    HANDLE name = CreateMutexA(nullptr, TRUE, lockkeeper::kMutex);
    if (!name || GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another keeper holds a lock: it stays up, and this one is no unlock.
        log("ERROR: Another lock keeper holds the session, ending...");
        return kStillLocked;
    }

    // A status left by an earlier lock must not be read as this one's.
    if (!options.statusFile.empty()) ::unlink(options.statusFile.c_str());
    log("Saving original desktop handles...");
    HDESK savedThreadDesktop = GetThreadDesktop(GetCurrentThreadId());
    HDESK savedInputDesktop = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    log("Creation of a new desktop...");
    HDESK lockDesktop = CreateDesktopA(options.desktop.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);

    bool switched = false;
    DWORD status = DWORD(kStillLocked);
    DWORD lastStart = 0;
    for (bool first = true;; first = false) {
        // A signal cuts a sleep short: slept again until the time is up.
        for (DWORD since; !first && (since = GetTickCount() - lastStart) < options.restartInterval;)
            ::usleep(useconds_t(options.restartInterval - since) * 1000);
        lastStart = GetTickCount();
        // Without the lock desktop the unlock screen still covers the screen on its own.
        if (!switched) {
            log("Switch to the new desktop...");
            switched = lockDesktop && SetThreadDesktop(lockDesktop) && SwitchDesktop(lockDesktop);
            if (!switched) log("ERROR: Failed to switch to the new desktop");
        }
        if (runUnlockScreen(options, status) && lockkeeper::isUnlockStatus(status)) break;
        log("ERROR: The unlock screen ended without authentication, starting it again...");
    }

    log("Restoration of the original desktop...");
    if (savedInputDesktop) SwitchDesktop(savedInputDesktop);
    if (savedThreadDesktop) SetThreadDesktop(savedThreadDesktop);
    log("Closing the new desktop...");
    if (lockDesktop) CloseDesktop(lockDesktop);
    if (savedInputDesktop) CloseDesktop(savedInputDesktop);
    writeStatus(options.statusFile, status);
    CloseHandle(name);
    return int(status);
}
