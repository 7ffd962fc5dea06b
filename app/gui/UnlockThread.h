#pragma once
// Runs a lock through the lock keeper (app/core/LockKeeper.h), a process of its own that holds
// the lock desktop and starts the unlock-screen instance of the program there, again and again,
// until one ends with an unlock status. The keeper ends with that status: then this thread tells
// the application (ID_SESSION_UNLOCKED, with the status as the event's integer). A keeper that
// ends otherwise (killed, failed to start) is started again, at most once a second.
// A lock that outlives its tray is found by the next tray, whose thread waits for its end and
// takes its status from the keeper's status file (none: no unlock, so it locks again).
// A detached thread: the object deletes itself when its worker ends.
#include <mutex>
#include <string>

#include <wx/thread.h>

#include "platform/kernel.h"

class Logger;

class UnlockThread : public wxThread {
public:
    // Waiting for a lock in progress (lockInProgress) before anything else, or a new lock. Logs to
    // logger (may be null), which must outlive the thread.
    explicit UnlockThread(Logger* logger, bool awaitRunningLock = false);
    ~UnlockThread() override;

    // Ends the running unlock screen by force (suspend, resume, a session change): the lock stays
    // and the keeper starts a new screen. GUI thread.
    void restartUnlockScreen();
    // restartUnlockScreen on that thread when it is still alive; false when it has already gone.
    static bool restartUnlockScreenIfRunning(UnlockThread* thread);
    // A thread whose worker has not ended yet: it still writes to its logger.
    static bool anyRunning();
    // The command line of the unlock-screen instance.
    static std::string commandLine();
    // The command line of the lock keeper that runs it.
    static std::string keeperCommandLine();
    // A keeper holds a lock now (this tray's or an earlier one's).
    static bool lockInProgress();
    // Where a keeper leaves the status of its lock's end.
    static std::string statusFilePath();

    // The program started on the lock desktop (the product's executable; tests start a script).
    static std::string executable;
    // The keeper's log (the tray's, in the shared working folder; tests give another).
    static std::string keeperLog;
    // How long an unlock screen may take to start beating before it is ended and started again (ms).
    static DWORD startLimit;
    // Least time between two starts of the unlock screen, and of the keeper (ms).
    static DWORD restartInterval;

protected:
    ExitCode Entry() override;

private:
    void log(const std::string& line);
    void post(int code);
    // Runs one keeper to its end; true and its status when it started.
    bool runKeeper(DWORD& status);
    // The status that the lock in progress ended with, once it has ended.
    DWORD awaitLockInProgress();

    std::mutex handles;  // guards the process handle
    PROCESS_INFORMATION process;
    Logger* logger;
    bool awaiting;
};
