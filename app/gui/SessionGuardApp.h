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

#include "app/core/LockSession.h"
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
                        public UnlockHost,
                        protected LockWorld {
public:
    SessionGuardApp();
    ~SessionGuardApp() override;

    bool OnInit() override;
    // The unlock-screen instance ends with unlockStatus, whatever ended its event loop.
    int OnRun() override;
    int OnExit() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

    // ---- session control (tray instance, GUI thread): the decisions are the session's ----
    using SessionState = LockSession::State;
    SessionState getSessionState() const { return session.state(); }
    void startIdleTimer(unsigned int elapsed) { session.startIdleTimer(elapsed); }
    void stopIdleTimer() { session.stopIdleTimer(); }
    void onIdleTimeout(wxTimerEvent&) { session.onIdleTimeout(); }
    bool lockOffered() override { return session.lockOffered(); }
    void lockSession(bool checkPresence) override { session.lockSession(checkPresence); }
    void onPresenceCheckSucceeded(wxCommandEvent&) { session.onPresenceCheckEnded(true); }
    void onPresenceCheckFailed(wxCommandEvent&) { session.onPresenceCheckEnded(false); }
    void onSessionUnlocked(wxCommandEvent& event) {
        if (session.state() == SessionState::Locked) unlockThread = nullptr;  // it ended itself
        session.onSessionUnlocked(event.GetInt());
    }
    void onModelThreadDone(wxCommandEvent& event);
    void onSuspend() override { session.onSuspend(); }
    void onResume() override { session.onResume(); }
    void toggleEnabled() override { session.toggleEnabled(); }
    void showSettingsDialog(int page) override { session.showSettingsDialog(page); }
    bool selectDefaultCamera();
    bool isEnabled() const override { return session.isEnabled(); }
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
    SettingsDialog* settingsDialog;
    ScreenSaver screenSaver;
    PresenceChecker* presenceChecker;
    UnlockThread* unlockThread;
    FileLogger* fileLogger;  // the process-wide logger; SessionGuardCore::logger points to it
    // Unlock-screen instance: its exit status, kStillLocked until the screen was opened.
    int unlockStatus;
    // The tray instance's decisions; this object is their outside world.
    LockSession session;

protected:
    // The outside world of the session, replaced by the tests.
    bool cameraChosen() override { return !config.cameraName.empty(); }
    bool cameraReady() override { return isCameraAvailable(); }
    bool modelReady() override { return userModelExists(); }
    bool readIdleClock(DWORD& now, DWORD& lastInput) override;
    void armIdleTimer(unsigned delay) override;
    void disarmIdleTimer() override;
    bool screenSaverRunning() override { return screenSaver.isRunning(); }
    void showScreenSaverMessage() override;
    void disableScreenSaver() override { screenSaver.disable(logger); }
    // Creates and starts the presence checker into presenceChecker; false when it cannot start
    // (presenceChecker is then null again).
    bool startPresenceChecker() override;
    bool presenceCheckTimedOut() override;
    void deletePresenceChecker() override;
    // A new unlock thread, which starts the unlock screen and waits for it.
    void startUnlockScreen() override;
    bool lockInProgress() override;
    void awaitUnlockScreen() override;
    void restartUnlockScreen() override;
    bool startAdaptation(const std::string& prefix) override;
    void setTaskLockdown(bool locked) override;
    void enableTray(bool enabled) override;
    void showNotice(const std::string& text, unsigned iconFlags) override;
    // Runs one settings dialog modally into settingsDialog, and deletes it.
    bool runSettingsDialog(int page, bool& cameraChanged) override;

    void logIndentUp();
    void logIndentDown();

private:
    bool initTrayInstance();
    bool initUnlockInstance();
    void bootstrapConfiguration();
    void runRegisterBatch();
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
