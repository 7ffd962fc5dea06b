#include "app/gui/UnlockThread.h"

#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include <wx/app.h>

#include "app/capture/Notifications.h"
#include "app/core/ProductConstants.h"
#include "app/core/ScreenSaver.h"
#include "app/core/SessionGuardCore.h"
#include "src/Logger.h"

namespace {
// Threads whose worker has not ended yet: a forced end reaches only those.
std::mutex g_liveLock;
std::set<UnlockThread*> g_live;

void log(const std::string& line) {
    if (Logger* l = appLogger()) l->log(line);
}
}  // namespace

UnlockThread::UnlockThread() : wxThread(wxTHREAD_DETACHED) {
    std::memset(&process, 0, sizeof(process));
    log("Creation of the Unlock thread...");
    LogIndent indent(appLogger());
    log("Saving original desktop handles...");
    savedThreadDesktop = GetThreadDesktop(GetCurrentThreadId());
    savedInputDesktop = OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
    log("Creation of a new desktop...");
    lockDesktop = CreateDesktopA(kProductConstants[PC_LOCK_DESKTOP], nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.insert(this);
}

UnlockThread::~UnlockThread() {
    log("Destruction of the Unlock thread...");
    LogIndent indent(appLogger());
    restoreDesktops();
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.erase(this);
}

std::string UnlockThread::executable = kProductConstants[PC_EXECUTABLE];

std::string UnlockThread::commandLine() {
    return executable + " --lock " + (screenSaverConfigured ? "--screensaver" : "");
}

bool UnlockThread::isUnlockStatus(DWORD status) {
    return status == DWORD(kUnlockedByFace) || status == DWORD(kUnlockedByPassword);
}

DWORD UnlockThread::startLimit = 30000;
DWORD UnlockThread::restartInterval = 1000;

void UnlockThread::post(int code) {
    if (!wxTheApp) return;
    wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, ID_SESSION_UNLOCKED);
    event.SetInt(code);
    wxTheApp->AddPendingEvent(event);
}

wxThread::ExitCode UnlockThread::Entry() {
    log("Starting the Unlock thread...");
    LogIndent indent(appLogger());
    bool switched = false;
    DWORD status = DWORD(kStillLocked);
    DWORD lastStart = 0;
    for (bool first = true;; first = false) {
        if (!first) {
            const DWORD since = GetTickCount() - lastStart;
            if (since < restartInterval)
                std::this_thread::sleep_for(std::chrono::milliseconds(restartInterval - since));
        }
        lastStart = GetTickCount();
        // Without the lock desktop the unlock screen still covers the screen on its own.
        if (!switched) switched = switchToLockDesktop();
        if (runUnlockScreen(status) && isUnlockStatus(status)) break;
        log("ERROR: The unlock screen ended without authentication, starting it again...");
    }
    log("Event: Unlocked");
    log("Notifying the application about the unlock...");
    post(static_cast<int>(status));
    return 0;
}

bool UnlockThread::switchToLockDesktop() {
    log("Switch to the new desktop...");
    if (lockDesktop && SetThreadDesktop(lockDesktop) && SwitchDesktop(lockDesktop)) return true;
    log("ERROR: Failed to switch to the new desktop");
    return false;
}

bool UnlockThread::runUnlockScreen(DWORD& status) {
    status = DWORD(kStillLocked);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = 68;
    char desktopName[64];
    std::strncpy(desktopName, kProductConstants[PC_LOCK_DESKTOP], sizeof(desktopName) - 1);
    desktopName[sizeof(desktopName) - 1] = 0;
    startup.lpDesktop = desktopName;

    log("Execute a new instance of Tarvelo in the new desktop...");
    std::string command = commandLine();
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof(started));
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        log("ERROR: Failed to execute a new instance of Tarvelo in the new desktop");
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(handles);
        process = started;
        forcedEnd = false;
    }
    log("Waiting until process fully initialized...");
    if (WaitForInputIdle(started.hProcess, startLimit) == WAIT_TIMEOUT) {
        log("ERROR: The unlock screen did not start in time, ending it...");
        TerminateProcess(started.hProcess, kStillLocked);
    }
    log("Waiting until until process exits...");
    WaitForSingleObject(started.hProcess, INFINITE);
    {
        // After this no forced end can reach the process handle.
        std::lock_guard<std::mutex> guard(handles);
        DWORD code = 0;
        // A screen ended by force opened nothing, whatever its status says.
        if (GetExitCodeProcess(process.hProcess, &code) && !forcedEnd) status = code;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process.hProcess = process.hThread = nullptr;
    }
    log("The unlock screen ended with the status " + std::to_string(status));
    return true;
}

void UnlockThread::restoreDesktops() {
    std::lock_guard<std::mutex> guard(handles);
    if (!lockDesktop && !savedInputDesktop) return;  // the other side has done it
    log("Restoration of the original desktop...");
    if (savedInputDesktop) SwitchDesktop(savedInputDesktop);
    if (savedThreadDesktop) SetThreadDesktop(savedThreadDesktop);
    log("Closing the new desktop...");
    if (lockDesktop) CloseDesktop(lockDesktop);
    if (savedInputDesktop) CloseDesktop(savedInputDesktop);
    lockDesktop = nullptr;
    savedInputDesktop = nullptr;
}

void UnlockThread::restartUnlockScreen() {
    log("Restarting the unlock screen...");
    LogIndent indent(appLogger());
    std::lock_guard<std::mutex> guard(handles);
    if (!process.hProcess) return;  // between two screens: the next one starts anyway
    log("Killing the process...");
    forcedEnd = true;
    TerminateProcess(process.hProcess, kStillLocked);
}

bool UnlockThread::restartUnlockScreenIfRunning(UnlockThread* thread) {
    // Held across the call, so the worker's end waits until the forced end is done with the object.
    std::lock_guard<std::mutex> guard(g_liveLock);
    if (!g_live.count(thread)) return false;
    thread->restartUnlockScreen();
    return true;
}
