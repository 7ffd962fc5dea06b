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
#include "verification/UserInfo.h"

bool SessionGuardApp::readIdleClock(DWORD& now, DWORD& lastInput) { return readSystemIdleClock(now, lastInput); }

void SessionGuardApp::startIdleTimer(unsigned int elapsed) {
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
        showScreenSaverMessage();
        screenSaver.disable();
        startIdleTimer(0);
        return;
    }
    screenSaver.disable();
    if (!checkPresence) {
        if (trayIcon) trayIcon->disable();
        startUnlockThread();
        return;
    }
    setTrayIcon("systrayBusy");
    if (!startPresenceChecker()) {
        setTrayIcon("systray");
        startIdleTimer(0);
        return;
    }
    if (trayIcon) trayIcon->disable();
}

void SessionGuardApp::onPresenceCheckSucceeded(wxCommandEvent&) {
    log("Event: The presence check was successful");
    LogIndent indent(logger);
    log("Destroying the Presence checker...");
    deletePresenceChecker();
    setTrayIcon("systray");
    if (trayIcon) trayIcon->enable();
    startIdleTimer(0);
}

void SessionGuardApp::onPresenceCheckFailed(wxCommandEvent&) {
    log("Event: The presence check failed");
    LogIndent indent(logger);
    log("Destroying the Presence checker...");
    deletePresenceChecker();
    setTrayIcon("systray");
    if (trayIcon) trayIcon->enable();
    lockSession(false);
}

void SessionGuardApp::onSessionUnlocked(wxCommandEvent&) {
    log("Event: Session unlocked");
    LogIndent indent(logger);
    unlockThread = nullptr;
    handleUnlockEnd();
}

// The end of a lock, or a resume outside one: lockdown lifted, then an adaptation on the near miss
// that the unlock screen kept, or back to watching.
void SessionGuardApp::handleUnlockEnd() {
    log("Enabling the Task switching...");
    log("Enabling the Task Manager...");
    setTaskLockdown(false);

    std::string prefix;
    if (vision::UserInfo* record = SessionGuardCore::loadUserInfo("")) {
        prefix = userFolderPath() + "/images/lastface";
        delete record;
    }
    if (!prefix.empty() && fileExists(prefix + ".raw.pgm")) {
        log("Must perform an adaptation of the user model!");
        adaptationRunning = true;
        if (trayIcon)
            trayIcon->showBalloon(kProductConstants[PC_TITLE], "Your model is being adapted...", 10000, 1);
        setTrayIcon("systrayBusy");
        if (startAdaptation(prefix)) return;
        // No thread, so no end of it would ever come: back to watching, the near miss left for the
        // next unlock.
        log("ERROR: Failed to start the adaptation of the model");
        adaptationRunning = false;
        setTrayIcon("systray");
    }
    if (trayIcon) trayIcon->enable();
    startIdleTimer(0);
}

void SessionGuardApp::onModelThreadDone(wxCommandEvent& event) {
    const bool built = event.GetInt() == MODEL_BUILT;
    if (adaptationRunning) {
        log("Event: Adaptation of the model done");
        LogIndent indent(logger);
        if (!built) log("ERROR: The adaptation of the model failed, the previous model is kept");
        if (trayIcon)
            trayIcon->showBalloon(kProductConstants[PC_TITLE],
                                  built ? "The adaptation of the model is done!"
                                        : "The adaptation of the model failed, your previous model is kept.",
                                  10000, built ? NIIF_INFO : NIIF_ERROR);
        setTrayIcon("systray");
        if (trayIcon) trayIcon->enable();
        adaptationRunning = false;
        startIdleTimer(0);
    } else if (settingsDialog) {
        settingsDialog->onEnrollmentDone(built);
    }
}

void SessionGuardApp::onSuspend() {
    log("Suspending the application...");
    LogIndent indent(logger);
    if (unlockThread) {
        UnlockThread::unlockManuallyIfRunning(unlockThread);
    } else {
        stopIdleTimer();
    }
}

void SessionGuardApp::onResume() {
    log("Resuming the application...");
    LogIndent indent(logger);
    if (unlockThread) {
        UnlockThread::unlockManuallyIfRunning(unlockThread);
        return;
    }
    // A presence check, an adaptation or the settings dialog re-arms the watching when it ends;
    // handling the resume beside it would start a second activity.
    if (presenceChecker || adaptationRunning || settingsDialog) return;
    handleUnlockEnd();
}

void SessionGuardApp::toggleEnabled() {
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
    settingsDialog = new SettingsDialog(nullptr, page);
    const int result = settingsDialog->ShowModal();
    cameraChanged = settingsDialog->isCameraChanged();
    return result;
}

void SessionGuardApp::showSettingsDialog(int page) {
    log("Displaying 'Settings' dialog...");
    LogIndent indent(logger);
    stopIdleTimer();
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
