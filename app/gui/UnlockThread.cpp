#include "app/gui/UnlockThread.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <set>
#include <thread>
#include <vector>

#include <wx/app.h>

#include "app/capture/Notifications.h"
#include "app/core/ProductConstants.h"
#include "app/core/ScreenSaver.h"
#include "app/core/LockKeeper.h"
#include "src/Logger.h"

namespace {
// Threads whose worker has not ended yet: a forced end reaches only those.
std::mutex g_liveLock;
std::set<UnlockThread*> g_live;

void sleepMs(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

UnlockThread::UnlockThread(Logger* logger, bool awaitRunningLock)
    : wxThread(wxTHREAD_DETACHED), logger(logger), awaiting(awaitRunningLock) {
    std::memset(&process, 0, sizeof(process));
    log("Creation of the Unlock thread...");
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.insert(this);
}

UnlockThread::~UnlockThread() {
    log("Destruction of the Unlock thread...");
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.erase(this);
}

std::string UnlockThread::executable = kProductConstants[PC_EXECUTABLE];
std::string UnlockThread::keeperLog = kTrayLogFile;

std::string UnlockThread::commandLine() {
    return executable + " --lock " + (screenSaverConfigured ? "--screensaver" : "");
}

std::string UnlockThread::keeperCommandLine() {
    using lockkeeper::quoted;
    return std::string(lockkeeper::kProgram) + " --desktop " + quoted(kProductConstants[PC_LOCK_DESKTOP]) +
           " --log " + quoted(keeperLog) + " --status " + quoted(statusFilePath()) + " --start-limit " +
           std::to_string(startLimit) + " --restart-interval " + std::to_string(restartInterval) + " -- " +
           commandLine();
}

bool UnlockThread::lockInProgress() {
    HANDLE name = CreateMutexA(nullptr, FALSE, lockkeeper::kMutex);
    const bool held = name && GetLastError() == ERROR_ALREADY_EXISTS;
    if (name) CloseHandle(name);
    return held;
}

std::string UnlockThread::statusFilePath() {
    const std::string folder = tarvelo_platform::privateRuntimeFolder();
    return folder.empty() ? "" : folder + "/" + lockkeeper::kStatusFile;
}

DWORD UnlockThread::startLimit = 30000;
DWORD UnlockThread::restartInterval = 1000;

void UnlockThread::log(const std::string& line) {
    if (logger) logger->log(line);
}

void UnlockThread::post(int code) {
    if (!wxTheApp) return;
    wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, ID_SESSION_UNLOCKED);
    event.SetInt(code);
    wxTheApp->AddPendingEvent(event);
}

DWORD UnlockThread::awaitLockInProgress() {
    log("Waiting for the end of the lock in progress...");
    while (lockInProgress()) sleepMs(200);
    DWORD status = DWORD(kStillLocked);
    const std::string path = statusFilePath();
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    in.close();
    unsigned read = 0;
    if (lockkeeper::parseStatus(text.str(), read)) status = read;
    if (!path.empty()) DeleteFileA(path.c_str());
    log("The lock in progress ended with the status " + std::to_string(status));
    return status;
}

wxThread::ExitCode UnlockThread::Entry() {
    log("Starting the Unlock thread...");
    LogIndent indent(logger);
    DWORD status = DWORD(kStillLocked);
    bool unlocked = awaiting && lockkeeper::isUnlockStatus(status = awaitLockInProgress());
    for (DWORD lastStart = 0, starts = 0; !unlocked; ++starts) {
        if (starts) {
            log("ERROR: The lock keeper ended without authentication, starting it again...");
            const DWORD since = GetTickCount() - lastStart;
            if (since < restartInterval) sleepMs(restartInterval - since);
        }
        lastStart = GetTickCount();
        unlocked = runKeeper(status) && lockkeeper::isUnlockStatus(status);
    }
    log("Event: Unlocked");
    log("Notifying the application about the unlock...");
    post(static_cast<int>(status));
    return 0;
}

bool UnlockThread::runKeeper(DWORD& status) {
    status = DWORD(kStillLocked);
    const std::string path = statusFilePath();
    if (!path.empty()) DeleteFileA(path.c_str());  // an earlier lock's
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = 68;
    log("Starting the lock keeper...");
    const std::string command = keeperCommandLine();
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof(started));
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        log("ERROR: Failed to start the lock keeper");
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(handles);
        process = started;
    }
    WaitForSingleObject(started.hProcess, INFINITE);
    {
        // After this no forced end can reach the process.
        std::lock_guard<std::mutex> guard(handles);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) status = code;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process.hProcess = process.hThread = nullptr;
    }
    if (!path.empty()) DeleteFileA(path.c_str());  // this tray has the status
    log("The lock keeper ended with the status " + std::to_string(status));
    return true;
}

void UnlockThread::restartUnlockScreen() {
    log("Restarting the unlock screen...");
    LogIndent indent(logger);
    std::lock_guard<std::mutex> guard(handles);
    // Between two keepers, or waiting for an earlier tray's lock: the next screen starts anyway.
    // The keeper is not reaped while it still runs, so its id is still its own.
    if (!process.hProcess || WaitForSingleObject(process.hProcess, 0) != WAIT_TIMEOUT) return;
    ::kill(pid_t(process.dwProcessId), SIGUSR1);
}

bool UnlockThread::anyRunning() {
    std::lock_guard<std::mutex> guard(g_liveLock);
    return !g_live.empty();
}

bool UnlockThread::restartUnlockScreenIfRunning(UnlockThread* thread) {
    // Held across the call, so the worker's end waits until the forced end is done with the object.
    std::lock_guard<std::mutex> guard(g_liveLock);
    if (!g_live.count(thread)) return false;
    thread->restartUnlockScreen();
    return true;
}
