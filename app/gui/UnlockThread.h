#pragma once
// Runs a lock: switches the input to a desktop of its own, starts the unlock-screen instance of the
// program there and waits until it ends. Only an end with one of the two unlock statuses ends the
// lock: then it tells the application (ID_SESSION_UNLOCKED, with the status as the event's integer)
// and switches back. Any other end (another status, a signal, a failed or hung start) starts a new
// unlock screen on the lock desktop, at most one a second, for as long as it takes.
// A detached thread: the object deletes itself when its worker ends.
#include <mutex>
#include <string>

#include <wx/thread.h>

#include "platform/kernel.h"
#include "platform/user.h"

class UnlockThread : public wxThread {
public:
    UnlockThread();
    ~UnlockThread() override;

    // Ends the running unlock screen by force (suspend, resume, a session change): the lock stays
    // and the worker starts a new screen. GUI thread.
    void restartUnlockScreen();
    // restartUnlockScreen on that thread when it is still alive; false when it has already gone.
    static bool restartUnlockScreenIfRunning(UnlockThread* thread);
    // The command line of the unlock-screen instance.
    static std::string commandLine();
    // Whether an exit status of the unlock-screen instance opens the session.
    static bool isUnlockStatus(DWORD status);

    // The program started on the lock desktop (the product's executable; tests start a script).
    static std::string executable;
    // How long an unlock screen may take to start before it is ended and started again (ms).
    static DWORD startLimit;
    // Least time between two starts of the unlock screen (ms).
    static DWORD restartInterval;

protected:
    ExitCode Entry() override;

private:
    void post(int code);
    // Input on the lock desktop; false when the switch was refused.
    bool switchToLockDesktop();
    // Runs one unlock screen to its end; true and its status when it started.
    bool runUnlockScreen(DWORD& status);
    // Switches the input back to the user's desktop and closes both desktops, once.
    void restoreDesktops();

    std::mutex handles;  // guards the three desktops, the process handle and forcedEnd
    HDESK savedThreadDesktop;
    HDESK savedInputDesktop;
    HDESK lockDesktop;
    PROCESS_INFORMATION process;
    bool forcedEnd = false;  // the running screen was ended by restartUnlockScreen
};
