#pragma once
// The application object of both instances of the program: the tray instance, which watches the
// user's inactivity and locks the session, and the unlock-screen instance ("--lock"), which shows
// the unlock dialog on the lock desktop. The windows reach it through the host interface of their
// role (WindowHosts.h), which it gives them when it makes them.
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/cmdline.h>
#include <wx/timer.h>

#include "app/core/ProductConstants.h"
#include "app/core/ScreenSaver.h"
#include "app/core/SessionGuardCore.h"
#include "app/gui/WindowHosts.h"
#include "platform/windows_types.h"

class FileLogger;
class PresenceChecker;
class SettingsDialog;
class TrayIcon;
class UnlockThread;

// A log file longer than this is emptied at start-up.
constexpr long long kLogFileLimit = 1048576;

class SessionGuardApp : public wxApp,
                        public SessionGuardCore,
                        public TrayHost,
                        public SettingsHost,
                        public UnlockHost {
public:
    SessionGuardApp();
    ~SessionGuardApp() override;

    bool OnInit() override;
    // The unlock-screen instance ends with unlockStatus, whatever ended its event loop.
    int OnRun() override;
    int OnExit() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

    // ---- session control (tray instance, GUI thread) ----
    // What the tray instance is doing; every entry of the session control looks at it first.
    enum class SessionState { Idle, Checking, Locked, Adapting, Settings };
    SessionState getSessionState() const { return sessionState; }
    void startIdleTimer(unsigned int elapsed);
    void stopIdleTimer();
    void onIdleTimeout(wxTimerEvent& event);
    void lockSession(bool checkPresence) override;
    void onPresenceCheckSucceeded(wxCommandEvent& event);
    void onPresenceCheckFailed(wxCommandEvent& event);
    void onSessionUnlocked(wxCommandEvent& event);
    void onModelThreadDone(wxCommandEvent& event);
    // At start-up: a lock that an earlier tray started still holds the session. This tray is then
    // locked until its end, and true.
    bool awaitLockInProgress();
    void onSuspend() override;
    void onResume() override;
    void toggleEnabled() override;
    void showSettingsDialog(int page) override;
    bool selectDefaultCamera();
    bool isEnabled() const override { return enabled; }
    bool isAdaptationRunning() const { return adaptationRunning; }

    // Sets the tray icon (when there is one) to the named resource with the product name as tooltip.
    void setTrayIcon(const char* resource) override;
    void showBalloon(const wxString& title, const wxString& text, unsigned timeout, int iconFlags) override;
    // The system's logon check of the account's password (LogonUserA); false leaves the system's
    // error code in error. The unlock screen and the enrollment page ask it; tests replace it.
    bool logonUser(const std::string& user, const std::string& domain, const std::string& password,
                   DWORD& error) override;

    // The windows' hosts.
    SessionGuardCore& core() override { return *this; }
    void exitProgram() override { ExitMainLoop(); }
    void setUnlockStatus(int status) override { unlockStatus = status; }

    // Fields after the bases, in the order the program describes them.
    TrayIcon* trayIcon;
    bool lockMode;
    wxTimer* idleTimer;
    HANDLE runOnceMutex;
    bool enabled;
    SettingsDialog* settingsDialog;
    ScreenSaver screenSaver;
    PresenceChecker* presenceChecker;
    UnlockThread* unlockThread;
    FileLogger* fileLogger;  // the process-wide logger; SessionGuardCore::logger points to it
    // Unlock-screen instance: its exit status, kStillLocked until the screen was opened.
    int unlockStatus;

protected:
    // The outside world of the session control, replaced by the tests.
    virtual bool cameraReady() { return isCameraAvailable(); }
    virtual bool modelReady() { return userModelExists(); }
    // The tick count and the tick of the last user input; false when the input time is unknown.
    virtual bool readIdleClock(DWORD& now, DWORD& lastInput);
    virtual bool screenSaverRunning() { return screenSaver.isRunning(); }
    virtual void showScreenSaverMessage();
    // Creates and starts the presence checker into presenceChecker; false when it cannot start
    // (presenceChecker is then null again).
    virtual bool startPresenceChecker();
    virtual void deletePresenceChecker();
    virtual void startUnlockThread();
    // false when the enrollment thread could not be started.
    virtual bool startAdaptation(const std::string& prefix);
    virtual void setTaskLockdown(bool locked);
    // Runs one settings dialog modally; returns its result and whether the camera was changed.
    virtual int runSettingsDialog(int page, bool& cameraChanged);

    SessionState sessionState = SessionState::Idle;

    void logIndentUp();
    void logIndentDown();

private:
    bool initTrayInstance();
    bool initUnlockInstance();
    void bootstrapConfiguration();
    void runRegisterBatch();
    // Back to watching: tray icon enabled, idle timer armed when ready.
    void watchAgain();
    // The end of a presence check: the checker gone, back to watching when it passed, a lock when
    // it failed; what follows is logged under the event's line.
    void endPresenceCheck(bool passed);

    bool registerBatchRun = false;
    // Told in balloons once the tray icon exists: what start-up did to the user's files.
    std::vector<std::string> pendingNotices;

protected:
    // The configuration was unreadable and replaced: the camera that start-up chooses then is no
    // reason to drop the user's face model.
    bool keepModelOnCameraChoice = false;

    wxDECLARE_EVENT_TABLE();
};

wxDECLARE_APP(SessionGuardApp);
