#pragma once
// Runs a lock: switches the input to a desktop of its own, starts the unlock-screen instance of the
// program there, waits until it ends, tells the application (ID_SESSION_UNLOCKED) and switches
// back. A detached thread: the object deletes itself when its worker ends.
#include <mutex>

#include <wx/thread.h>

#include "platform/kernel.h"
#include "platform/user.h"

class UnlockThread : public wxThread {
public:
    UnlockThread();
    ~UnlockThread() override;

    // The lock ends by force: the user's desktop comes back and the unlock-screen instance is
    // terminated; the worker then ends as after a normal unlock. GUI thread.
    void unlockManually();
    // unlockManually on that thread when it is still alive; nothing when it has already gone.
    static bool unlockManuallyIfRunning(UnlockThread* thread);
    // The command line of the unlock-screen instance.
    static std::string commandLine();

protected:
    ExitCode Entry() override;

private:
    void post(int code);
    // Switches the input back to the user's desktop and closes both desktops, once.
    void restoreDesktops();

    std::mutex handles;  // guards the three desktops and the process handle
    HDESK savedThreadDesktop;
    HDESK savedInputDesktop;
    HDESK lockDesktop;
    PROCESS_INFORMATION process;
};
