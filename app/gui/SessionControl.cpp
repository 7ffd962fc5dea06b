// Session control of the tray instance: the idle timer, the presence check, the lock and its end,
// the adaptation after an unlock, suspend and resume, the settings loop and the default camera.
#include <wx/msgdlg.h>

#include "app/capture/Notifications.h"
#include "app/capture/PresenceChecker.h"
#include "app/capture/TestGraphManager.h"
#include "app/capture/WallClock.h"
#include "app/core/EnrollmentThread.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionLockdown.h"
#include "app/gui/SessionGuardApp.h"
#include "app/gui/SettingsDialog.h"
#include "app/gui/TrayIcon.h"
#include "app/gui/UnlockThread.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "src/Logger.h"

bool SessionGuardApp::readIdleClock(DWORD& now, DWORD& lastInput) { return readSystemIdleClock(now, lastInput); }

void SessionGuardApp::startIdleTimer(unsigned int elapsed) {
    // Never beside a check, a lock, an adaptation or the settings dialog.
    if (sessionState != SessionState::Idle) return;
    if (!(cameraReady() && modelReady() && enabled)) return;
    if (!idleTimer) {
        log("Creating the idle timer...");
        idleTimer = new wxTimer(this, 1);
    }
    const unsigned int delay = config.idleDelay - elapsed;
    log("Starting the idle timer with a delay of " + std::to_string(delay) + "ms...");
    idleTimer->Start(static_cast<int>(delay), wxTIMER_ONE_SHOT);
}

void SessionGuardApp::stopIdleTimer() {
    if (!idleTimer) return;
    log("Stopping the idle timer...");
    idleTimer->Stop();
}

void SessionGuardApp::onIdleTimeout(wxTimerEvent&) {
    if (sessionState != SessionState::Idle) return;  // a firing that was already queued
    if (!cameraReady()) {
        log("Event: Idle timeout");
        LogIndent indent(logger);
        log("ERROR: No camera selected");
        stopIdleTimer();
        setTrayIcon("systrayDisabled");
        return;
    }
    DWORD now = 0, lastInput = 0;
    if (!readIdleClock(now, lastInput)) {
        log("Event: Idle timeout");
        LogIndent indent(logger);
        log("Failed to retrieve the time of the last user input");
        startIdleTimer(0);
        return;
    }
    const DWORD idle = now - lastInput;  // unsigned: a wrap of the tick count does no harm
    if (idle < config.idleDelay) {
        startIdleTimer(idle);
        return;
    }
    log("Event: Idle timeout");
    LogIndent indent(logger);
    log("The system is idle since " + std::to_string(idle) + "ms (the limit is " + std::to_string(config.idleDelay) +
        "ms), locking the session...");
    lockSession(true);
}

void SessionGuardApp::showScreenSaverMessage() {
    const wxString product = kProductConstants[PC_PRODUCT];
    wxMessageBox(wxString::Format("%s deactivated your screen saver at startup, because it could interfere with its "
                                  "own session managment. You should not reactivate it manually (or modify its "
                                  "settings) while %s is running. It will be reactivated when %s exits.",
                                  product, product, product),
                 "Screen saver running", wxOK | wxICON_ERROR, nullptr);
}

bool SessionGuardApp::startPresenceChecker() {
    presenceChecker = new PresenceChecker();
    if (presenceChecker->start()) return true;
    delete presenceChecker;
    presenceChecker = nullptr;
    return false;
}

void SessionGuardApp::deletePresenceChecker() {
    delete presenceChecker;
    presenceChecker = nullptr;
}

void SessionGuardApp::startUnlockThread() {
    unlockThread = new UnlockThread();
    unlockThread->Create();
    unlockThread->Run();
}

bool SessionGuardApp::startAdaptation(const std::string& prefix) { return EnrollmentThread::start(prefix, true); }

void SessionGuardApp::setTaskLockdown(bool locked) {
    setTaskSwitching(!locked);
    setTaskManager(!locked);
}

void SessionGuardApp::lockSession(bool checkPresence) {
    // One activity at a time: Alt+L, the menu or a timer firing during a check, a lock, an
    // adaptation, the settings dialog or the screen-saver box does nothing.
    if (sessionState != SessionState::Idle) return;
    log(checkPresence ? "Checking the presence of the user..." : "Locking the session...");
    LogIndent indent(logger);
    stopIdleTimer();
    if (!cameraReady()) {
        log("WARNING: The camera isn't available anymore");
        startIdleTimer(0);
        return;
    }
    if (screenSaverRunning()) {
        log("WARNING: The screensaver is running, tell the user about it");
        sessionState = SessionState::Checking;  // the box runs a loop of its own
        showScreenSaverMessage();
        sessionState = SessionState::Idle;
        screenSaver.disable();
        startIdleTimer(0);
        return;
    }
    screenSaver.disable();
    if (!checkPresence) {
        sessionState = SessionState::Locked;
        if (trayIcon) trayIcon->disable();
        startUnlockThread();
        return;
    }
    setTrayIcon("systrayBusy");
    sessionState = SessionState::Checking;
    if (!startPresenceChecker()) {
        sessionState = SessionState::Idle;
        setTrayIcon("systray");
        startIdleTimer(0);
        return;
    }
    if (trayIcon) trayIcon->disable();
}

void SessionGuardApp::onPresenceCheckSucceeded(wxCommandEvent&) { endPresenceCheck(true); }

void SessionGuardApp::onPresenceCheckFailed(wxCommandEvent&) { endPresenceCheck(false); }

void SessionGuardApp::endPresenceCheck(bool passed) {
    if (sessionState != SessionState::Checking) return;
    log(passed ? "Event: The presence check was successful" : "Event: The presence check failed");
    LogIndent indent(logger);
    log("Destroying the Presence checker...");
    deletePresenceChecker();
    sessionState = SessionState::Idle;
    setTrayIcon("systray");
    if (trayIcon) trayIcon->enable();
    if (passed)
        startIdleTimer(0);
    else
        lockSession(false);
}

// Posted by the unlock thread only after the screen was opened, with the unlock status.
void SessionGuardApp::onSessionUnlocked(wxCommandEvent& event) {
    if (sessionState != SessionState::Locked) return;
    log("Event: Session unlocked");
    LogIndent indent(logger);
    unlockThread = nullptr;
    log("Enabling the Task switching...");
    log("Enabling the Task Manager...");
    setTaskLockdown(false);

    // Only a password confirms that the near miss was the user's face.
    const std::string prefix = nearMissPrefix();
    if (event.GetInt() == kUnlockedByPassword && !prefix.empty() && fileExists(prefix + ".raw.pgm")) {
        log("Must perform an adaptation of the user model!");
        sessionState = SessionState::Adapting;
        adaptationRunning = true;
        showBalloon(kProductConstants[PC_TITLE], "Your model is being adapted...", 10000, 1);
        setTrayIcon("systrayBusy");
        if (startAdaptation(prefix)) return;
        // No thread, so no end of it would ever come: back to watching.
        log("ERROR: Failed to start the adaptation of the model");
        adaptationRunning = false;
        setTrayIcon("systray");
    }
    deleteNearMiss();
    watchAgain();
}

bool SessionGuardApp::awaitLockInProgress() {
    if (!UnlockThread::lockInProgress()) return false;
    log("A lock is in progress, waiting for its end...");
    sessionState = SessionState::Locked;
    if (trayIcon) trayIcon->disable();
    unlockThread = new UnlockThread(true);
    unlockThread->Create();
    unlockThread->Run();
    return true;
}

void SessionGuardApp::watchAgain() {
    sessionState = SessionState::Idle;
    if (trayIcon) trayIcon->enable();
    startIdleTimer(0);
}

void SessionGuardApp::onModelThreadDone(wxCommandEvent& event) {
    const bool built = event.GetInt() == MODEL_BUILT;
    if (sessionState == SessionState::Adapting) {
        log("Event: Adaptation of the model done");
        LogIndent indent(logger);
        if (!built) log("ERROR: The adaptation of the model failed, the previous model is kept");
        showBalloon(kProductConstants[PC_TITLE],
                    built ? "The adaptation of the model is done!"
                          : "The adaptation of the model failed, your previous model is kept.",
                    10000, built ? NIIF_INFO : NIIF_ERROR);
        setTrayIcon("systray");
        adaptationRunning = false;
        watchAgain();
    } else if (settingsDialog) {
        settingsDialog->onEnrollmentDone(built);
    }
}

// During a lock a suspend or resume only gives the user a fresh unlock screen (its camera is
// opened again); the lock itself stays until a face or a password opens it.
void SessionGuardApp::onSuspend() {
    log("Suspending the application...");
    LogIndent indent(logger);
    if (sessionState == SessionState::Locked) {
        if (unlockThread) UnlockThread::restartUnlockScreenIfRunning(unlockThread);
    } else if (sessionState == SessionState::Idle) {
        stopIdleTimer();
    }
}

void SessionGuardApp::onResume() {
    log("Resuming the application...");
    LogIndent indent(logger);
    if (sessionState == SessionState::Locked) {
        if (unlockThread) UnlockThread::restartUnlockScreenIfRunning(unlockThread);
        return;
    }
    // A presence check, an adaptation or the settings dialog re-arms the watching when it ends;
    // handling the resume beside it would start a second activity.
    if (sessionState != SessionState::Idle) return;
    log("Enabling the Task switching...");
    log("Enabling the Task Manager...");
    setTaskLockdown(false);
    // No lock was opened by a password here: a near miss lying about is not adapted.
    deleteNearMiss();
    watchAgain();
}

void SessionGuardApp::toggleEnabled() {
    if (sessionState != SessionState::Idle) return;
    enabled = !enabled;
    if (enabled) {
        log("Enabling the application...");
        LogIndent indent(logger);
        setTrayIcon("systray");
        startIdleTimer(0);
    } else {
        log("Disabling the application...");
        LogIndent indent(logger);
        setTrayIcon("systrayDisabled");
        stopIdleTimer();
    }
}

int SessionGuardApp::runSettingsDialog(int page, bool& cameraChanged) {
    settingsDialog = new SettingsDialog(*this, nullptr, page);
    const int result = settingsDialog->ShowModal();
    cameraChanged = settingsDialog->isCameraChanged();
    return result;
}

void SessionGuardApp::showSettingsDialog(int page) {
    if (sessionState != SessionState::Idle) return;
    log("Displaying 'Settings' dialog...");
    LogIndent indent(logger);
    stopIdleTimer();
    sessionState = SessionState::Settings;
    if (trayIcon) trayIcon->disable();
    for (;;) {
        bool cameraChanged = false;
        const int result = runSettingsDialog(page, cameraChanged);
        bool again = false;
        if (result == wxID_OK && !adaptationRunning) {
            const bool camera = cameraReady();
            if (cameraChanged || (camera && !modelReady())) {
                log("Dialog closed, but the user model isn't created");
                const std::string model = SessionGuardCore::userModelPath();
                if (!model.empty()) DeleteFileA(model.c_str());
                if (camera) page = 0;
                again = true;
            }
        }
        if (settingsDialog) {
            delete settingsDialog;
            settingsDialog = nullptr;
        }
        if (!again) break;
    }
    settingsDialog = nullptr;
    sessionState = SessionState::Idle;
    if (trayIcon) trayIcon->enable();
    if (enabled) {
        setTrayIcon(cameraReady() && modelReady() ? "systray" : "systrayDisabled");
        startIdleTimer(0);
    }
}

bool SessionGuardApp::selectDefaultCamera() {
    log("Selecting the default camera...");
    LogIndent indent(logger);
    TestGraphManager test(logger);
    const std::vector<std::string> devices = test.enumerateVideoCaptureDevices();
    for (const std::string& name : devices) {
        if (!test.testResolution(name, config.getFormatWidth(), config.getFormatHeight())) continue;
        config.cameraName = name;
        config.save(configFilePath());
        const std::string model = SessionGuardCore::userModelPath();
        if (!model.empty() && !keepModelOnCameraChoice) DeleteFileA(model.c_str());
        log("Default camera selected");
        return true;
    }
    return false;
}
