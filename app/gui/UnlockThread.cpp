#include "app/gui/UnlockThread.h"

#include <cstring>
#include <set>

#include <wx/app.h>

#include "app/capture/Notifications.h"
#include "app/core/ProductConstants.h"
#include "app/core/ScreenSaver.h"
#include "app/gui/SessionGuardApp.h"
#include "src/Logger.h"

namespace {
// Threads whose worker has not ended yet: a forced end reaches only those.
std::mutex g_liveLock;
std::set<UnlockThread*> g_live;

Logger* appLog() {
    SessionGuardApp* app = wxTheApp ? static_cast<SessionGuardApp*>(wxTheApp) : nullptr;
    return app ? app->logger : nullptr;
}
void log(const std::string& line) {
    if (Logger* l = appLog()) l->log(line);
}
}  // namespace

UnlockThread::UnlockThread() : wxThread(wxTHREAD_DETACHED) {
    std::memset(&process, 0, sizeof(process));
    log("Creation of the Unlock thread...");
    LogIndent indent(appLog());
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
    LogIndent indent(appLog());
    restoreDesktops();
    std::lock_guard<std::mutex> guard(g_liveLock);
    g_live.erase(this);
}

std::string UnlockThread::commandLine() {
    return std::string(kProductConstants[PC_EXECUTABLE]) + " --lock " + (screenSaverConfigured ? "--screensaver" : "");
}

void UnlockThread::post(int code) {
    if (!wxTheApp) return;
    wxCommandEvent event(wxEVT_COMMAND_MENU_SELECTED, ID_SESSION_UNLOCKED);
    event.SetInt(code);
    wxTheApp->AddPendingEvent(event);
}

wxThread::ExitCode UnlockThread::Entry() {
    log("Starting the Unlock thread...");
    LogIndent indent(appLog());
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = 68;
    char desktopName[64];
    std::strncpy(desktopName, kProductConstants[PC_LOCK_DESKTOP], sizeof(desktopName) - 1);
    desktopName[sizeof(desktopName) - 1] = 0;
    startup.lpDesktop = desktopName;

    log("Switch to the new desktop...");
    if (!lockDesktop || !SetThreadDesktop(lockDesktop) || !SwitchDesktop(lockDesktop)) {
        log("ERROR: Failed to switch to the new desktop");
        post(1);
        return 0;
    }
    log("Execute a new instance of Zelk in the new desktop...");
    std::string command = commandLine();
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof(started));
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        log("ERROR: Failed to execute a new instance of Zelk in the new desktop");
        post(2);
        return 0;
    }
    {
        std::lock_guard<std::mutex> guard(handles);
        process = started;
    }
    log("Waiting until process fully initialized...");
    WaitForInputIdle(started.hProcess, INFINITE);
    log("Waiting until until process exits...");
    WaitForSingleObject(started.hProcess, INFINITE);
    log("Event: Unlocked");
    {
        // After this no forced end can reach the process handle.
        std::lock_guard<std::mutex> guard(handles);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        process.hProcess = process.hThread = nullptr;
    }
    log("Notifying the application about the unlock...");
    post(0);
    return 0;
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

void UnlockThread::unlockManually() {
    log("Unlocking manually the session...");
    LogIndent indent(appLog());
    restoreDesktops();
    log("Killing the process...");
    std::lock_guard<std::mutex> guard(handles);
    if (process.hProcess) TerminateProcess(process.hProcess, 0);
}

bool UnlockThread::unlockManuallyIfRunning(UnlockThread* thread) {
    // Held across the call, so the worker's end waits until the forced end is done with the object.
    std::lock_guard<std::mutex> guard(g_liveLock);
    if (!g_live.count(thread)) return false;
    thread->unlockManually();
    return true;
}
